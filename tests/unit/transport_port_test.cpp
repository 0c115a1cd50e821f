// The device port on a real pseudo-terminal, and its traffic log.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>

#include "platform/net.h"
#include "platform/pty.h"
#include "platform/sync.h"
#include "platform/sys.h"
#include "tests/unit/transport_test_util.h"
#include "transport/ZelComLanPort.h"

namespace {

using zeltest::Pty;

// Device IDs unique to this run, so log files never collide.
std::string TestId(const char* what) {
    return std::string("zeltest_") + what + "_" + std::to_string(platform::MonotonicMs());
}

// The traffic-log marker beside the component, present while in scope.
struct TrafficLogOn {
    zeltest::HeldMarker marker{zeltest::InModuleDir("log.txt")};
};

}  // namespace

TEST(ZelComLanPort, SerialStatesAndResults) {
    Pty pty;
    ASSERT_NE(pty.master, platform::kNoHandle);
    CZelComLanPort port;
    char buf[8];
    // No line: nothing read, nothing written, settings only recorded.
    EXPECT_EQ(port.LineState(), 2);
    EXPECT_EQ(port.Open(), 1);  // no mode chosen yet
    EXPECT_EQ(port.Read(buf, sizeof buf), 0);
    EXPECT_EQ(port.Write("x", 1), -1);
    EXPECT_EQ(port.SetBaudRate(9600), -1);
    EXPECT_EQ(port.Settings().baudRate, 9600);
    EXPECT_EQ(port.SetByteSize(7), -1);
    EXPECT_EQ(port.Settings().byteSize, 8);

    // OpenComPort starts from the defaults.
    ASSERT_EQ(port.OpenComPort(pty.slave.c_str()), 0);
    CZelComLanPort::LineSettings s = port.Settings();
    EXPECT_EQ(s.mode, 1);
    EXPECT_EQ(s.baudRate, 4800);
    EXPECT_EQ(s.parity, 0);
    EXPECT_EQ(s.stopBits, 0);
    EXPECT_EQ(port.LineState(), 0);
    EXPECT_EQ(port.Open(), 9);

    struct Case {
        int (CZelComLanPort::*set)(int32_t);
        int32_t value;
        int expected;
    } cases[] = {
        {&CZelComLanPort::SetBaudRate, 9600, 0}, {&CZelComLanPort::SetParity, 2, 0},
        {&CZelComLanPort::SetStopBits, 2, 0},    {&CZelComLanPort::SetByteSize, 7, 0},
        {&CZelComLanPort::SetParity, 0, 0},      {&CZelComLanPort::SetStopBits, 0, 0},
        {&CZelComLanPort::SetParity, 256, -2},  // no byte: never wraps to "none"
    };
    for (const Case& c : cases) {
        if (port.LineState() != 0) {
            ASSERT_EQ(port.OpenComPort(pty.slave.c_str()), 0);
        }
        EXPECT_EQ((port.*c.set)(c.value), c.expected) << c.value;
    }
    // A refused setting closed the line.
    EXPECT_EQ(port.LineState(), 2);
    EXPECT_EQ(port.OpenComPort(pty.slave.c_str()), 0);
    EXPECT_EQ(port.SetBaudRate(0), -2);
    EXPECT_EQ(port.LineState(), 2);
    EXPECT_EQ(port.Settings().baudRate, 0);

    // OpenComPort on an open port closes and reopens it.
    ASSERT_EQ(port.OpenComPort(pty.slave.c_str()), 0);
    EXPECT_EQ(port.OpenComPort(pty.slave.c_str()), 0);
    // Bytes both ways.
    EXPECT_EQ(port.Write("\x05\x11", 2), 2);
    platform::SleepMs(5);
    EXPECT_EQ(platform::IoRead(pty.master, buf, sizeof buf), 2);
    platform::IoWrite(pty.master, "\x0D\x0A", 2);
    ASSERT_TRUE(port.WaitForInput(500));
    EXPECT_EQ(port.Read(buf, sizeof buf), 2);
    EXPECT_EQ(std::string(buf, 2), "\x0D\x0A");
    EXPECT_EQ(port.Close(), 0);
    EXPECT_EQ(port.LineState(), 2);
}

TEST(ZelComLanPort, SerialOpenFailuresAndHangup) {
    struct Case {
        const char* name;
    } cases[] = {{"/dev/zel-no-such-port"}, {nullptr}, {""}};
    for (const Case& c : cases) {
        CZelComLanPort port;
        EXPECT_EQ(port.OpenComPort(c.name), 1);
        EXPECT_EQ(port.LineState(), 2);
    }
    // Exclusive: a second port cannot open a held line.
    Pty pty;
    ASSERT_NE(pty.master, platform::kNoHandle);
    CZelComLanPort first, second;
    ASSERT_EQ(first.OpenComPort(pty.slave.c_str()), 0);
    EXPECT_EQ(second.OpenComPort(pty.slave.c_str()), 1);
    // A line that is hung up: the read fails, the port closes itself and
    // a later open can start again.
    platform::IoClose(pty.master);
    pty.master = platform::kNoHandle;
    char buf[8];
    EXPECT_EQ(first.Read(buf, sizeof buf), 0);
    EXPECT_EQ(first.LineState(), 2);
    EXPECT_FALSE(first.ConnectionLost()) << "a failed serial line is no ended connection";
    EXPECT_EQ(first.Write("x", 1), -1);
}

TEST(ZelComLanPort, WaitForInputWakesWhenBytesArrive) {
    Pty pty;
    ASSERT_NE(pty.master, platform::kNoHandle);
    CZelComLanPort port;
    // No line: a plain sleep.
    uint64_t t0 = platform::MonotonicMs();
    EXPECT_FALSE(port.WaitForInput(30));
    EXPECT_GE(platform::MonotonicMs() - t0, 29u);

    ASSERT_EQ(port.OpenComPort(pty.slave.c_str()), 0);
    t0 = platform::MonotonicMs();
    EXPECT_FALSE(port.WaitForInput(40));
    EXPECT_GE(platform::MonotonicMs() - t0, 39u);

    struct Writer {
        int master;
        std::atomic<uint64_t> sentAt{0};
        static void Run(void* p) {
            auto* w = static_cast<Writer*>(p);
            platform::SleepMs(60);
            w->sentAt = platform::MonotonicMs();
            platform::IoWrite(w->master, "\x02", 1);
        }
    } writer{pty.master};
    // A wait in 50 ms steps would wake about 40 ms after the byte every
    // time; the best of three tries stands a busy machine's stall.
    uint64_t best = UINT64_MAX;
    for (int attempt = 0; attempt < 3; ++attempt) {
        platform::Thread thread;
        ASSERT_TRUE(thread.Start(&Writer::Run, &writer));
        EXPECT_TRUE(port.WaitForInput(1000));
        uint64_t woke = platform::MonotonicMs();
        thread.Join();
        best = std::min(best, woke - writer.sentAt);
        char buf[4];
        EXPECT_EQ(port.Read(buf, sizeof buf), 1);
    }
    EXPECT_LE(best, 25u);  // not the next 50 ms step
}

TEST(ZelComLanPort, WaitForInputSurvivesCloseFromAnotherThread) {
    Pty pty;
    ASSERT_NE(pty.master, platform::kNoHandle);
    CZelComLanPort port;
    ASSERT_EQ(port.OpenComPort(pty.slave.c_str()), 0);
    struct Waiter {
        CZelComLanPort* port;
        std::atomic<bool> stop{false};
        static void Run(void* p) {
            auto* w = static_cast<Waiter*>(p);
            char buf[4];
            while (!w->stop) {
                w->port->WaitForInput(5);
                w->port->Read(buf, sizeof buf);
            }
        }
    } waiter{&port};
    platform::Thread thread;
    ASSERT_TRUE(thread.Start(&Waiter::Run, &waiter));
    for (int i = 0; i < 20; ++i) {
        platform::SleepMs(2);
        port.Close();
        platform::SleepMs(2);
        EXPECT_EQ(port.OpenComPort(pty.slave.c_str()), 0);
    }
    waiter.stop = true;
    thread.Join();
}

// A wait without a bound (a listener on a silent line) ends by what happens
// and by nothing else: bytes, a wake-up, or a Close from another thread,
// which lets the waiter go before it closes the line.
TEST(ZelComLanPort, EndlessWaitEndsByWhatHappens) {
    enum class Act { kBytes, kWake, kClose };
    struct Case {
        const char* name;
        bool tcp;
        Act act;
        platform::WaitOutcome expected;
    } const cases[] = {
        {"pty bytes", false, Act::kBytes, platform::WaitOutcome::kInput},
        {"pty wake", false, Act::kWake, platform::WaitOutcome::kWoken},
        {"pty close", false, Act::kClose, platform::WaitOutcome::kWoken},
        {"tcp bytes", true, Act::kBytes, platform::WaitOutcome::kInput},
        {"tcp wake", true, Act::kWake, platform::WaitOutcome::kWoken},
        {"tcp close", true, Act::kClose, platform::WaitOutcome::kWoken},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Pty pty;
        ASSERT_NE(pty.master, platform::kNoHandle);
        uint16_t tcpPort = 0;
        platform::SocketHandle listener = platform::ListenLoopback(0, &tcpPort);
        ASSERT_NE(listener, platform::kInvalidSocket);
        CZelComLanPort port;
        ASSERT_EQ(c.tcp ? port.OpenTcpPort("127.0.0.1", tcpPort) : port.OpenComPort(pty.slave.c_str()), 0);
        platform::SocketHandle peer = c.tcp ? platform::AcceptWithin(listener, 2000) : platform::kInvalidSocket;
        struct Actor {
            const Case* c;
            CZelComLanPort* port;
            int master;
            platform::SocketHandle peer;
            std::atomic<uint64_t> closeTook{0};
            static void Run(void* p) {
                auto* a = static_cast<Actor*>(p);
                platform::SleepMs(150);  // the waiter is asleep by now
                if (a->c->act == Act::kBytes) {
                    if (a->c->tcp) {
                        platform::SocketSend(a->peer, "\x02", 1);
                    } else {
                        platform::IoWrite(a->master, "\x02", 1);
                    }
                } else if (a->c->act == Act::kWake) {
                    a->port->Wake();
                } else {
                    const uint64_t t0 = platform::MonotonicMs();
                    a->port->Close();
                    a->closeTook = platform::MonotonicMs() - t0;
                }
            }
        } actor{&c, &port, pty.master, peer};
        platform::Thread thread;
        ASSERT_TRUE(thread.Start(&Actor::Run, &actor));
        EXPECT_EQ(port.WaitForInputOrWake(platform::kWaitForever), c.expected);
        thread.Join();
        EXPECT_LT(actor.closeTook.load(), 1000u);
        if (c.act == Act::kClose) {
            EXPECT_EQ(port.LineState(), 2);
            // With no line nothing can come: an endless wait ends at once.
            EXPECT_EQ(port.WaitForInputOrWake(platform::kWaitForever), platform::WaitOutcome::kTimeout);
        }
        // A wake-up raised before the wait is not lost.
        port.Wake();
        EXPECT_EQ(port.SleepOrWake(platform::kWaitForever), platform::WaitOutcome::kWoken);
        if (peer != platform::kInvalidSocket) platform::CloseSocket(peer);
        platform::CloseSocket(listener);
    }
}

TEST(ZelComLanPort, TrafficLogBlocks) {
    Pty pty;
    ASSERT_NE(pty.master, platform::kNoHandle);
    std::string id = TestId("serial");
    std::string path = zeltest::InModuleDir("log_scales_" + id + ".log");
    {
        TrafficLogOn on;
        CZelComLanPort port;
        port.SetLogDeviceId(id.c_str());
        EXPECT_EQ(port.LogPath(), path);
        char buf[64];
        EXPECT_EQ(port.Read(buf, sizeof buf), 0);  // no line: nothing logged
        EXPECT_EQ(port.Write("x", 1), -1);
        EXPECT_EQ(port.LogTraffic("", 0, kTrafficSys), 0);
        EXPECT_FALSE(platform::FileExists(path));

        ASSERT_EQ(port.OpenComPort(pty.slave.c_str()), 0);
        ASSERT_EQ(port.SetBaudRate(9600), 0);
        const std::string reply = "ww 0001.234kg\r\nww 0001.234kg\r\n";
        platform::IoWrite(pty.master, reply.data(), reply.size());
        ASSERT_TRUE(port.WaitForInput(500));
        platform::SleepMs(10);
        ASSERT_EQ(port.Read(buf, sizeof buf), 30);
        port.Close();
    }
    std::string line = "COMPORT: " + pty.slave + ";";
    const std::string rule = "\r\n____________________________________________________________________\r\n";
    const std::string columns = "  N     1  2  3  4  5  6  7  8  9 10   11 12 13 14 15 16 17 18 19 20\r\n\r\n";
    std::string expected =
        rule + "SYS        2020-03-05 14:07:09.042 ---- Bytes:    4 -----\r\n" + line +
        "4800\\None\\8\\1, Handshaking=0, xONxOFF=0\r\n" + columns +
        "00001: 4F 50 45 4E                   |                                  OPEN                \r\n" + rule +
        "IN <<<<<<  2020-03-05 14:07:09.042 ---- Bytes:   30 -----\r\n" + line +
        "9600\\None\\8\\1, Handshaking=0, xONxOFF=0\r\n" + columns +
        "00001: 77 77 20 30 30 30 31 2E 32 33 | 34 6B 67 0D 0A 77 77 20 30 30    ww 0001.234kg..ww 00\r\n"
        "00021: 30 31 2E 32 33 34 6B 67 0D 0A |                                  01.234kg..          \r\n" +
        rule + "SYS        2020-03-05 14:07:09.042 ---- Bytes:    5 -----\r\n" + line +
        "9600\\None\\8\\1, Handshaking=0, xONxOFF=0\r\n" + columns +
        "00001: 43 4C 4F 53 45                |                                  CLOSE               \r\n";
    EXPECT_EQ(zeltest::MaskTrafficTimes(zeltest::ReadAll(path)), expected);
    platform::RemoveFile(path);
}

TEST(ZelComLanPort, TrafficLogSwitches) {
    std::string id = TestId("marker");
    std::string path = zeltest::InModuleDir("log_scales_" + id + ".log");
    // Without the marker at construction nothing is logged, even if it
    // appears later.
    CZelComLanPort before;
    before.SetLogDeviceId(id.c_str());
    {
        TrafficLogOn on;
        EXPECT_EQ(before.OpenComPort("/dev/zel-no-such-port"), 1);
        EXPECT_FALSE(platform::FileExists(path));

        CZelComLanPort port;
        port.SetLogDeviceId(id.c_str());
        EXPECT_EQ(port.OpenComPort("/dev/zel-no-such-port"), 1);
        std::string text = zeltest::ReadAll(path);
        EXPECT_NE(text.find("SYS        "), std::string::npos);
        EXPECT_NE(text.find("COMPORT: /dev/zel-no-such-port;4800\\None\\8\\1, Handshaking=0, xONxOFF=0\r\n"),
                  std::string::npos);
        EXPECT_NE(text.find("    ERROR_OPEN          \r\n"), std::string::npos);
        EXPECT_EQ(text.find("CLOSE"), std::string::npos);

        // A second port on the same file is refused and stops logging; the
        // first goes on.
        CZelComLanPort other;
        other.SetLogDeviceId(id.c_str());
        EXPECT_EQ(other.OpenTcpPort("no-such-scale.invalid", 1), 1);
        EXPECT_EQ(port.OpenTcpPort("no-such-scale.invalid", 70000), 1);
        text = zeltest::ReadAll(path);
        EXPECT_NE(text.find("ETHERNET: no-such-scale.invalid:70000\r\n"), std::string::npos);
        EXPECT_EQ(text.find("ETHERNET: no-such-scale.invalid:1\r\n"), std::string::npos);
    }
    platform::RemoveFile(path);
}

#endif  // _WIN32
