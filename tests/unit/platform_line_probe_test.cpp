// Why a line does not open, on real objects: missing names, files that are
// no serial port, pseudo-terminals free, held by a line and closed to this
// user, and TCP ports on loopback that listen or refuse.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/line_probe.h"
#include "platform/net.h"
#include "platform/serial.h"
#include "platform/sys.h"
#ifndef _WIN32
#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "platform/pty.h"
#endif

namespace {

using platform::LineFault;

TEST(LineProbe, TcpOnLoopback) {
    ASSERT_TRUE(platform::NetStartup());
    uint16_t listening = 0, closed = 0;
    const platform::SocketHandle listener = platform::ListenLoopback(0, &listening);
    ASSERT_NE(listener, platform::kInvalidSocket);
#ifndef _WIN32
    // A port bound and never listened on: it refuses, and no other program
    // can take it while the test holds it.
    const int bound = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(bound, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(bind(bound, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(getsockname(bound, reinterpret_cast<sockaddr*>(&address), &size), 0);
    closed = ntohs(address.sin_port);
#else
    // A port that was just bound and let go: nothing listens there now.
    const platform::SocketHandle gone = platform::ListenLoopback(0, &closed);
    ASSERT_NE(gone, platform::kInvalidSocket);
    platform::CloseSocket(gone);
#endif

    struct Case {
        const char* host;
        uint16_t port;
        LineFault fault;
    };
    const Case cases[] = {
        {"127.0.0.1", listening, LineFault::kNone},
        {"127.0.0.1", closed, LineFault::kRefused},
        {"", listening, LineFault::kNoSuchHost},
    };
    for (const Case& c : cases) {
        const uint64_t start = platform::MonotonicMs();
        const platform::LineProbe p = platform::ProbeTcpHost(c.host, c.port, 3000);
        EXPECT_EQ(p.fault, c.fault) << c.host << ":" << c.port << " " << platform::LineFaultName(p.fault) << " "
                                    << p.detail;
        // Loopback answers at once, either way.
        EXPECT_LT(platform::MonotonicMs() - start, 2500u) << c.host << ":" << c.port;
    }
    platform::CloseSocket(listener);
#ifndef _WIN32
    close(bound);
#endif
    platform::NetCleanup();
}

#ifndef _WIN32

// Runs `probe` as the user nobody, in a child, when this process is root
// (root opens whatever the modes say); the fault it found.
LineFault AsUnprivileged(const std::function<platform::LineProbe()>& probe, std::string* group) {
    if (geteuid() != 0) {
        const platform::LineProbe p = probe();
        *group = p.group;
        return p.fault;
    }
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return LineFault::kOther;
    const pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        const platform::LineProbe p = probe();
        const std::string message = std::to_string(static_cast<int>(p.fault)) + " " + p.group;
        ssize_t written = write(pipeEnds[1], message.data(), message.size());
        _exit(written == static_cast<ssize_t>(message.size()) ? 0 : 3);
    }
    close(pipeEnds[1]);
    std::string message;
    char buffer[256];
    ssize_t n;
    while ((n = read(pipeEnds[0], buffer, sizeof buffer)) > 0) message.append(buffer, static_cast<size_t>(n));
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || message.empty()) return LineFault::kOther;
    const size_t space = message.find(' ');
    *group = space == std::string::npos ? std::string() : message.substr(space + 1);
    return static_cast<LineFault>(std::stoi(message.substr(0, space)));
}

TEST(LineProbe, SerialNames) {
    const std::string dir = platform::MakePrivateTempDir("zel-probe-");
    ASSERT_FALSE(dir.empty());
    const std::string plain = dir + "/plain";
    std::ofstream(plain) << "x";

    std::string slaveFree, slaveHeld, slaveClosed;
    const int masterFree = platform::PtyOpenMaster(&slaveFree);
    const int masterHeld = platform::PtyOpenMaster(&slaveHeld);
    const int masterClosed = platform::PtyOpenMaster(&slaveClosed);
    ASSERT_GE(masterFree, 0);
    ASSERT_GE(masterHeld, 0);
    ASSERT_GE(masterClosed, 0);
    // Held as the driver holds a line: exclusive and locked.
    platform::SerialLine held;
    ASSERT_TRUE(held.Open(slaveHeld.c_str()));
    ASSERT_EQ(chmod(slaveClosed.c_str(), 0), 0);

    struct Case {
        std::string name;
        LineFault fault;
    };
    const Case cases[] = {
        {dir + "/missing", LineFault::kNoSuchPort},
        {dir + "/no-such-dir/ttyUSB0", LineFault::kNoSuchPort},
        {plain + "/below-a-file", LineFault::kNoSuchPort},
        {"", LineFault::kNoSuchPort},
        {plain, LineFault::kNotSerial},
        {dir, LineFault::kNotSerial},
        {"/dev/null", LineFault::kNotSerial},  // a character device, no terminal
        {slaveFree, LineFault::kNone},
        {slaveHeld, LineFault::kBusy},
    };
    for (const Case& c : cases) {
        const platform::LineProbe p = platform::ProbeSerialPort(c.name);
        EXPECT_EQ(p.fault, c.fault) << "'" << c.name << "': " << platform::LineFaultName(p.fault) << " " << p.detail;
    }
    // The probe leaves a free line free and a held one held.
    EXPECT_EQ(platform::ProbeSerialPort(slaveFree).fault, LineFault::kNone);
    platform::SerialLine second;
    EXPECT_FALSE(second.Open(slaveHeld.c_str()));

    // Closed to this user: denied, with the device's group to join. As
    // root the probe runs as nobody in a child.
    struct stat st;
    ASSERT_EQ(stat(slaveClosed.c_str(), &st), 0);
    const group* owner = getgrgid(st.st_gid);
    std::string group;
    EXPECT_EQ(AsUnprivileged([&] { return platform::ProbeSerialPort(slaveClosed); }, &group), LineFault::kDenied);
    EXPECT_EQ(group, owner && owner->gr_name ? owner->gr_name : "");

    held.Close();
    EXPECT_EQ(platform::ProbeSerialPort(slaveHeld).fault, LineFault::kNone) << "a released line is free";
    platform::IoClose(masterFree);
    platform::IoClose(masterHeld);
    platform::IoClose(masterClosed);
    std::remove(plain.c_str());
    rmdir(dir.c_str());
}

#endif

}  // namespace
