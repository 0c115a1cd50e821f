// The simulated Radwag, DIGI, HBM, KELI and R320 indicators: their replies
// against byte tables written from the wire formats, broken replies, and the
// requests and commands they recognise.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/Frames.h"
#include "sim/tests/sim_test_util.h"
#include "sim/Models.h"

namespace {

using simtest::Show;

TEST(SimAsciiIndicators, Replies) {
    sim::Display forced = Show(0.5);
    forced.negative = true;
    sim::Display overload = Show(1.0);
    overload.overload = true;
    const struct {
        const char* name;
        int model;
        sim::Display display;
        std::string bytes;
    } cases[] = {
        {"radwag unstable negative", 35, Show(-1.234, 4, false), "SUI? -   1.2340 kg \r\n"},
        {"radwag stable", 35, Show(12.5, 3), "SUI      12.500 kg \r\n"},
        {"radwag clamps", 35, Show(5e9, 0), "SUI   999999999 kg \r\n"},
        {"radwag minus zero shows no sign", 35, Show(-0.0001), "SUI       0.000 kg \r\n"},
        {"digi negative stable", 23, Show(-1.25), std::string("\x02\x36\r0001250\r\n", 12)},
        {"digi unstable", 23, Show(0.5, 3, false), std::string("\x02\x30\r0000500\r\n", 12)},
        {"digi clamps", 23, Show(1500.0), std::string("\x02\x32\r0999999\r\n", 12)},
        {"digi forced minus", 23, forced, std::string("\x02\x36\r0000500\r\n", 12)},
        {"hbm negative", 26, Show(-1.25), "  -1250\r\n"},
        {"hbm two decimals", 26, Show(12.5, 2), "   1250\r\n"},
        {"hbm wider", 26, Show(12345.678), "12345678\r\n"},
        {"hbm forced minus", 26, forced, "   -500\r\n"},
        {"keli", 16, Show(12.345), std::string("\x02NW:  12.345 kg\x03", 16)},
        {"keli negative", 16, Show(-0.75, 2), std::string("\x02NW:   -0.75 kg\x03", 16)},
        {"r320", 11, Show(-12.5, 2), "81050027:  -12.50\r\n"},
        {"r320 overload", 11, overload, "81050027:      OL\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.bytes, sim::EncodeFrame(c.model, c.display)) << c.name;
    }
}

TEST(SimAsciiIndicators, BrokenRepliesFailTheirOneCheck) {
    const struct {
        int model;
        std::string bytes;
    } cases[] = {
        {35, "SUI      12.500 kg  \n"},                         // CR spoiled
        {23, std::string("\x02\x32\r1012500\r\n", 12)},         // '0' after CR
        {26, "500\r\n"},                                        // five bytes
        {16, std::string("\x02XW:  12.500 kg\x03", 16)},        // 'N'
        {11, "81050027:  12.500\r "},                           // LF
    };
    for (const auto& c : cases) {
        const std::string good = sim::EncodeFrame(c.model, Show(12.5));
        EXPECT_EQ(c.bytes, sim::BreakFrame(c.model, good)) << c.model;
    }
}

TEST(SimAsciiIndicators, RequestsAndCommands) {
    const struct {
        int model;
        std::string input;
        std::vector<sim::CommandMatcher::Kind> kinds;
    } cases[] = {
        {35, "SUI\r\nI\r\nSUI\r\n",
         {sim::CommandMatcher::Request, sim::CommandMatcher::Tare, sim::CommandMatcher::Request}},
        {23, "\x05\x05", {sim::CommandMatcher::Request, sim::CommandMatcher::Request}},
        {26, "S1;TAR;S1;MSV?;", {sim::CommandMatcher::Tare, sim::CommandMatcher::Request}},
        {16, std::string("\x02\x45\x03\x02\x42\x03", 6), {sim::CommandMatcher::Zero, sim::CommandMatcher::Request}},
        {11, "20050027:\r\n", {sim::CommandMatcher::Request}},
        {11, "20050027:\n", {sim::CommandMatcher::Unknown}},
    };
    for (const auto& c : cases) {
        sim::CommandMatcher m(c.model);
        std::vector<sim::CommandMatcher::Message> out;
        for (char ch : c.input) m.Feed(static_cast<uint8_t>(ch), &out);
        m.Flush(&out, true);
        std::vector<sim::CommandMatcher::Kind> kinds;
        for (const auto& msg : out) kinds.push_back(msg.kind);
        EXPECT_EQ(c.kinds, kinds) << c.model << " " << c.input;
    }
}

TEST(SimAsciiIndicators, TareAndZeroShowZeroAndGetTheirAnswers) {
    struct Case {
        int model;
        sim::CommandMatcher::Kind kind;
        std::string bytes;
        std::string answer;
    };
    for (const Case& c : {Case{35, sim::CommandMatcher::Tare, "I\r\n", "I A\r\n"},
                          Case{26, sim::CommandMatcher::Tare, "S1;TAR;", "0\r\n"},
                          Case{16, sim::CommandMatcher::Zero, std::string("\x02\x45\x03", 3), ""}}) {
        const sim::SimModel* m = sim::FindSimModel(c.model);
        ASSERT_NE(m, nullptr);
        ASSERT_NE(m->effect, nullptr);
        sim::Display d = Show(2.5);
        sim::CommandMatcher::Message msg{c.kind, c.bytes, 0};
        m->effect(msg, d);
        EXPECT_EQ(d.weight, 0.0) << c.model;
        EXPECT_TRUE(d.zeroed) << c.model;
        EXPECT_EQ(m->answer ? m->answer(msg, d) : std::string(), c.answer) << c.model;
    }
}

}  // namespace
