// The simulated command-and-reply indicators (2, 3, 4, 9, 24, 37): frames
// against byte tables written from the wire formats, the marker a broken
// frame spoils, and the requests and commands they recognise.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/Frames.h"
#include "sim/tests/sim_test_util.h"

namespace {

using simtest::Hex;

sim::Display Show(double weight, int decimals = 3, bool stable = true, bool overload = false, bool negative = false) {
    sim::Display d = simtest::Show(weight, decimals, stable, overload);
    d.negative = negative;
    return d;
}

TEST(SimIndicators, EncodesEachModelsFrame) {
    const struct {
        const char* name;
        int model;
        sim::Display display;
        const char* text;  // frames as text, where they are text
        const char* hex;   // else as bytes
    } cases[] = {
        {"tbe", 2, Show(1.234), "       1.234\r\n", nullptr},
        {"tbe negative", 2, Show(-0.5, 2), "       -0.50\r\n", nullptr},
        {"tbe blank on overload", 2, Show(5, 3, true, true), "            \r\n", nullptr},
        {"tbe fewer decimals when wide", 2, Show(123456789.0), " 123456789.0\r\n", nullptr},
        {"tb1", 3, Show(1.234), "R01W 1.234\r\n", nullptr},
        {"tb1 negative", 3, Show(-0.5), "R01W-0.500\r\n", nullptr},
        {"tb1 forced minus", 3, Show(0.5, 3, true, false, true), "R01N 0.500\r\n", nullptr},
        {"tb1 overload", 3, Show(2, 1, true, true), "R01E   2.0\r\n", nullptr},
        {"tb1 fewer decimals when wide", 3, Show(123.456), "R01W123.46\r\n", nullptr},
        {"axis", 9, Show(12.5), "    12.500 kg \r\n", nullptr},
        {"axis negative", 9, Show(-12.5, 1), "-     12.5 kg \r\n", nullptr},
        {"iq plus", 24, Show(12.345), "XN\r\n  \n12.345kg\r\n", nullptr},
        {"iq plus negative", 24, Show(-1.5), "XN\r\n- \n 1.500kg\r\n", nullptr},
        {"iq plus wide", 24, Show(1234.5), "XN\r\n 1\n234.50kg\r\n", nullptr},
        {"esit", 37, Show(1.234), "     1.234\r\n", nullptr},
        {"esit negative", 37, Show(-20, 0), "       -20\r\n", nullptr},
        // 3C 00 d1d2 d3d4 d5d6 status 3E
        {"vn old stable", 4, Show(1.234), nullptr, "3C 00 00 12 34 07 3E"},
        {"vn old negative unstable", 4, Show(-1.234, 3, false), nullptr, "3C 00 00 12 34 23 3E"},
        {"vn old two decimals", 4, Show(123.45, 2), nullptr, "3C 00 01 23 45 06 3E"},
        {"vn old integer", 4, Show(1234, 0), nullptr, "3C 00 00 12 34 04 3E"},
        {"vn old overload", 4, Show(1, 3, true, true), nullptr, "3C 00 EE EE EE 07 3E"},
        {"vn old clamps", 4, Show(5000), nullptr, "3C 00 99 99 99 07 3E"},
    };
    for (const auto& c : cases) {
        const std::string frame = sim::EncodeFrame(c.model, c.display);
        if (c.text) {
            EXPECT_EQ(c.text, frame) << c.name;
        } else {
            EXPECT_EQ(c.hex, Hex(frame)) << c.name;
        }
    }
}

TEST(SimIndicators, LengthsAndBrokenMarkers) {
    const struct {
        int model;
        size_t length;
        size_t offset;  // the spoiled marker
        char value;
    } cases[] = {{2, 14, 12, ' '}, {3, 12, 10, '\n'}, {4, 7, 6, 0x3F},
                 {9, 16, 15, '\r'}, {24, 17, 6, ' '}, {37, 12, 11, '\r'}};
    for (const auto& c : cases) {
        const std::string good = sim::EncodeFrame(c.model, Show(1.234));
        ASSERT_EQ(c.length, good.size()) << c.model;
        const std::string bad = sim::BreakFrame(c.model, good);
        ASSERT_EQ(good.size(), bad.size()) << c.model;
        for (size_t i = 0; i < good.size(); ++i) {
            if (i == c.offset) {
                EXPECT_EQ(c.value, bad[i]) << c.model;
                EXPECT_NE(good[i], bad[i]) << c.model;
            } else {
                EXPECT_EQ(good[i], bad[i]) << c.model << " byte " << i;
            }
        }
    }
}

TEST(SimIndicators, RecognisesRequestsAndCommands) {
    using K = sim::CommandMatcher;
    const struct {
        const char* name;
        int model;
        std::string input;
        std::vector<std::pair<K::Kind, std::string>> expected;
    } cases[] = {
        {"tbe request and tare", 2, "G1\r\nST\r\n", {{K::Request, "G1\r\n"}, {K::Tare, "ST\r\n"}}},
        {"tb1 request and tare", 3, "G01W\r\nS01T\r\n", {{K::Request, "G01W\r\n"}, {K::Tare, "S01T\r\n"}}},
        {"tb1 other address is noise", 3, "G02W\r\n", {{K::Unknown, "G02W\r\n"}}},
        {"vn old request and tare", 4, std::string("<\x00!><\x00T>", 8),
         {{K::Request, std::string("<\x00!>", 4)}, {K::Tare, std::string("<\x00T>", 4)}}},
        {"axis request and tare", 9, "SI\r\nST\r\n", {{K::Request, "SI\r\n"}, {K::Tare, "ST\r\n"}}},
        {"iq plus commands", 24, "XN\r\nKTARE\r\nSTREAM=OFF\r\nEX\r\nSX\r\n",
         {{K::Request, "XN\r\n"},
          {K::Tare, "KTARE\r\n"},
          {K::Command, "STREAM=OFF\r\n"},
          {K::Command, "EX\r\n"},
          {K::Command, "SX\r\n"}}},
        {"esit request and tare", 37, "W\rT\r", {{K::Request, "W\r"}, {K::Tare, "T\r"}}},
        {"esit knows no price", 37, "P\r", {{K::Unknown, "P\r"}}},
    };
    for (const auto& c : cases) {
        K matcher(c.model);
        std::vector<K::Message> got;
        for (char b : c.input) matcher.Feed(static_cast<uint8_t>(b), &got);
        matcher.Flush(&got, true);
        ASSERT_EQ(c.expected.size(), got.size()) << c.name;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(c.expected[i].first, got[i].kind) << c.name << " #" << i;
            EXPECT_EQ(c.expected[i].second, got[i].bytes) << c.name << " #" << i;
        }
    }
}

}  // namespace
