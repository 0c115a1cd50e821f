// The simulated scales' frames against byte tables written from the wire
// formats, and the recogniser of what a driver sends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/Frames.h"
#include "sim/tests/sim_test_util.h"

namespace {

using simtest::Hex;
using simtest::B;

using simtest::Show;

sim::Display WithMoney(sim::Display d, double price, double cost, double tare = 0) {
    d.price = price;
    d.cost = cost;
    d.tare = tare;
    return d;
}

struct FrameCase {
    const char* name;
    int model;
    sim::Display display;
    const char* hex;
};

TEST(SimFrames, EncodesEachModelsFrame) {
    const FrameCase cases[] = {
        // 06 01 02 status, sign + 6-char value, "kg", check, 03 04
        {"cas stable", 13, Show(1.234), "06 01 02 53 20 20 31 2E 32 33 34 6B 67 75 03 04"},
        {"cas negative unstable", 13, Show(-0.5, 2, false), "06 01 02 55 2D 20 20 30 2E 35 30 6B 67 6F 03 04"},
        {"cas fewer decimals when wide", 13, Show(1234.5678), "06 01 02 53 20 31 32 33 34 2E 36 6B 67 63 03 04"},
        {"cas integer display", 27, Show(25, 0), "06 01 02 53 20 20 20 20 20 32 35 6B 67 78 03 04"},
        {"cas overload", 27, Show(1, 3, true, true), "06 01 02 53 46 46 46 46 46 46 46 6B 67 19 03 04"},
        {"cas too heavy to show", 13, Show(2e6), "06 01 02 53 46 46 46 46 46 46 46 6B 67 19 03 04"},
        {"cas minus zero shows no sign", 13, Show(-0.0001), "06 01 02 53 20 20 30 2E 30 30 30 6B 67 71 03 04"},
        // 01 80 AA status, u16 LE, price i32 LE, cost i32 LE, 4 zero bytes
        {"lp negative stable", 14, WithMoney(Show(-10.0), 12.5, 15.43),
         "01 80 AA C0 10 27 E2 04 00 00 07 06 00 00 00 00 00 00"},
        {"lp unstable", 14, Show(0.5, 3, false), "01 80 AA 00 F4 01 00 00 00 00 00 00 00 00 00 00 00 00"},
        {"lp overload", 14, Show(1, 3, true, true), "01 80 AA 41 E8 03 00 00 00 00 00 00 00 00 00 00 00 00"},
        {"lp beyond 16 bits is overload", 14, Show(70.0), "01 80 AA 41 FF FF 00 00 00 00 00 00 00 00 00 00 00 00"},
        {"lp negative price", 14, WithMoney(Show(0), -0.01, 0),
         "01 80 AA 40 00 00 FF FF FF FF 00 00 00 00 00 00 00 00"},
        // signed 16-bit little-endian
        {"massak 1234", 10, Show(1.234), "D2 04"},
        {"massak -1234", 10, Show(-1.234), "2E FB"},
        {"massak -1", 10, Show(-0.001), "FF FF"},
        {"massak clamps high", 10, Show(40.0), "FF 7F"},
        {"massak clamps low", 10, Show(-40.0), "00 80"},
        {"massak decimals 1", 10, Show(123.4, 1), "D2 04"},
        // 3C ?? d1d2 d3d4 d5d6 status 3E
        {"vn two decimals", 5, Show(123.45, 2), "3C 00 01 23 45 02 3E"},
        {"vn negative three decimals", 5, Show(-1.5), "3C 00 00 15 00 23 3E"},
        {"vn clamps to six digits", 5, Show(5000.0), "3C 00 99 99 99 03 3E"},
        {"vn with tare", 32, WithMoney(Show(1.5), 0, 0, 0.5), "3C 00 00 15 00 03 3E 3D 00 00 01 F4 00 3E"},
        {"vn negative tare sent as 0", 32, WithMoney(Show(0), 0, 0, -1), "3C 00 00 00 00 03 3E 3D 00 00 00 00 00 3E"},
        // weight CR price CR cost CR LF, each 7 characters
        {"vta text", 15, WithMoney(Show(1.234), 12.5, 15.43),
         "20 20 31 2E 32 33 34 0D 20 20 31 32 2E 35 30 0D 20 20 31 35 2E 34 33 0D 0A"},
        {"vta text negative and wide", 15, WithMoney(Show(-12.5), 123456.7, 0),
         "2D 31 32 2E 35 30 30 0D 20 31 32 33 34 35 37 0D 20 20 20 30 2E 30 30 0D 0A"},
        {"vta text clamps", 15, WithMoney(Show(1e9), 0, 0),
         "39 39 39 39 39 39 39 0D 20 20 20 30 2E 30 30 0D 20 20 20 30 2E 30 30 0D 0A"},
        // three groups of six digit values, least significant first
        {"vta digits", 22, WithMoney(Show(1.234), 25.5, 31.47),
         "04 03 02 01 00 00 00 05 05 02 00 00 07 04 01 03 00 00"},
        {"vta digits negative weight", 22, WithMoney(Show(-2), 1, 0),
         "00 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 00 00"},
        {"vta digits clamp", 22, WithMoney(Show(1500.0), 0, 0),
         "09 09 09 09 09 09 00 00 00 00 00 00 00 00 00 00 00 00"},
        // 01 03 06, i32 big-endian, status (bit 5 stable), 00, CRC low first
        {"bst106 stable", 41, Show(1.234), "01 03 06 00 00 04 D2 20 00 99 BC"},
        {"bst106 negative unstable", 41, Show(-1.234, 3, false), "01 03 06 FF FF FB 2E 00 00 70 43"},
        {"bst106 clamps", 41, Show(1e9), "01 03 06 7F FF FF FF 20 00 27 4A"},
        {"bst106 decimals 1", 41, Show(25.0, 1), "01 03 06 00 00 00 FA 20 00 18 84"},
        // 01 03 08, 7 ASCII characters, decimals digit, CRC low first
        {"d12 three decimals", 40, Show(12.345), "01 03 08 30 30 31 32 33 34 35 33 82 EA"},
        {"d12 negative", 40, Show(-0.5, 2), "01 03 08 2D 30 30 30 30 35 30 32 A9 7A"},
        {"d12 clamps", 40, Show(1e9), "01 03 08 39 39 39 39 39 39 39 33 E8 12"},
        {"d12 four decimals", 40, Show(0.1234, 4), "01 03 08 30 30 30 31 32 33 34 34 37 54"},
        {"d12 zero unstable", 40, Show(0, 0, false), "01 03 08 30 30 30 30 30 30 30 30 F8 2F"},
        // Prompribor VTA-60 digit values: grams, price and cost in hundredths
        {"prompribor vta", 0, WithMoney(Show(1.234), 25.5, 31.47),
         "04 03 02 01 00 00 00 05 05 02 00 00 07 04 01 03 00 00"},
        {"prompribor vta negative weight", 0, WithMoney(Show(-0.5), 10, 0),
         "00 00 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 00"},
        // 3C 00, six weight characters, status (decimals, bit 2 stable), 3E
        {"ie04 two decimals stable", 1, Show(12.34, 2), "3C 00 30 30 31 32 33 34 06 3E"},
        {"ie04 negative unstable", 1, Show(-0.15, 3, false), "3C 00 2D 30 30 31 35 30 03 3E"},
        {"ie04 integer", 1, Show(25, 0), "3C 00 30 30 30 30 32 35 04 3E"},
        {"ie04 clamps", 1, Show(-5000.0), "3C 00 2D 39 39 39 39 39 07 3E"},
        // 3C, six weight characters, status, text, CR
        {"ie04 scanner", 6, Show(1.234), "3C 30 30 31 32 33 34 07 0D"},
    };
    for (const FrameCase& c : cases) {
        EXPECT_EQ(c.hex, Hex(sim::EncodeFrame(c.model, c.display))) << c.name;
    }
    sim::Display scanned = Show(-1.5, 2);
    scanned.text = "48;2";
    EXPECT_EQ("3C 2D 30 30 31 35 30 06 34 38 3B 32 0D", Hex(sim::EncodeFrame(6, scanned)));
}

TEST(SimFrames, LengthsAndUnknownModels) {
    const struct {
        int model;
        size_t length;
    } cases[] = {{13, 16}, {27, 16}, {14, 18}, {10, 2}, {5, 7},  {32, 14}, {15, 25}, {22, 18},
                 {41, 11}, {40, 13}, {0, 18},  {1, 10}, {6, 9}, {20, 0},  {-1, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.length, sim::EncodeFrame(c.model, Show(0.25)).size()) << c.model;
    }
}

TEST(SimFrames, BrokenFrameSpoilsOneMarker) {
    const struct {
        int model;
        int offset;     // changed byte, or -1 when the frame is one byte short
        int newValue;
    } cases[] = {{13, 14, 0x00}, {27, 14, 0x00}, {14, 2, 0x55}, {5, 6, 0x3F},
                 {32, 6, 0x3F},  {15, 24, 0x0D}, {10, -1, 0},   {22, -1, 0},
                 {41, 2, 0x08},  {40, 1, 0x83}, {0, -1, 0},     {1, 9, 0x3F},
                 {6, 8, 0x0A}};
    for (const auto& c : cases) {
        const std::string good = sim::EncodeFrame(c.model, WithMoney(Show(1.234), 2, 3));
        const std::string bad = sim::BreakFrame(c.model, good);
        if (c.offset < 0) {
            EXPECT_EQ(good.substr(0, good.size() - 1), bad) << c.model;
            continue;
        }
        ASSERT_EQ(good.size(), bad.size()) << c.model;
        for (size_t i = 0; i < good.size(); ++i) {
            if (static_cast<int>(i) == c.offset) {
                EXPECT_EQ(c.newValue, static_cast<unsigned char>(bad[i])) << c.model;
                EXPECT_NE(good[i], bad[i]) << c.model;
            } else {
                EXPECT_EQ(good[i], bad[i]) << c.model << " byte " << i;
            }
        }
    }
}

TEST(SimFrames, ScaledMagnitudeNeverOverflows) {
    const struct {
        double value;
        int decimals;
        long long max;
        long long expected;
    } cases[] = {{1.2345, 3, 999999, 1235}, {-1.2345, 3, 999999, 1235}, {1e300, 3, 65535, 65535},
                 {-1e300, 2, 65535, 65535}, {0.0 / 0.0, 3, 10, 0},      {0.0005, 3, 10, 1},
                 {7.0, 9, 1000000, 70000} /* decimals beyond 4 count as 4 */};
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, sim::ScaledMagnitude(c.value, c.decimals, c.max)) << c.value;
    }
}

struct MatchCase {
    const char* name;
    int model;
    std::string input;
    bool flushPartial;
    // kind letter (R request, A ack, T tare, P price, Z zero, U unknown), hex, value
    std::vector<std::tuple<char, const char*, long long>> expected;
};

char Letter(sim::CommandMatcher::Kind k) {
    switch (k) {
    case sim::CommandMatcher::Request: return 'R';
    case sim::CommandMatcher::Ack: return 'A';
    case sim::CommandMatcher::Tare: return 'T';
    case sim::CommandMatcher::Price: return 'P';
    case sim::CommandMatcher::Zero: return 'Z';
    default: return 'U';
    }
}

TEST(SimCommandMatcher, RecognisesRequestsAndCommands) {
    const MatchCase cases[] = {
        {"cas request", 13, B({0x05, 0x11}), false, {{'R', "05 11", 0}}},
        {"cas repeated enq", 27, B({0x05, 0x05, 0x11}), false, {{'U', "05", 0}, {'R', "05 11", 0}}},
        {"cas noise first", 13, B({0x11, 0xFF, 0x05, 0x11}), false, {{'U', "11 FF", 0}, {'R', "05 11", 0}}},
        {"cas lone enq kept until flushed", 13, B({0x05}), true, {{'U', "05", 0}}},
        {"cas lone enq waits", 13, B({0x05}), false, {}},
        {"lp request twice", 14, B({0x01, 0x89, 0x01, 0x89}), false, {{'R', "01 89", 0}, {'R', "01 89", 0}}},
        {"lp wrong second byte", 14, B({0x01, 0x11}), true, {{'U', "01 11", 0}}},
        {"massak requests", 10, B({0x45, 0x45}), false, {{'R', "45", 0}, {'R', "45", 0}}},
        {"massak trailing noise flushed", 10, B({0x45, 0x0D, 0x0A}), true, {{'R', "45", 0}, {'U', "0D 0A", 0}}},
        {"vn ack", 5, B({0x3C, 0x00, 0x41, 0x3E}), false, {{'A', "3C 00 41 3E", 0}}},
        {"vn tare is noise for model 5", 5, B({0x3C, 0x00, 0x62, 0x00, 0x01, 0x25, 0x3E}), true,
         {{'U', "3C 00 62 00 01 25 3E", 0}}},
        {"vn tare", 32, B({0x3C, 0x00, 0x62, 0x00, 0x01, 0x25, 0x3E}), false, {{'T', "3C 00 62 00 01 25 3E", 125}}},
        {"vn tare six digits then ack", 32, B({0x3C, 0x00, 0x62, 0x23, 0x45, 0x67, 0x3E, 0x3C, 0x00, 0x41, 0x3E}),
         false, {{'T', "3C 00 62 23 45 67 3E", 234567}, {'A', "3C 00 41 3E", 0}}},
        {"vn tare with a bad digit", 32, B({0x3C, 0x00, 0x62, 0x0A, 0x3C, 0x00, 0x41, 0x3E}), false,
         {{'U', "3C 00 62 0A", 0}, {'A', "3C 00 41 3E", 0}}},
        {"vta tare", 22, B({0x00, 0x00, 0x01}), false, {{'T', "00 00 01", 0}}},
        {"vta price twice", 22,
         B({0x00, 0x00, 0x02, 0x05, 0x04, 0x03, 0x02, 0x01, 0x00, 0x00, 0x00, 0x02, 0x05, 0x04, 0x03, 0x02, 0x01,
            0x00}),
         false, {{'P', "00 00 02 05 04 03 02 01 00", 12345}, {'P', "00 00 02 05 04 03 02 01 00", 12345}}},
        {"vta price bad filler", 22, B({0x00, 0x00, 0x02, 0x01, 0x00, 0x00, 0x00, 0x00, 0x07}), true,
         {{'U', "00 00 02 01 00 00 00 00 07", 0}}},
        {"vta text takes no commands", 15, B({0x3C, 0x00, 0x41, 0x3E}), true, {{'U', "3C 00 41 3E", 0}}},
        {"bst106 request then tare", 41,
         B({0x01, 0x03, 0x00, 0x02, 0x00, 0x03, 0xA4, 0x0B, 0x01, 0x06, 0x00, 0x07, 0xA5, 0x0B, 0x02, 0x9C}), false,
         {{'R', "01 03 00 02 00 03 A4 0B", 0}, {'T', "01 06 00 07 A5 0B 02 9C", 0}}},
        {"bst106 request with a bad crc", 41, B({0x01, 0x03, 0x00, 0x02, 0x00, 0x03, 0xA4, 0x0C}), true,
         {{'U', "01 03 00 02 00 03 A4 0C", 0}}},
        {"bst106 takes no zero", 41, B({0x01, 0x06, 0x00, 0x01, 0x00, 0x17, 0x98, 0x04}), true,
         {{'U', "01 06 00 01 00 17 98 04", 0}}},
        {"d12 zero then request", 40,
         B({0x01, 0x06, 0x00, 0x01, 0x00, 0x17, 0x98, 0x04, 0x01, 0x03, 0x00, 0x03, 0x00, 0x04, 0xB4, 0x09}), false,
         {{'Z', "01 06 00 01 00 17 98 04", 0}, {'R', "01 03 00 03 00 04 B4 09", 0}}},
        {"d12 takes no bst106 request", 40, B({0x01, 0x03, 0x00, 0x02, 0x00, 0x03, 0xA4, 0x0B}), true,
         {{'U', "01 03 00 02 00 03 A4 0B", 0}}},
        {"prompribor vta read, tare, price", 0,
         B({0x00, 0x00, 0x03, 0x00, 0x00, 0x01, 0x00, 0x00, 0x02, 0x05, 0x04, 0x03, 0x02, 0x01, 0x00}), false,
         {{'R', "00 00 03", 0}, {'T', "00 00 01", 0}, {'P', "00 00 02 05 04 03 02 01 00", 12345}}},
        {"ie04 read and tare", 1, B({0x3C, 0x00, 0x21, 0x3E, 0x3C, 0x00, 0x54, 0x3E}), false,
         {{'R', "3C 00 21 3E", 0}, {'T', "3C 00 54 3E", 0}}},
        {"ie04 scanner takes no commands", 6, B({0x3C, 0x00, 0x21, 0x3E}), true, {{'U', "3C 00 21 3E", 0}}},
    };
    for (const MatchCase& c : cases) {
        sim::CommandMatcher m(c.model);
        std::vector<sim::CommandMatcher::Message> out;
        for (char ch : c.input) m.Feed(static_cast<uint8_t>(ch), &out);
        if (c.flushPartial) m.Flush(&out, true);
        ASSERT_EQ(c.expected.size(), out.size()) << c.name;
        for (size_t i = 0; i < out.size(); ++i) {
            EXPECT_EQ(std::get<0>(c.expected[i]), Letter(out[i].kind)) << c.name << " #" << i;
            EXPECT_EQ(std::get<1>(c.expected[i]), Hex(out[i].bytes)) << c.name << " #" << i;
            EXPECT_EQ(std::get<2>(c.expected[i]), out[i].value) << c.name << " #" << i;
        }
    }
}

TEST(SimCommandMatcher, LongNoiseIsHandedOutInPieces) {
    sim::CommandMatcher m(13);
    std::vector<sim::CommandMatcher::Message> out;
    for (int i = 0; i < 1000; ++i) m.Feed(0x20, &out);
    size_t total = 0;
    for (const auto& msg : out) {
        EXPECT_EQ(sim::CommandMatcher::Unknown, msg.kind);
        EXPECT_LE(msg.bytes.size(), 256u);
        total += msg.bytes.size();
    }
    m.Flush(&out, true);
    total += out.back().bytes.size();
    EXPECT_EQ(1000u, total);
}

}  // namespace
