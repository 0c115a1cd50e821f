// `zelscales detect` on lines with no scale that still bring bytes back: a
// loopback plug (a pseudo-terminal whose other end returns everything), a
// web server that answers anything with an error page, and a line of noise.
// None is named as a scale; each scan says "nothing answered" within the
// bound it printed.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/sys.h"
#include "tests/detect/detect_support.h"
#include "tests/skip_or_fail.h"

using namespace detect_support;

namespace {

// The far end of a line, served on its own thread until destroyed.
class Peer {
public:
    virtual ~Peer() { Stop(); }
    virtual std::string Args() const = 0;  // the tool's options for the line
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }

protected:
    void Run(std::function<void()> body) { thread_ = std::thread(std::move(body)); }
    std::atomic<bool> stop_{false};

private:
    std::thread thread_;
};

// A pseudo-terminal; the master end is served by `serve` every 10 ms: it
// gets what arrived and returns what to write.
class PtyPeer : public Peer {
public:
    explicit PtyPeer(std::function<std::string(const std::string&)> serve) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        slave_ = ptsname(master_);
        fcntl(master_, F_SETFL, O_NONBLOCK);
        Run([this, serve] {
            char buf[4096];
            while (!stop_) {
                pollfd p{master_, POLLIN, 0};
                poll(&p, 1, 10);
                std::string in;
                const ssize_t n = read(master_, buf, sizeof buf);
                if (n > 0) in.assign(buf, static_cast<size_t>(n));
                const std::string out = serve(in);
                if (!out.empty() && write(master_, out.data(), out.size()) < 0) {
                }
            }
        });
    }
    ~PtyPeer() override {
        Stop();
        if (master_ >= 0) close(master_);
    }
    std::string Args() const override { return "--port " + slave_ + " --bauds 9600"; }
    bool Ok() const { return !slave_.empty(); }

private:
    int master_ = -1;
    std::string slave_;
};

// A TCP server on 127.0.0.1 that answers whatever arrives with an HTTP 400
// page and closes the connection, as a web server does.
class HttpErrorPeer : public Peer {
public:
    HttpErrorPeer() {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            listen(listener_, 8) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        port_ = ntohs(a.sin_port);
        Run([this] {
            const std::string page =
                "HTTP/1.1 400 Bad Request\r\nServer: nginx\r\nContent-Type: text/html\r\nContent-Length: 157\r\n"
                "Connection: close\r\n\r\n<html>\r\n<head><title>400 Bad Request</title></head>\r\n<body>\r\n"
                "<center><h1>400 Bad Request</h1></center>\r\n<hr><center>nginx</center>\r\n</body>\r\n</html>\r\n";
            int client = -1;
            while (!stop_) {
                pollfd p{client >= 0 ? client : listener_, POLLIN, 0};
                if (poll(&p, 1, 10) <= 0) continue;
                if (client < 0) {
                    client = accept(listener_, nullptr, nullptr);
                    continue;
                }
                char buf[1024];
                const ssize_t n = read(client, buf, sizeof buf);
                if (n > 0 && send(client, page.data(), page.size(), MSG_NOSIGNAL) < 0) {
                }
                close(client);
                client = -1;
            }
            if (client >= 0) close(client);
        });
    }
    ~HttpErrorPeer() override {
        Stop();
        if (listener_ >= 0) close(listener_);
    }
    std::string Args() const override { return "--host 127.0.0.1 --tcp-port " + std::to_string(port_); }
    bool Ok() const { return port_ != 0; }

private:
    int listener_ = -1;
    int port_ = 0;
};

}  // namespace

TEST(DetectFaultLines, NothingIsNamedOnALineWithoutAScale) {
    const char* tool = std::getenv("ZELSCALES");
    if (!tool || !*tool) ZEL_SKIP_OR_FAIL("ZELSCALES (the zelscales tool) not set");

    // Noise: bursts of 1 to 48 pseudo-random bytes, about every 10 ms, the
    // same every run.
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return static_cast<uint8_t>(seed >> 16);
    };
    PtyPeer loopback([](const std::string& in) { return in; });
    PtyPeer noise([&next](const std::string&) {
        std::string out(1 + next() % 48, '\0');
        for (char& c : out) c = static_cast<char>(next());
        return out;
    });
    HttpErrorPeer web;
    ASSERT_TRUE(loopback.Ok() && noise.Ok() && web.Ok());

    struct Case {
        const char* name;
        const Peer* peer;
        ToolRun run;
    };
    std::vector<Case> cases = {{"loopback plug", &loopback, {}}, {"web server", &web, {}}, {"noise", &noise, {}}};
    // All at once: each waits on its line far more than it computes.
    std::vector<std::thread> threads;
    for (size_t i = 0; i < cases.size(); ++i) {
        Case* c = &cases[i];
        const std::string errPath = "/tmp/zel_detect_fault_" + std::to_string(getpid()) + "_" + std::to_string(i);
        threads.emplace_back([c, tool, errPath] { c->run = RunDetectTool(tool, c->peer->Args(), errPath); });
    }
    for (std::thread& t : threads) t.join();

    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + "\n" + c.run.out + c.run.err);
        EXPECT_EQ(c.run.exit, 1);
        EXPECT_EQ(c.run.out, "");
        EXPECT_NE(c.run.err.find("detect: nothing answered"), std::string::npos);
        const int bound = PrintedBoundSeconds(c.run.err);
        EXPECT_GT(bound, 0);
        EXPECT_LE(ReportedSeconds(c.run.err), bound);
    }
}
