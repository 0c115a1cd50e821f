// The simulator on real lines: a pseudo-terminal opened as a client opens a
// serial port, and TCP loopback.
#include <gtest/gtest.h>

#include <string>

#include "platform/pty.h"
#include "platform/sys.h"
#include "sim/Frames.h"
#include "sim/Simulator.h"
#include "sim/tests/sim_test_util.h"

namespace {

using simtest::ReadFor;


void Write(int h, const std::string& bytes) {
    ASSERT_EQ(static_cast<long>(bytes.size()), platform::IoWrite(h, bytes.data(), bytes.size()));
}

// A client of the pty: opened like a serial port, then switched to raw.
int OpenClient(const sim::Simulator& s) {
    int h = platform::TtyOpen(s.DevicePath());
    EXPECT_NE(platform::kNoHandle, h);
    EXPECT_TRUE(platform::TtyHoldExclusively(h));
    EXPECT_TRUE(platform::TtySetRaw(h));
    EXPECT_TRUE(s.WaitPeer(1000));
    return h;
}

int ConnectClient(const sim::Simulator& s) {
    int h = platform::TcpConnect(s.TcpPort(), 1000);
    EXPECT_NE(platform::kNoHandle, h);
    EXPECT_TRUE(s.WaitPeer(1000));
    return h;
}

TEST(SimPty, CasRequestWithSplitSendGetsOneFrame) {
    sim::Simulator s(13);
    s.SetWeight(1.234);
    ASSERT_TRUE(s.StartPty());
    EXPECT_FALSE(s.PeerReady());
    int h = platform::TtyOpen(s.DevicePath());
    ASSERT_NE(platform::kNoHandle, h);
    EXPECT_TRUE(platform::TtyHoldExclusively(h));
    EXPECT_TRUE(platform::TtyIsCooked(h));  // the client must set raw mode itself
    EXPECT_FALSE(s.PeerReady());
    ASSERT_TRUE(platform::TtySetRaw(h));
    ASSERT_TRUE(s.WaitPeer(1000));

    Write(h, "\x05");
    platform::SleepMs(150);
    EXPECT_EQ("", ReadFor(h, 1, 0));  // ENQ alone is no request
    Write(h, "\x11");
    const std::string reply = ReadFor(h, 16, 1000);
    EXPECT_EQ(std::string("\x06\x01\x02S  1.234kgu\x03\x04", 16), reply);
    EXPECT_EQ(1, s.RequestsSeen());
    EXPECT_EQ("", ReadFor(h, 1, 100));  // one frame per request
    EXPECT_EQ(1, s.FramesSent());
    platform::IoClose(h);
}

TEST(SimPty, BinaryBytesSurviveARawLine) {
    // 0x0D 0x0A in the weight and 0x11 0x13 in the price: a cooked line
    // would translate or swallow them.
    sim::Simulator s(14);
    s.SetWeight(2.573);  // 0x0A0D
    s.SetPrice(48.81);   // 0x1311
    s.SetCost(2.55);     // 0xFF
    ASSERT_TRUE(s.StartPty());
    int h = OpenClient(s);
    Write(h, std::string("\x01\x89", 2));
    const std::string reply = ReadFor(h, 18, 1000);
    EXPECT_EQ(std::string("\x01\x80\xAA\x40\x0D\x0A\x11\x13\x00\x00\xFF\x00\x00\x00\x00\x00\x00\x00", 18), reply);
    platform::IoClose(h);
}

TEST(SimPty, ServesAClientThatClosesAndReopensBetweenRequests) {
    sim::Simulator s(10);
    s.SetWeight(-1.234);
    ASSERT_TRUE(s.StartPty());
    for (int round = 0; round < 3; ++round) {
        int h = OpenClient(s);
        Write(h, "E");
        EXPECT_EQ(std::string("\x2E\xFB", 2), ReadFor(h, 2, 1000)) << round;
        platform::IoClose(h);
        platform::SleepMs(20);
    }
    EXPECT_EQ(3, s.RequestsSeen());
}

TEST(SimPty, HangUpPutsAFreshPtyBehindTheSamePath) {
    sim::Simulator s(13);
    ASSERT_TRUE(s.StartPty());
    const std::string path = s.DevicePath();
    const std::string first = s.SlavePath();
    EXPECT_EQ(first, platform::ReadSymlink(path));
    int h = OpenClient(s);
    s.SetFault(sim::Fault::HangUp);
    Write(h, std::string("\x05\x11", 2));
    bool closed = false;
    EXPECT_EQ("", ReadFor(h, 16, 1000, &closed));
    EXPECT_TRUE(closed);
    EXPECT_EQ(1, s.HangUps());
    EXPECT_EQ(sim::Fault::None, s.CurrentFault());  // once only
    EXPECT_EQ(path, s.DevicePath());
    EXPECT_NE(first, s.SlavePath());
    EXPECT_EQ(s.SlavePath(), platform::ReadSymlink(path));
    platform::IoClose(h);

    h = OpenClient(s);
    EXPECT_TRUE(platform::TtyIsCooked(h) == false);
    Write(h, std::string("\x05\x11", 2));
    EXPECT_EQ(16u, ReadFor(h, 16, 1000).size());
    platform::IoClose(h);
}

TEST(SimPty, StopRemovesTheLinkAndClosesTheLine) {
    sim::Simulator s(5);
    ASSERT_TRUE(s.StartPty());
    const std::string path = s.DevicePath();
    int h = OpenClient(s);
    s.Stop();
    EXPECT_FALSE(s.Running());
    EXPECT_FALSE(platform::FileExists(path));
    EXPECT_EQ("", platform::ReadSymlink(path));
    bool closed = false;
    ReadFor(h, 1, 200, &closed);
    EXPECT_TRUE(closed);
    platform::IoClose(h);
    // A stopped simulator starts again.
    ASSERT_TRUE(s.StartPty());
    EXPECT_FALSE(s.DevicePath().empty());
}

TEST(SimPty, PushesAreDroppedWhileNoClientHoldsTheLine) {
    sim::Simulator s(5);
    ASSERT_TRUE(s.StartPty());
    s.PushReading();
    platform::SleepMs(50);
    EXPECT_EQ(0, s.FramesSent());
    int h = OpenClient(s);
    EXPECT_EQ("", ReadFor(h, 7, 100));  // nothing stale waits for the client
    s.SetWeight(0.25);
    s.PushReading();
    EXPECT_EQ(std::string("\x3C\x00\x00\x02\x50\x03\x3E", 7), ReadFor(h, 7, 1000));
    platform::IoClose(h);
}

TEST(SimPty, EventScaleRecordsAndAppliesCommands) {
    sim::Simulator s(32);
    s.SetWeight(1.5);
    ASSERT_TRUE(s.StartPty());
    int h = OpenClient(s);
    s.PushReading();
    EXPECT_EQ(14u, ReadFor(h, 14, 1000).size());
    const uint64_t before = platform::MonotonicMs();
    Write(h, std::string("\x3C\x00\x41\x3E", 4));
    Write(h, std::string("\x3C\x00\x62\x00\x05\x00\x3E", 7));
    ASSERT_TRUE(s.WaitReceived(2, 1000));
    const auto got = s.Received();
    ASSERT_EQ(2u, got.size());
    EXPECT_EQ(std::string("\x3C\x00\x41\x3E", 4), got[0]);
    EXPECT_EQ(std::string("\x3C\x00\x62\x00\x05\x00\x3E", 7), got[1]);
    EXPECT_DOUBLE_EQ(0.5, s.Tare());  // 500 in grams
    for (const sim::Record& r : s.Log()) {
        if (r.kind != sim::Record::Sent) {
            EXPECT_GE(r.timeMs, before);
        }
    }
    s.PushReading();
    const std::string frame = ReadFor(h, 14, 1000);
    EXPECT_EQ(std::string("\x3D\x00\x00\x01\xF4\x00\x3E", 7), frame.substr(7));
    platform::IoClose(h);
}

TEST(SimTcp, RoundTripAndNextConnection) {
    sim::Simulator s(10);
    s.SetWeight(1.234);
    ASSERT_TRUE(s.StartTcp());
    ASSERT_NE(0, s.TcpPort());
    for (int round = 0; round < 2; ++round) {
        int h = ConnectClient(s);
        Write(h, "E");
        EXPECT_EQ(std::string("\xD2\x04", 2), ReadFor(h, 2, 1000)) << round;
        platform::IoClose(h);
        for (int i = 0; i < 100 && s.PeerReady(); ++i) platform::SleepMs(5);
    }
    EXPECT_EQ(2, s.RequestsSeen());
}

TEST(SimTcp, HangUpClosesTheConnectionAndServesTheNext) {
    sim::Simulator s(14);
    ASSERT_TRUE(s.StartTcp());
    int h = ConnectClient(s);
    s.HangUp();
    bool closed = false;
    ReadFor(h, 1, 1000, &closed);
    EXPECT_TRUE(closed);
    EXPECT_EQ(1, s.HangUps());
    platform::IoClose(h);
    h = ConnectClient(s);
    Write(h, std::string("\x01\x89", 2));
    EXPECT_EQ(18u, ReadFor(h, 18, 1000).size());
    platform::IoClose(h);
}

TEST(SimTcp, CloseAfterReplyEndsEachConnectionAfterItsAnswer) {
    // As a converter that hangs up after every exchange: the whole answer,
    // then the end of the connection; the next connection is served.
    // Pushed readings do not end it.
    sim::Simulator s(10);
    s.SetWeight(1.234);
    s.SetCloseAfterReply(true);
    ASSERT_TRUE(s.StartTcp());
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        int h = ConnectClient(s);
        Write(h, "E");
        bool closed = false;
        EXPECT_EQ(std::string("\xD2\x04", 2), ReadFor(h, 3, 1000, &closed));
        EXPECT_TRUE(closed);
        platform::IoClose(h);
    }
    EXPECT_EQ(3, s.RequestsSeen());
    EXPECT_EQ(3, s.Connections());
    EXPECT_EQ(0, s.HangUps());

    sim::Simulator pushing(22);
    pushing.SetCloseAfterReply(true);
    ASSERT_TRUE(pushing.StartTcp());
    int h = ConnectClient(pushing);
    pushing.PushReading();
    pushing.PushReading();
    bool closed = false;
    EXPECT_EQ(36u, ReadFor(h, 36, 1000, &closed).size());
    EXPECT_FALSE(closed);
    platform::IoClose(h);
}

TEST(SimTcp, FaultsShapeTheAnswer) {
    const std::string frame = sim::EncodeFrame(13, sim::Display());
    const struct {
        const char* name;
        sim::Fault fault;
        int param;
    } cases[] = {
        {"silence", sim::Fault::Silence, 0},
        {"garbage", sim::Fault::Garbage, 40},
        {"broken", sim::Fault::BrokenFrame, 0},
        {"slow", sim::Fault::SlowBytes, 15},
    };
    for (const auto& c : cases) {
        sim::Simulator s(13);
        s.SetFault(c.fault, c.param);
        ASSERT_TRUE(s.StartTcp());
        int h = ConnectClient(s);
        const uint64_t start = platform::MonotonicMs();
        Write(h, std::string("\x05\x11", 2));
        // Read one byte more than expected: nothing further may come.
        const size_t expected = c.fault == sim::Fault::Silence ? 0 : c.fault == sim::Fault::Garbage ? 56 : 16;
        const std::string got = ReadFor(h, expected + 1, c.fault == sim::Fault::SlowBytes ? 600 : 150);
        const uint64_t took = platform::MonotonicMs() - start;
        EXPECT_EQ(1, s.RequestsSeen()) << c.name;
        switch (c.fault) {
        case sim::Fault::Silence:
            EXPECT_EQ("", got) << c.name;
            EXPECT_EQ(0, s.FramesSent());
            break;
        case sim::Fault::Garbage:
            ASSERT_EQ(40 + frame.size(), got.size()) << c.name;
            EXPECT_EQ(std::string::npos, got.substr(0, 40).find('\x06')) << c.name;
            EXPECT_EQ(frame, got.substr(40)) << c.name;
            break;
        case sim::Fault::BrokenFrame:
            EXPECT_EQ(sim::BreakFrame(13, frame), got) << c.name;
            break;
        default:
            EXPECT_EQ(frame, got) << c.name;
            EXPECT_GE(took, 15u * 15u * 8u / 10u) << c.name;  // 15 gaps of 15 ms
            break;
        }
        platform::IoClose(h);
    }
}

TEST(SimTcp, PeriodicPushesAndLatencyStamp) {
    sim::Simulator s(22);
    s.SetWeight(1.234);
    s.SetPrice(25.5);
    ASSERT_TRUE(s.StartTcp());
    int h = ConnectClient(s);
    s.SetPushPeriodMs(40);
    const std::string got = ReadFor(h, 18 * 3, 1000);
    s.SetPushPeriodMs(0);
    ASSERT_EQ(18u * 3, got.size());
    EXPECT_EQ(std::string("\x04\x03\x02\x01\x00\x00\x00\x05\x05\x02\x00\x00\x07\x04\x01\x03\x00\x00", 18),
              got.substr(0, 18));
    EXPECT_GT(s.LastFrameSentMs(), 0u);
    EXPECT_LE(s.LastFrameSentMs(), platform::MonotonicMs());
    // A price command changes what the scale shows.
    Write(h, std::string("\x00\x00\x02\x00\x05\x02\x00\x00\x00", 9));
    ASSERT_TRUE(s.WaitReceived(1, 1000));
    EXPECT_DOUBLE_EQ(2.5, s.Price());
    platform::IoClose(h);
}

TEST(SimLine, StopIsPromptInTheMiddleOfASlowFrame) {
    sim::Simulator s(15);
    s.SetFault(sim::Fault::SlowBytes, 10000);
    ASSERT_TRUE(s.StartTcp());
    int h = ConnectClient(s);
    s.PushReading();
    EXPECT_EQ(1u, ReadFor(h, 1, 1000).size());
    const uint64_t start = platform::MonotonicMs();
    s.Stop();
    EXPECT_LT(platform::MonotonicMs() - start, 5000u);  // not the 10 s gap
    platform::IoClose(h);
}

TEST(SimLine, RefusesWhatItCannotServe) {
    sim::Simulator unknown(20);
    EXPECT_FALSE(unknown.StartPty());
    EXPECT_FALSE(unknown.StartTcp());
    sim::Simulator s(13);
    ASSERT_TRUE(s.StartTcp());
    EXPECT_FALSE(s.StartPty());  // one line at a time
    sim::Simulator other(13);
    EXPECT_FALSE(other.StartTcp(s.TcpPort()));  // port taken
}

}  // namespace
