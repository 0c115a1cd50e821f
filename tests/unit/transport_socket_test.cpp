// The TCP line and the device port in Ethernet mode, over loopback.
#include <gtest/gtest.h>

#include <string>

#include "platform/net.h"
#include "platform/sys.h"
#include "transport/ZelComLanPort.h"
#include "transport/ZelSocket.h"

namespace {

// Windows Sockets must be started once per process before any socket.
const bool kNetStarted = platform::NetStartup();

struct Listener {
    platform::SocketHandle handle;
    uint16_t port = 0;
    Listener() { handle = platform::ListenLoopback(0, &port); }
    ~Listener() { platform::CloseSocket(handle); }
};

// A port number where nothing listens: bound once, then released.
uint16_t ClosedPort() {
    Listener l;
    return l.port;
}

class InvalidSocket : public CZelClientSocket {
public:
    InvalidSocket() {
        platform::CloseSocket(handle);
        handle = platform::kInvalidSocket;
    }
};

std::string Drain(platform::SocketHandle peer, size_t want) {
    std::string got;
    uint64_t end = platform::MonotonicMs() + 1000;
    while (got.size() < want && platform::MonotonicMs() < end) {
        if (platform::WaitReadable(peer, 20000) != 1) continue;
        char buf[256];
        long n = platform::SocketReceive(peer, buf, sizeof buf);
        if (n <= 0) break;
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

}  // namespace

TEST(ZelSocket, ConnectResults) {
    ASSERT_TRUE(kNetStarted);
    Listener listener;
    ASSERT_NE(listener.handle, platform::kInvalidSocket);
    uint16_t closed = ClosedPort();
    struct Case {
        const char* host;
        uint16_t port;
        int expected;
    } cases[] = {
        {"127.0.0.1", listener.port, 0},
        {"localhost", listener.port, 0},
        {"127.0.0.1", closed, 2},                 // refused
        {"no-such-scale.invalid", listener.port, -1},
        {"", listener.port, -1},
        {nullptr, listener.port, -1},
    };
    for (const Case& c : cases) {
        CZelClientSocket s;
        uint64_t t0 = platform::MonotonicMs();
        EXPECT_EQ(s.Connect(c.host, c.port), c.expected) << (c.host ? c.host : "(null)") << ":" << c.port;
        EXPECT_LT(platform::MonotonicMs() - t0, 3500u);
        platform::CloseSocket(platform::AcceptWithin(listener.handle, 0));
    }
}

TEST(ZelSocket, ReceiveTakesOnlyWhatIsWaiting) {
    Listener listener;
    CZelClientSocket s;
    ASSERT_EQ(s.Connect("127.0.0.1", listener.port), 0);
    platform::SocketHandle peer = platform::AcceptWithin(listener.handle, 1000);
    ASSERT_NE(peer, platform::kInvalidSocket);
    char buf[13];
    uint64_t t0 = platform::MonotonicMs();
    EXPECT_EQ(s.Receive(buf, sizeof buf), 0);  // nothing waiting: at once
    EXPECT_LT(platform::MonotonicMs() - t0, 500u);
    ASSERT_EQ(platform::SocketSend(peer, "12345", 5), 5);
    ASSERT_TRUE(s.WaitForInput(1000));
    platform::SleepMs(5);
    EXPECT_EQ(s.Receive(buf, sizeof buf), 5);
    EXPECT_EQ(std::string(buf, 5), "12345");
    EXPECT_EQ(s.Send("abc", 3), 3);
    EXPECT_EQ(Drain(peer, 3), "abc");
    platform::CloseSocket(peer);

    InvalidSocket invalid;
    EXPECT_FALSE(invalid.Valid());
    EXPECT_EQ(invalid.Send("x", 1), -1);
    EXPECT_EQ(invalid.Receive(buf, sizeof buf), -1);
}

// An urgent byte from the scale's side is no input for the line: the waits
// for input run their whole time (rather than failing at once over and
// over, which kept a listener spinning), and ordinary bytes that follow
// still end them.
TEST(ZelSocket, UrgentByteNeitherEndsNorFailsTheWaitForInput) {
    Listener listener;
    CZelClientSocket s;
    ASSERT_EQ(s.Connect("127.0.0.1", listener.port), 0);
    platform::SocketHandle peer = platform::AcceptWithin(listener.handle, 1000);
    ASSERT_NE(peer, platform::kInvalidSocket);
    ASSERT_EQ(platform::SocketSendUrgent(peer, "!", 1), 1);
    platform::SleepMs(50);  // let it land

    uint64_t t0 = platform::MonotonicMs();
    EXPECT_EQ(platform::WaitReadable(s.Handle(), 150000), 0);
    EXPECT_GE(platform::MonotonicMs() - t0, 120u);
    t0 = platform::MonotonicMs();
    EXPECT_FALSE(s.WaitForInput(150));
    EXPECT_GE(platform::MonotonicMs() - t0, 120u);
    char buf[8];
    EXPECT_EQ(s.Receive(buf, sizeof buf), 0);

    ASSERT_EQ(platform::SocketSend(peer, "12", 2), 2);
    EXPECT_TRUE(s.WaitForInput(1000));
    platform::SleepMs(5);
    EXPECT_EQ(s.Receive(buf, sizeof buf), 2);
    EXPECT_EQ(std::string(buf, 2), "12");
    platform::CloseSocket(peer);
}

TEST(ZelComLanPort, EthernetOpenReadWriteClose) {
    Listener listener;
    CZelComLanPort port;
    // The port number is taken as 16 bits.
    ASSERT_EQ(port.OpenTcpPort("127.0.0.1", 65536 + listener.port), 0);
    EXPECT_EQ(port.Settings().mode, 2);
    EXPECT_EQ(port.LineState(), 0);
    EXPECT_EQ(port.Open(), 9);
    platform::SocketHandle peer = platform::AcceptWithin(listener.handle, 1000);
    ASSERT_NE(peer, platform::kInvalidSocket);
    EXPECT_EQ(port.Write("\x05", 1), 1);
    EXPECT_EQ(Drain(peer, 1), "\x05");

    // WaitForInput returns as soon as the reply lands.
    platform::SocketSend(peer, "\x06", 1);
    uint64_t t0 = platform::MonotonicMs();
    EXPECT_TRUE(port.WaitForInput(2000));
    EXPECT_LT(platform::MonotonicMs() - t0, 1000u);
    char buf[8];
    EXPECT_EQ(port.Read(buf, sizeof buf), 1);

    // A peer that goes away: a waiter wakes, the read gives 0 and closes
    // the port, so the next request reconnects instead of talking to a dead
    // connection; writing never raises SIGPIPE.
    platform::CloseSocket(peer);
    t0 = platform::MonotonicMs();
    EXPECT_TRUE(port.WaitForInput(2000));
    EXPECT_LT(platform::MonotonicMs() - t0, 1000u);
    EXPECT_EQ(port.Read(buf, sizeof buf), 0);
    EXPECT_EQ(port.LineState(), 2);
    EXPECT_TRUE(port.ConnectionLost()) << "the exchange may connect again at once";
    EXPECT_EQ(port.Write("x", 1), -1);
    // With the line gone a waiter sleeps its time out rather than spinning.
    t0 = platform::MonotonicMs();
    EXPECT_FALSE(port.WaitForInput(30));
    EXPECT_GE(platform::MonotonicMs() - t0, 29u);
    EXPECT_EQ(port.Close(), 0);
    EXPECT_FALSE(port.ConnectionLost());
    // A new connection forgets the loss too.
    EXPECT_EQ(port.Open(), 0);
    platform::SocketHandle again = platform::AcceptWithin(listener.handle, 1000);
    ASSERT_NE(again, platform::kInvalidSocket);
    platform::CloseSocket(again);
    ASSERT_TRUE(port.WaitForInput(2000));
    EXPECT_EQ(port.Read(buf, sizeof buf), 0);
    EXPECT_TRUE(port.ConnectionLost());
    EXPECT_EQ(port.Open(), 0);
    EXPECT_FALSE(port.ConnectionLost());
    platform::CloseSocket(platform::AcceptWithin(listener.handle, 1000));
}

TEST(ZelComLanPort, EthernetOpenFailures) {
    uint16_t closed = ClosedPort();
    struct Case {
        const char* host;
        int32_t port;
    } cases[] = {{"127.0.0.1", closed}, {"no-such-scale.invalid", 20108}, {nullptr, 20108}};
    for (const Case& c : cases) {
        CZelComLanPort port;
        EXPECT_EQ(port.OpenTcpPort(c.host, c.port), 1);
        EXPECT_EQ(port.LineState(), 2);
        EXPECT_EQ(port.Read(nullptr, 0), 0);
        EXPECT_EQ(port.Write("x", 1), -1);
    }
}
