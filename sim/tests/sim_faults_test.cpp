// The line faults of the simulator as a client on a real line sees them:
// echoes, cuts halfway through a frame, resets, noise, dripping bytes and
// changed bytes, on a pseudo-terminal and over TCP loopback.
#include <gtest/gtest.h>

#include <string>

#include "platform/pty.h"
#include "platform/sys.h"
#include "sim/Frames.h"
#include "sim/Simulator.h"
#include "sim/tests/sim_test_util.h"

namespace {

using simtest::ReadFor;

enum class Wire { Pty, Tcp };

const char* WireName(Wire w) { return w == Wire::Pty ? "pty" : "tcp"; }


// A client holding the line: the pty opened as a serial port and set raw,
// or a TCP connection.
int Open(const sim::Simulator& s, Wire wire, bool waitPeer = true) {
    int h = platform::kNoHandle;
    if (wire == Wire::Pty) {
        h = platform::TtyOpen(s.DevicePath());
        EXPECT_NE(platform::kNoHandle, h);
        EXPECT_TRUE(platform::TtyHoldExclusively(h));
        EXPECT_TRUE(platform::TtySetRaw(h));
    } else {
        h = platform::TcpConnect(s.TcpPort(), 1000);
        EXPECT_NE(platform::kNoHandle, h);
    }
    if (waitPeer) {
        EXPECT_TRUE(s.WaitPeer(1000));
    }
    return h;
}

bool Start(sim::Simulator& s, Wire wire) { return wire == Wire::Pty ? s.StartPty() : s.StartTcp(); }

const std::string kCasRequest("\x05\x11", 2);

class SimFaults : public ::testing::TestWithParam<Wire> {};

TEST_P(SimFaults, ShapeTheAnswerToARequest) {
    const Wire wire = GetParam();
    const std::string frame = sim::EncodeFrame(13, simtest::Show(1.234));
    ASSERT_EQ(16u, frame.size());
    const std::string half = frame.substr(0, frame.size() / 2);
    const struct {
        const char* name;
        sim::Fault fault;
        int param;
        std::string expected;  // everything the client reads, in order
        bool cut;              // the line ends after it
        int frames;            // frames written in full
    } cases[] = {
        {"echo", sim::Fault::Echo, 0, kCasRequest + frame, false, 1},
        {"loopback", sim::Fault::Loopback, 0, kCasRequest, false, 0},
        {"half then hang-up", sim::Fault::HalfThenHangUp, 0, half, true, 0},
        {"drip", sim::Fault::Drip, 0, frame, false, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Simulator s(13);
        s.SetWeight(1.234);
        s.SetFault(c.fault, c.param);
        ASSERT_TRUE(Start(s, wire));
        int h = Open(s, wire);
        const uint64_t start = platform::MonotonicMs();
        ASSERT_EQ(2, platform::IoWrite(h, kCasRequest.data(), kCasRequest.size()));
        bool closed = false;
        // One byte more than expected: nothing further may come.
        const std::string got = ReadFor(h, c.expected.size() + 1, c.fault == sim::Fault::Drip ? 2000 : 300, &closed);
        const uint64_t took = platform::MonotonicMs() - start;
        EXPECT_EQ(simtest::Hex(c.expected), simtest::Hex(got));
        // A raw pty reads an empty line as its end: only TCP tells a cut.
        if (wire == Wire::Tcp) {
            EXPECT_EQ(c.cut, closed);
        }
        EXPECT_EQ(c.cut ? 1 : 0, s.HangUps());
        EXPECT_EQ(c.frames, s.FramesSent());
        EXPECT_EQ(1, s.RequestsSeen());  // an echoing line still hears the request
        EXPECT_EQ(c.fault, s.CurrentFault());  // these faults stay
        if (c.fault == sim::Fault::Drip) {
            EXPECT_GE(took, 15u * 60u * 8u / 10u);  // 15 gaps of 60 ms
        }
        platform::IoClose(h);
        if (!c.cut) continue;
        // The fault stays: the next client gets half a frame again.
        h = Open(s, wire);
        ASSERT_EQ(2, platform::IoWrite(h, kCasRequest.data(), kCasRequest.size()));
        EXPECT_EQ(simtest::Hex(half), simtest::Hex(ReadFor(h, half.size() + 1, 1000, &closed)));
        if (wire == Wire::Tcp) {
            EXPECT_TRUE(closed);
        }
        EXPECT_EQ(2, s.HangUps());
        platform::IoClose(h);
    }
}

TEST_P(SimFaults, ChangedByteChangesExactlyOneByteOfEachFrame) {
    const Wire wire = GetParam();
    const std::string frame = sim::EncodeFrame(13, simtest::Show(1.234));
    for (int param : {0, 9}) {
        SCOPED_TRACE(param);
        sim::Simulator s(13);
        s.SetWeight(1.234);
        s.SetFault(sim::Fault::ChangedByte, param);
        ASSERT_TRUE(Start(s, wire));
        int h = Open(s, wire);
        for (int round = 0; round < 20; ++round) {
            ASSERT_EQ(2, platform::IoWrite(h, kCasRequest.data(), kCasRequest.size()));
            const std::string got = ReadFor(h, frame.size(), 1000);
            ASSERT_EQ(frame.size(), got.size());
            int changed = 0, at = -1;
            for (size_t i = 0; i < frame.size(); ++i) {
                if (got[i] != frame[i]) {
                    ++changed;
                    at = static_cast<int>(i);
                }
            }
            EXPECT_EQ(1, changed) << simtest::Hex(got);
            if (param > 0) {
                EXPECT_EQ(param - 1, at);
            }
        }
        platform::IoClose(h);
    }
}

TEST_P(SimFaults, NoiseFlowsAtTheLinePaceInsteadOfFrames) {
    const Wire wire = GetParam();
    // 8N1: ten bits a byte. 300 ms at 9600 baud carry about 288 bytes, at
    // 1200 baud about 36.
    size_t fast = 0, slow = 0;
    for (int baud : {9600, 1200}) {
        SCOPED_TRACE(baud);
        sim::Simulator s(13);
        s.SetFault(sim::Fault::Noise, baud == 9600 ? 0 : baud);  // 9600 is the default
        ASSERT_TRUE(Start(s, wire));
        int h = Open(s, wire);
        ReadFor(h, 100000, 50);  // what came before the measurement
        ASSERT_EQ(2, platform::IoWrite(h, kCasRequest.data(), kCasRequest.size()));
        const std::string got = ReadFor(h, 100000, 300);
        (baud == 9600 ? fast : slow) = got.size();
        EXPECT_LE(got.size(), baud * 300u / 10u / 1000u * 3u / 2u);  // never faster than the line
        EXPECT_TRUE(s.WaitReceived(1, 1000));
        EXPECT_EQ(1, s.RequestsSeen());
        EXPECT_EQ(0, s.FramesSent());  // noise instead of the frame
        platform::IoClose(h);
    }
    EXPECT_GT(fast, 100u);
    EXPECT_GT(slow, 5u);
    EXPECT_GT(fast, 3 * slow);
}

INSTANTIATE_TEST_SUITE_P(Lines, SimFaults, ::testing::Values(Wire::Pty, Wire::Tcp),
                         [](const testing::TestParamInfo<Wire>& info) { return std::string(WireName(info.param)); });

TEST(SimTcpFaults, ResetEndsTheConnectionAbortivelyHalfwayThroughAFrame) {
    // After an orderly end the client may still write once; after a reset
    // its write fails at once. Either way it gets no more than half a frame.
    const std::string frame = sim::EncodeFrame(13, simtest::Show(1.234));
    for (sim::Fault fault : {sim::Fault::Reset, sim::Fault::HalfThenHangUp}) {
        const bool reset = fault == sim::Fault::Reset;
        SCOPED_TRACE(reset ? "reset" : "half then hang-up");
        sim::Simulator s(13);
        s.SetWeight(1.234);
        s.SetFault(fault);
        ASSERT_TRUE(s.StartTcp());
        int h = Open(s, Wire::Tcp);
        ASSERT_EQ(2, platform::IoWrite(h, kCasRequest.data(), kCasRequest.size()));
        bool closed = false;
        const std::string got = ReadFor(h, frame.size(), 1000, &closed);
        EXPECT_TRUE(closed);
        EXPECT_LE(got.size(), frame.size() / 2);
        EXPECT_EQ(frame.substr(0, got.size()), got);
        EXPECT_EQ(1, s.HangUps());
        const long w = platform::IoWrite(h, "x", 1);
        if (reset) {
            EXPECT_EQ(platform::kIoClosed, w);
        } else {
            EXPECT_EQ(1, w);
        }
        platform::IoClose(h);
    }
}

TEST(SimStreamFaults, AStreamIsCutHalfwayThroughAFrame) {
    // Model 34 talks all the time: half of its first frame, then the cut.
    sim::Simulator s(34);
    s.SetWeight(2.5);
    const std::string frame = s.Frame();
    s.SetFault(sim::Fault::HalfThenHangUp);
    ASSERT_TRUE(s.StartTcp());
    int h = Open(s, Wire::Tcp, /*waitPeer=*/false);  // the stream starts, and ends, at once
    bool closed = false;
    EXPECT_EQ(simtest::Hex(frame.substr(0, frame.size() / 2)), simtest::Hex(ReadFor(h, frame.size(), 1000, &closed)));
    EXPECT_TRUE(closed);
    EXPECT_EQ(1, s.HangUps());
    EXPECT_EQ(0, s.FramesSent());
    platform::IoClose(h);
}

TEST(SimStreamFaults, LoopbackAndNoiseSilenceAStream) {
    for (sim::Fault fault : {sim::Fault::Loopback, sim::Fault::Noise}) {
        SCOPED_TRACE(fault == sim::Fault::Loopback ? "loopback" : "noise");
        sim::Simulator s(34);
        s.SetWeight(2.5);
        s.SetStreamGapMs(0);
        s.SetFault(fault);
        ASSERT_TRUE(s.StartTcp());
        int h = Open(s, Wire::Tcp);
        ReadFor(h, 100000, 300);
        EXPECT_EQ(0, s.FramesSent());
        platform::IoClose(h);
    }
}

}  // namespace
