// The simulated Мирвесов and STX-frame scales: frames against byte tables
// written from the wire formats, what they recognise, and the two that
// stream.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/pty.h"
#include "platform/sys.h"
#include "sim/Frames.h"
#include "sim/tests/sim_test_util.h"
#include "sim/Simulator.h"

namespace {

using simtest::Hex;

sim::Display Show(double weight, int decimals = 3, bool stable = true, bool overload = false, double tare = 0) {
    sim::Display d = simtest::Show(weight, decimals, stable, overload);
    d.tare = tare;
    return d;
}

TEST(SimMirvesov, Frames) {
    const struct {
        const char* name;
        int model;
        sim::Display display;
        const char* hex;
    } cases[] = {
        // 02 40 'D' sign, six digits + decimals count, check characters, 03
        {"a9", 7, Show(1.234), "02 40 44 2B 30 30 31 32 33 34 33 31 38 03"},
        {"a9 negative moving", 7, Show(-12.5, 2, false), "02 40 44 2D 30 30 31 32 35 30 32 31 44 03"},
        {"a9 four decimals shown as three", 7, Show(0.12345, 4), "02 40 44 2B 30 30 30 31 32 33 33 31 43 03"},
        {"a9 clamps", 7, Show(5000.0), "02 40 44 2B 39 39 39 39 39 39 33 31 43 03"},
        // 02 41 'D' sign, "000.000", check characters, 03
        {"ds2", 12, Show(1.234), "02 41 44 2B 30 30 31 2E 32 33 34 30 34 03"},
        {"ds2 always three decimals", 12, Show(-0.5, 1), "02 41 44 2D 30 30 30 2E 35 30 30 30 33 03"},
        {"ds2 clamps", 12, Show(1234.5), "02 41 44 2B 39 39 39 2E 39 39 39 30 30 03"},
        // 02 41 'D' sign, right-aligned text, check characters, 03
        {"k9", 38, Show(12.345), "02 41 44 2B 20 31 32 2E 33 34 35 31 31 03"},
        {"k9 negative", 38, Show(-0.25, 2), "02 41 44 2D 20 20 20 30 2E 32 35 31 31 03"},
        // 'w' status, nine characters of signed text, CR LF
        {"a12", 8, Show(1.234), "77 53 20 20 20 20 31 2E 32 33 34 0D 0A"},
        {"a12 negative four decimals", 8, Show(-0.0125, 4, false), "77 55 20 20 2D 30 2E 30 31 32 35 0D 0A"},
        {"a12 integer", 8, Show(150, 0), "77 53 20 20 20 20 20 20 31 35 30 0D 0A"},
        // 02 code|80 status 20, six weight digits, six tare digits, CR
        {"a12eh negative", 31, Show(-1.234, 3, true, false, 0.5),
         "02 AD 02 20 30 30 31 32 33 34 30 30 30 35 30 30 0D"},
        {"a12eh no decimals moving", 31, Show(25, 0, false), "02 AA 08 20 30 30 30 30 32 35 30 30 30 30 30 30 0D"},
        {"a12eh overload", 31, Show(1.5, 4, true, true), "02 AE 04 20 30 31 35 30 30 30 30 30 30 30 30 30 0D"},
        // 02 sign, six digits, decimals count, check characters, 03
        {"a9 continuous negative", 34, Show(-1.234), "02 2D 30 30 31 32 33 34 33 31 41 03"},
        {"a9 continuous overload: dashes", 34, Show(12.5, 1, true, true), "02 2B 2D 2D 2D 2D 2D 2D 31 31 41 03"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.hex, Hex(sim::EncodeFrame(c.model, c.display))) << c.name;
    }
}

TEST(SimMirvesov, BrokenFramesSpoilTheEndMarker) {
    const struct {
        int model;
        size_t offset;
    } cases[] = {{7, 13}, {12, 13}, {38, 13}, {8, 12}, {31, 16}, {34, 11}};
    for (const auto& c : cases) {
        const std::string good = sim::EncodeFrame(c.model, Show(-1.234));
        const std::string bad = sim::BreakFrame(c.model, good);
        ASSERT_EQ(good.size(), bad.size()) << c.model;
        for (size_t i = 0; i < good.size(); ++i) {
            if (i == c.offset)
                EXPECT_NE(good[i], bad[i]) << c.model;
            else
                EXPECT_EQ(good[i], bad[i]) << c.model << " byte " << i;
        }
    }
}

TEST(SimMirvesov, RecognisesRequestsAndCommands) {
    using K = sim::CommandMatcher;
    const struct {
        const char* name;
        int model;
        std::string input;
        std::vector<std::pair<K::Kind, std::string>> expected;
    } cases[] = {
        {"a9 request", 7, std::string("\x02\x40\x44\x00\x04\x03", 6),
         {{K::Request, std::string("\x02\x40\x44\x00\x04\x03", 6)}}},
        {"a9 ignores the ds2 request", 7, "\x02\x41\x44\x30\x35\x03", {{K::Unknown, "\x02\x41\x44\x30\x35\x03"}}},
        {"k9 request", 38, "\x02\x41\x44\x30\x35\x03", {{K::Request, "\x02\x41\x44\x30\x35\x03"}}},
        {"a12 request, tare, zero", 8, "RTZ", {{K::Request, "R"}, {K::Tare, "T"}, {K::Zero, "Z"}}},
        {"a12 noise", 8, "RxZ", {{K::Request, "R"}, {K::Unknown, "x"}, {K::Zero, "Z"}}},
    };
    for (const auto& c : cases) {
        K m(c.model);
        std::vector<K::Message> out;
        for (char ch : c.input) m.Feed(static_cast<uint8_t>(ch), &out);
        m.Flush(&out, true);
        ASSERT_EQ(c.expected.size(), out.size()) << c.name;
        for (size_t i = 0; i < out.size(); ++i) {
            EXPECT_EQ(c.expected[i].first, out[i].kind) << c.name << " #" << i;
            EXPECT_EQ(Hex(c.expected[i].second), Hex(out[i].bytes)) << c.name << " #" << i;
        }
    }
}

TEST(SimMirvesov, ContinuousScalesStreamAndTheA12TakesCommands) {
    EXPECT_TRUE(sim::ModelStreams(31));
    EXPECT_TRUE(sim::ModelStreams(34));
    for (int model : {7, 8, 12, 38}) EXPECT_FALSE(sim::ModelStreams(model)) << model;

    sim::Simulator s(31);
    s.SetWeight(-2.5);
    s.SetStreamGapMs(0);
    ASSERT_TRUE(s.StartTcp());
    int h = platform::TcpConnect(s.TcpPort(), 1000);
    ASSERT_NE(platform::kNoHandle, h);
    const std::string frame = s.Frame();
    std::string got;
    const uint64_t end = platform::MonotonicMs() + 3000;
    while (got.size() < frame.size() * 5 && platform::MonotonicMs() < end) {
        platform::WaitItem item{h, platform::kWaitReadable, 0};
        platform::WaitHandles(&item, 1, 100);
        char buf[256];
        const long n = platform::IoRead(h, buf, sizeof buf);
        if (n < 0) break;
        got.append(buf, static_cast<size_t>(n));
    }
    ASSERT_GE(got.size(), frame.size() * 5);
    for (size_t i = 0; i < 5; ++i) EXPECT_EQ(Hex(frame), Hex(got.substr(i * frame.size(), frame.size()))) << i;
    platform::IoClose(h);
    s.Stop();

    sim::Simulator a12(8);
    a12.SetWeight(1.5);
    ASSERT_TRUE(a12.StartTcp());
    h = platform::TcpConnect(a12.TcpPort(), 1000);
    ASSERT_NE(platform::kNoHandle, h);
    ASSERT_EQ(1, platform::IoWrite(h, "T", 1));
    ASSERT_TRUE(a12.WaitReceived(1, 1000));
    EXPECT_DOUBLE_EQ(0.0, a12.Weight());
    EXPECT_DOUBLE_EQ(1.5, a12.Tare());
    a12.SetWeight(0.75);
    ASSERT_EQ(1, platform::IoWrite(h, "Z", 1));
    ASSERT_TRUE(a12.WaitReceived(2, 1000));
    EXPECT_TRUE(a12.Zeroed());
    EXPECT_DOUBLE_EQ(0.0, a12.Weight());
    platform::IoClose(h);
}

}  // namespace
