// Radwag, DIGI, HBM, KELI and R320 replies decoded on bytes; their end
// conditions, hunts and commands run through the engine on a scripted line.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "devices/ModelTable.h"
#include "scales/AsciiIndicators.h"
#include "platform/sys.h"
#include "tests/unit/exchange_scripted_line.h"
#include "tests/unit/transport_test_util.h"
#include "tests/unit/decoder_support.h"

using zel::exchange::PolledProtocol;
using zel::exchange::Reading;
using zel::exchange::Verdict;
using zeltest::ScriptedLine;
using zeltest::ScriptedSession;

namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

// "SUI" status, any, sign, 9 weight characters, 4 bytes, CR LF.
std::string RadwagReply(char status, char sign, const char* weight) {
    std::string f = "SUI";
    f.push_back(status);
    f.push_back(' ');
    f.push_back(sign);
    f += weight;
    f += " kg \r\n";
    return f;
}

using zeltest::Sentinel;

struct DecodeCase {
    const char* name;
    std::string reply;
    bool accepted;
    int32_t result;
    double weight;
    int32_t stable;
};

void Check(const DecodeCase& c, bool (*accepts)(const uint8_t*, size_t),
           zel::exchange::Decoded (*decode)(const uint8_t*, size_t, Reading&)) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> f = Bytes(c.reply);
    ASSERT_EQ(accepts(f.data(), f.size()), c.accepted);
    if (!c.accepted) return;
    Reading r = Sentinel();
    EXPECT_EQ(decode(f.data(), f.size(), r).result, c.result);
    EXPECT_DOUBLE_EQ(r.weight, c.weight);
    EXPECT_EQ(r.stable, c.stable);
    EXPECT_EQ(r.price, -77.0);  // no reply carries a price
    EXPECT_EQ(r.cost, -77.0);
}

}  // namespace

TEST(AsciiDecoders, Radwag) {
    const DecodeCase cases[] = {
        {"unstable negative", RadwagReply('?', '-', "   1.2340"), true, 0, -1.234, 0},
        {"stable positive", RadwagReply(' ', ' ', "  12.5000"), true, 0, 12.5, 1},
        {"any status but '?' is stable", RadwagReply('D', ' ', "0.0010   "), true, 0, 0.001, 1},
        {"minus zero is zero", RadwagReply(' ', '-', "   0.0000"), true, 0, 0.0, 1},
        {"dashes are no weight", RadwagReply(' ', ' ', "  -------"), false, 0, 0, 0},
        {"no SUI", "SUX" + RadwagReply(' ', ' ', "   1.0000").substr(3), false, 0, 0, 0},
        {"no CR", RadwagReply(' ', ' ', "   1.0000").substr(0, 19) + " \n", false, 0, 0, 0},
        {"no LF", RadwagReply(' ', ' ', "   1.0000").substr(0, 20) + "\r", false, 0, 0, 0},
        {"one byte long", RadwagReply(' ', ' ', "   1.0000") + "\n", false, 0, 0, 0},
        {"one byte short", RadwagReply(' ', ' ', "  1.0000"), false, 0, 0, 0},
    };
    for (const DecodeCase& c : cases) Check(c, zel::ascii::AcceptsRadwag, zel::ascii::DecodeRadwag);
    // The weight text ends at byte 14 whatever follows it.
    std::string f = RadwagReply(' ', ' ', "   1.2345");
    f[15] = '6';
    Reading r;
    zel::ascii::DecodeRadwag(reinterpret_cast<const uint8_t*>(f.data()), f.size(), r);
    EXPECT_DOUBLE_EQ(r.weight, 1.2345);
}

TEST(AsciiDecoders, Digi) {
    const std::string s = "\x02";
    const DecodeCase cases[] = {
        {"negative stable", s + "\x06\r0001250\r\n", true, 0, -1250, 1},
        {"positive unstable", s + "\x30\r0000500\r\n", true, 0, 500, 0},
        {"stable only", s + "\x02\r0012345\r\n", true, 0, 12345, 1},
        {"'-' reads 0", s + "\x02\r0-1-2-3\r\n", true, 0, 10203, 1},
        {"other lines before LF", s + "\x02\r0000007\rPRICE 12\r\nTOTAL\n", true, 0, 7, 1},
        {"status LF", s + "\x0A\r0000001\r\n", true, 0, 1, 1},
        {"point in the field", s + "\x02\r001.250\r\n", true, 0, 1.25, 1},
        {"no CR at 2", s + "\x02 0001250\r\n", false, 0, 0, 0},
        {"no '0' at 3", s + "\x02\r1001250\r\n", false, 0, 0, 0},
        {"no CR at 10", s + "\x02\r0001250 \n", false, 0, 0, 0},
        {"not ended by LF", s + "\x02\r0001250\r\r", false, 0, 0, 0},
        {"ten bytes", s + "\x02\r000125\r\n", false, 0, 0, 0},
    };
    for (const DecodeCase& c : cases) Check(c, zel::ascii::AcceptsDigi, zel::ascii::DecodeDigi);
}

TEST(AsciiDecoders, Hbm) {
    const DecodeCase cases[] = {
        {"spaces and a minus", "  -1250\r\n", true, 0, -1250, 0},
        {"stopped at CR", "   1250\r", true, 0, 1250, 0},
        {"six bytes", "12345\n", true, 0, 12345, 0},
        {"minus after the digits", "1250-\r\n", false, 0, 0, 0},
        {"space inside", "12 50\r\n", false, 0, 0, 0},
        {"point", "  12.50\r\n", true, 0, 12.5, 0},
        {"letters", "ERROR1\r\n", false, 0, 0, 0},
        {"five bytes", "125\r\n", false, 0, 0, 0},
    };
    for (const DecodeCase& c : cases) Check(c, zel::ascii::AcceptsHbm, zel::ascii::DecodeHbm);
    // A reply as long as the buffer: the spaces after the digit end the number.
    std::string longReply(299, ' ');
    longReply[40] = '7';
    longReply += "\r";
    Check({"full buffer", longReply, true, 0, 7, 0}, zel::ascii::AcceptsHbm, zel::ascii::DecodeHbm);
}

TEST(AsciiDecoders, Keli) {
    const std::string nw("\x02NW:", 4);
    const DecodeCase cases[] = {
        {"text and unit", nw + "12.345 kg\x03", true, 0, 12.345, 1},
        {"negative", nw + "  -0.750\x03", true, 0, -0.75, 1},
        {"digits up to ETX", nw + "0001250\x03", true, 0, 1250, 1},
        {"ten bytes", nw + "00125\x03", false, 0, 0, 0},
        {"no STX", "\x01NW:0001250\x03", false, 0, 0, 0},
        {"not NW", nw.substr(0, 1) + "GS:0001250\x03", false, 0, 0, 0},
        {"no colon", nw.substr(0, 3) + "=0001250\x03", false, 0, 0, 0},
        {"not ended by ETX", nw + "0001250\x04", false, 0, 0, 0},
    };
    for (const DecodeCase& c : cases) Check(c, zel::ascii::AcceptsKeli, zel::ascii::DecodeKeli);
}

TEST(AsciiDecoders, R320) {
    const std::string a = "81050027:";
    struct Case {
        const char* name;
        std::string reply;
        bool accepted;
        int32_t result;
        Verdict verdict;
        double weight;
    };
    const Case cases[] = {
        {"negative", a + "-12.50\r\n", true, 0, Verdict::kAccept, -12500},
        {"spaces after the sign", a + "-  12.50\r\n", true, 0, Verdict::kAccept, -12500},
        // A space between digits once read as none: "12.5 0" was 12.50.
        {"space between digits", a + "-  12.5 0\r\n", true, 3, Verdict::kRetry, 0},
        {"thousandths exact", a + "1.005\r\n", true, 0, Verdict::kAccept, 1005},
        {"thousandths exact, negative", a + "-0.285\r\n", true, 0, Verdict::kAccept, -285},
        {"finer part truncated", a + "1.0057\r\n", true, 0, Verdict::kAccept, 1005},
        {"unit ends it", a + "   2.5kg\r\n", true, 0, Verdict::kAccept, 2500},
        // Longer than the 30 bytes the engine collects: its first 19
        // characters once read as 1.
        {"longer than a reply", a + "00000000000000000012345\r\n", true, 3, Verdict::kEndCycle, 0},
        {"zero", a + "  0.000\r\n", true, 0, Verdict::kAccept, 0},
        {"letters only", a + "OVERLOAD\r\n", true, 3, Verdict::kEndCycle, 0},
        {"nothing after the address", a + "\r\n", true, 3, Verdict::kEndCycle, 0},
        {"ten bytes", a.substr(0, 8) + "\r\n", false, 0, Verdict::kAccept, 0},
        {"LF only", a + "12.5\n", false, 0, Verdict::kAccept, 0},
        {"CR only", a + "12.5\r", false, 0, Verdict::kAccept, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> f = Bytes(c.reply);
        ASSERT_EQ(zel::ascii::AcceptsR320(f.data(), f.size()), c.accepted);
        if (!c.accepted) continue;
        Reading r = Sentinel();
        zel::exchange::Decoded d = zel::ascii::DecodeR320(f.data(), f.size(), r);
        EXPECT_EQ(d.result, c.result);
        EXPECT_EQ(d.verdict, c.verdict);
        EXPECT_DOUBLE_EQ(r.weight, c.weight);
        EXPECT_EQ(r.stable, 0);
    }
}

// What each format's weight text may hold: a healthy reply reads as the
// number it shows, anything else is no reply (it once read as 0, or as
// another number, with result 0).
TEST(AsciiDecoders, WeightTextIsANumberOrNoReply) {
    const std::string d = "\x02\x02\r0";
    const std::string nw("\x02NW:", 4);
    const std::string a = "81050027:";
    struct Case {
        const char* name;
        bool (*accepts)(const uint8_t*, size_t);
        zel::exchange::Decoded (*decode)(const uint8_t*, size_t, Reading&);
        std::string reply;
        bool accepted;
        double weight;
    };
    using namespace zel::ascii;
    const Case cases[] = {
        {"radwag plus in the field", AcceptsRadwag, DecodeRadwag, RadwagReply(' ', ' ', "  +1.2340"), true, 1.234},
        {"radwag comma", AcceptsRadwag, DecodeRadwag, RadwagReply(' ', '-', "   2,3450"), true, -2.345},
        {"radwag blank", AcceptsRadwag, DecodeRadwag, RadwagReply(' ', ' ', "         "), false, 0},
        {"radwag space between digits", AcceptsRadwag, DecodeRadwag, RadwagReply(' ', ' ', "   1 2340"), false, 0},
        {"radwag unit in the weight", AcceptsRadwag, DecodeRadwag, RadwagReply(' ', ' ', "  1.23 kg"), false, 0},
        {"radwag second point", AcceptsRadwag, DecodeRadwag, RadwagReply(' ', ' ', "  1.2.340"), false, 0},
        {"digi spaces before", AcceptsDigi, DecodeDigi, d + "  1250\r\n", true, 1250},
        {"digi spaces after", AcceptsDigi, DecodeDigi, d + "12.5  \r\n", true, 12.5},
        {"digi dashes", AcceptsDigi, DecodeDigi, d + "------\r\n", false, 0},
        {"digi blank", AcceptsDigi, DecodeDigi, d + "      \r\n", false, 0},
        {"digi space between digits", AcceptsDigi, DecodeDigi, d + "12 345\r\n", false, 0},
        {"digi second point", AcceptsDigi, DecodeDigi, d + "1.2.34\r\n", false, 0},
        {"digi letters", AcceptsDigi, DecodeDigi, d + "0ERR12\r\n", false, 0},
        {"digi plus", AcceptsDigi, DecodeDigi, d + "+01250\r\n", false, 0},
        // A space after the digits ends the number: it was read as a '0',
        // ten times the weight.
        {"hbm trailing space", AcceptsHbm, DecodeHbm, "   1250 \r\n", true, 1250},
        {"hbm trailing spaces, negative", AcceptsHbm, DecodeHbm, "-  12.5   \r", true, -12.5},
        {"hbm plus", AcceptsHbm, DecodeHbm, "  +1250\r\n", true, 1250},
        {"hbm LF only", AcceptsHbm, DecodeHbm, "   1250\n", true, 1250},
        {"hbm no number", AcceptsHbm, DecodeHbm, "  ------\r\n", false, 0},
        {"hbm blank", AcceptsHbm, DecodeHbm, "        \r\n", false, 0},
        {"hbm only a sign", AcceptsHbm, DecodeHbm, "      -\r\n", false, 0},
        {"hbm no line end", AcceptsHbm, DecodeHbm, "   1250", false, 0},
        {"hbm line end inside", AcceptsHbm, DecodeHbm, "  12\n50\r\n", false, 0},
        {"hbm second point", AcceptsHbm, DecodeHbm, "  1.2.5\r\n", false, 0},
        {"hbm unit", AcceptsHbm, DecodeHbm, "  1250 g\r\n", false, 0},
        {"keli plus", AcceptsKeli, DecodeKeli, nw + "+12.345 kg\x03", true, 12.345},
        {"keli unit without a space", AcceptsKeli, DecodeKeli, nw + "  12.5kg\x03", true, 12.5},
        {"keli no number", AcceptsKeli, DecodeKeli, nw + "  ------ kg\x03", false, 0},
        {"keli letters", AcceptsKeli, DecodeKeli, nw + "OVERLOAD\x03", false, 0},
        {"keli space between digits", AcceptsKeli, DecodeKeli, nw + "  12 345\x03", false, 0},
        {"keli digits after the unit", AcceptsKeli, DecodeKeli, nw + "12.3 kg 5\x03", false, 0},
        {"keli second point", AcceptsKeli, DecodeKeli, nw + " 1.2.345\x03", false, 0},
        {"r320 plus", AcceptsR320, DecodeR320, a + "  +12.50\r\n", true, 12500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> f = Bytes(c.reply);
        EXPECT_EQ(c.accepts(f.data(), f.size()), c.accepted);
        Reading r = Sentinel();
        EXPECT_EQ(c.decode(f.data(), f.size(), r).result, c.accepted ? 0 : 3);
        EXPECT_EQ(r.weight, c.accepted ? c.weight : -77.0);
    }
}

// What the reply says of itself: its unit, a range or error mark, its
// header. Each was read as a weight (or as no answer where the scale marks
// overload).
TEST(AsciiDecoders, WhatTheReplySaysOfItself) {
    using namespace zel::ascii;
    using zel::exchange::kWhyErrorMark;
    using zel::exchange::kWhyHeader;
    using zel::exchange::kWhyNoNumber;
    using zel::exchange::kWhyNotMetric;
    using zel::exchange::kWhyUnknownUnit;
    auto radwag = [](char status, char sign, const char* weight, const char* unit) {
        std::string f = RadwagReply(status, sign, weight);
        f.replace(15, 4, unit);
        return f;
    };
    const std::string nw("\x02NW:", 4);
    const std::string d = "\x02";
    struct Case {
        const char* name;
        bool (*accepts)(const uint8_t*, size_t);
        zel::exchange::Decoded (*decode)(const uint8_t*, size_t, Reading&);
        std::string reply;
        int32_t result;
        double weight;
        const char* why = nullptr;
    };
    const Case cases[] = {
        // Radwag: its marks where the stability mark stands, its unit in 15 to 18.
        {"radwag over range", AcceptsRadwag, DecodeRadwag, RadwagReply('^', ' ', "  99.9990"), 7, 0},
        {"radwag over range, blank", AcceptsRadwag, DecodeRadwag, RadwagReply('^', ' ', "         "), 7, 0},
        {"radwag under range", AcceptsRadwag, DecodeRadwag, RadwagReply('v', '-', "   0.0010"), 7, 0},
        {"radwag error", AcceptsRadwag, DecodeRadwag, RadwagReply('E', ' ', "   1.2340"), 3, 0, kWhyErrorMark},
        {"radwag grams", AcceptsRadwag, DecodeRadwag, radwag(' ', ' ', "   1234.0", "  g "), 0, 1.234},
        {"radwag grams left", AcceptsRadwag, DecodeRadwag, radwag(' ', '-', "   1234.0", " g  "), 0, -1.234},
        {"radwag milligrams", AcceptsRadwag, DecodeRadwag, radwag(' ', ' ', "   1500.0", " mg "), 0, 0.0015},
        {"radwag pounds", AcceptsRadwag, DecodeRadwag, radwag(' ', ' ', "   2.7205", " lb "), 3, 0, kWhyNotMetric},
        {"radwag carats", AcceptsRadwag, DecodeRadwag, radwag(' ', ' ', "   6170.0", " ct "), 3, 0, kWhyUnknownUnit},
        {"radwag two signs", AcceptsRadwag, DecodeRadwag, RadwagReply(' ', '-', "  -1.2340"), 3, 0, kWhyNoNumber},
        {"radwag digit for a sign", AcceptsRadwag, DecodeRadwag, RadwagReply(' ', '5', "   1.2340"), 3, 0,
         kWhyNoNumber},
        {"radwag point last", AcceptsRadwag, DecodeRadwag, RadwagReply(' ', ' ', "   12340."), 3, 0},
        // DIGI: an out-of-range bit with no number is overload; without one,
        // no answer.
        {"digi bit 0 and dashes", AcceptsDigi, DecodeDigi, d + "\x31\r0------\r\n", 7, 0},
        {"digi bit 3 and blanks", AcceptsDigi, DecodeDigi, d + "\x38\r0      \r\n", 7, 0},
        {"digi dashes, no bit", AcceptsDigi, DecodeDigi, d + "\x32\r0------\r\n", 3, 0},
        {"digi point first", AcceptsDigi, DecodeDigi, d + "\x32\r0.01250\r\n", 3, 0},
        {"digi point last", AcceptsDigi, DecodeDigi, d + "\x32\r001250.\r\n", 3, 0},
        {"hbm point first", AcceptsHbm, DecodeHbm, "   .1250\r\n", 3, 0},
        // KELI: the unit after the number.
        {"keli grams", AcceptsKeli, DecodeKeli, nw + "  1234 g\x03", 0, 1.234},
        {"keli tonnes", AcceptsKeli, DecodeKeli, nw + " 1.2 t\x03", 0, 1200},
        {"keli pounds", AcceptsKeli, DecodeKeli, nw + "  2.5 lb\x03", 3, 0, kWhyNotMetric},
        {"keli digit as g", AcceptsKeli, DecodeKeli, nw + "  12.34g\x03", 3, 0},
        // R320: the reply flag, no error flag, command 05 and register 0027.
        {"r320 error reply", AcceptsR320, DecodeR320, "C1050027:0601\r\n", 3, 0, kWhyErrorMark},
        {"r320 other register", AcceptsR320, DecodeR320, "81050026:   99.99\r\n", 3, 0, kWhyHeader},
        {"r320 other command", AcceptsR320, DecodeR320, "81110027:   1.234\r\n", 3, 0, kWhyHeader},
        {"r320 no reply flag", AcceptsR320, DecodeR320, "01050027:   1.234\r\n", 3, 0, kWhyHeader},
        {"r320 not hexadecimal", AcceptsR320, DecodeR320, "8G050027:   1.234\r\n", 3, 0, kWhyHeader},
        {"r320 another indicator", AcceptsR320, DecodeR320, "9F050027:   1.234\r\n", 0, 1234},
        {"r320 lower-case flags", AcceptsR320, DecodeR320, "a1050027:   1.234\r\n", 0, 1234},
        {"r320 tonnes", AcceptsR320, DecodeR320, "81050027:   1.234 t\r\n", 0, 1234000},
        {"r320 grams", AcceptsR320, DecodeR320, "81050027:  1234 g\r\n", 0, 1234},
        {"r320 kilograms", AcceptsR320, DecodeR320, "81050027:  1.234 kg\r\n", 0, 1234},
        {"r320 pounds", AcceptsR320, DecodeR320, "81050027:  2.5 lb\r\n", 3, 0, kWhyNotMetric},
        {"r320 dashes", AcceptsR320, DecodeR320, "81050027:  ------\r\n", 3, 0, kWhyNoNumber},
        {"r320 space between digits", AcceptsR320, DecodeR320, "81050027:  12 345\r\n", 3, 0, kWhyNoNumber},
        {"r320 minus inside", AcceptsR320, DecodeR320, "81050027:  12-345\r\n", 3, 0, kWhyNoNumber},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> f = Bytes(c.reply);
        Reading r = Sentinel();
        const bool accepted = c.accepts(f.data(), f.size());
        const zel::exchange::Decoded got = c.decode(f.data(), f.size(), r);
        EXPECT_EQ(got.result, c.result);
        if (c.result == 3) {
            if (c.why) {
                EXPECT_TRUE(accepted);
                EXPECT_STREQ(got.why, c.why);
            }
            EXPECT_TRUE(r.weight == -77.0 || r.weight == 0.0) << r.weight;
            continue;
        }
        EXPECT_TRUE(accepted);
        EXPECT_DOUBLE_EQ(r.weight, c.weight);
        if (c.result == 7) {
            EXPECT_EQ(r.stable, 0);
        }
    }
}

TEST(AsciiDecoders, ThousandthsTruncateButKeepWholeNumbers) {
    const struct {
        double value, expected;
    } cases[] = {{1.005, 1005}, {4.35, 4350}, {-4.35, -4350}, {0.0009, 0}, {-0.0009, 0},
                 {2.9999, 2999}, {123456.789, 123456789}, {1e19, 1e22}};
    for (const auto& c : cases) {
        EXPECT_EQ(zel::ascii::Thousandths(c.value), c.expected) << c.value;
    }
}

TEST(AsciiDecoders, EndConditions) {
    struct Case {
        const char* name;
        bool (*complete)(const uint8_t*, size_t);
        std::string held;
        bool ends;
    };
    const Case cases[] = {
        {"digi LF early", zel::ascii::DigiComplete, "\x02\x0A", false},
        {"digi 11 bytes and LF", zel::ascii::DigiComplete, "\x02\x02\r0001250\r\n", true},
        {"digi 11 bytes, CR", zel::ascii::DigiComplete, "\x02\x02\r0001250\r\r", false},
        {"hbm 5 bytes and LF", zel::ascii::HbmComplete, "125\r\n", false},
        {"hbm 6 bytes and CR", zel::ascii::HbmComplete, "  1250\r", true},
        {"hbm 6 bytes, no end", zel::ascii::HbmComplete, "  1250", false},
        {"keli 10 bytes", zel::ascii::KeliComplete, std::string("\x02NW:00125\x03", 10), false},
        {"keli 11 bytes", zel::ascii::KeliComplete, std::string("\x02NW:001250\x03", 11), true},
        {"r320 CR LF early", zel::ascii::R320Complete, "8105\r\n", false},
        {"r320 11 bytes", zel::ascii::R320Complete, "810500271\r\n", true},
        {"r320 LF CR", zel::ascii::R320Complete, "8105002712\n\r", false},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> f = Bytes(c.held);
        EXPECT_EQ(c.complete(f.data(), f.size()), c.ends) << c.name;
    }
}

TEST(AsciiDecoders, ShortInputIsNeverReadBeyondItsLength) {
    const uint8_t one[1] = {'S'};
    for (auto decode : {zel::ascii::DecodeRadwag, zel::ascii::DecodeDigi, zel::ascii::DecodeHbm,
                        zel::ascii::DecodeKeli}) {
        Reading r = Sentinel();
        EXPECT_EQ(decode(one, 1, r).result, 3);
        EXPECT_EQ(r.weight, -77.0);
    }
    Reading r;
    EXPECT_EQ(zel::ascii::DecodeR320(one, 1, r).verdict, Verdict::kEndCycle);
}

// --- through the engine --------------------------------------------------

namespace {

// The scale answers each request with `reply(attempt)` after 5 ms, split into
// `chunks` pieces 3 ms apart.
void Answer(ScriptedLine& line, std::function<std::string(int)> reply, size_t chunks = 1) {
    auto attempt = std::make_shared<int>(0);
    line.onWrite = [=](ScriptedLine& l, const std::vector<uint8_t>&) {
        const std::string r = reply((*attempt)++);
        const size_t step = (r.size() + chunks - 1) / chunks;
        for (size_t i = 0; i * step < r.size(); ++i) l.Arrive(5 + 3 * i, Bytes(r.substr(i * step, step)));
    };
}

struct CycleRun {
    int32_t result;
    Reading io;
    size_t requests;
    uint64_t took;
};

CycleRun Cycle(const PolledProtocol& p, ScriptedLine& line) {
    ScriptedSession session;
    CycleRun r;
    r.io.weight = 99.0;
    r.result = zel::exchange::RunReadCycle(p, line, session, r.io);
    r.requests = line.writes.size();
    r.took = line.now;
    EXPECT_EQ(session.releases, 1);
    return r;
}

}  // namespace

TEST(AsciiExchange, RepliesEndAtTheirTerminatorWithoutWaiting) {
    struct Case {
        const char* name;
        const PolledProtocol* protocol;
        std::string reply;
        double weight;
    };
    const Case cases[] = {
        {"radwag", &zel::ascii::kRadwagProtocol, RadwagReply(' ', ' ', "   2.5000"), 2.5},
        {"digi", &zel::ascii::kDigiProtocol, "\x02\x02\r0002500\r\n", 2500},
        {"hbm", &zel::ascii::kHbmProtocol, "   2500\r\n", 2500},
        {"keli", &zel::ascii::kKeliProtocol, std::string("\x02NW:   2.500 kg\x03", 16), 2.5},
        {"r320", &zel::ascii::kR320Protocol, "81050027:   2.500\r\n", 2500},
    };
    for (const Case& c : cases) {
        for (size_t chunks : {size_t{1}, size_t{4}, c.reply.size()}) {
            SCOPED_TRACE(testing::Message() << c.name << " in " << chunks << " pieces");
            ScriptedLine line;
            Answer(line, [&](int) { return c.reply; }, chunks);
            CycleRun r = Cycle(*c.protocol, line);
            EXPECT_EQ(r.result, 0);
            EXPECT_DOUBLE_EQ(r.io.weight, c.weight);
            EXPECT_EQ(r.requests, 1u);
            // Taken as its last byte lands: no 50 ms step, no wait for a
            // buffer that never fills; only the collision window after it.
            EXPECT_LE(r.took, 5 + 3 * chunks + zel::exchange::kCollisionWindowMs);
        }
    }
}

TEST(AsciiExchange, AttemptsAndSilence) {
    struct Case {
        const PolledProtocol* protocol;
        size_t attempts;
    };
    for (Case c : {Case{&zel::ascii::kRadwagProtocol, 3}, Case{&zel::ascii::kDigiProtocol, 2},
                   Case{&zel::ascii::kHbmProtocol, 2}, Case{&zel::ascii::kKeliProtocol, 2},
                   Case{&zel::ascii::kR320Protocol, 3}}) {
        ScriptedLine line;
        CycleRun r = Cycle(*c.protocol, line);
        EXPECT_EQ(r.result, 3);
        EXPECT_EQ(r.io.weight, 0.0);
        EXPECT_EQ(r.requests, c.attempts);
        EXPECT_EQ(r.took, c.attempts * 500);
    }
}

TEST(AsciiExchange, ShortHbmReplyWaitsOutTheBudgetAndFails) {
    ScriptedLine line;
    Answer(line, [](int attempt) { return attempt == 0 ? std::string("125\r\n") : std::string("  -1250\r\n"); });
    CycleRun r = Cycle(zel::ascii::kHbmProtocol, line);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.io.weight, -1250.0);
    EXPECT_EQ(r.requests, 2u);
    EXPECT_GE(r.took, 500u);
}

TEST(AsciiExchange, R320WithoutANumberAsksOnce) {
    ScriptedLine line;
    Answer(line, [](int) { return std::string("81050027:  ERROR\r\n"); });
    CycleRun r = Cycle(zel::ascii::kR320Protocol, line);
    EXPECT_EQ(r.result, 3);
    EXPECT_EQ(r.io.weight, 0.0);
    EXPECT_EQ(r.requests, 1u);
    EXPECT_LT(r.took, 50u);
}

TEST(AsciiExchange, RadwagStrayBytesCostFiftyEach) {
    // Nine stray bytes cost 450 ms and leave room for the reply; ten spend
    // the attempt's budget.
    struct Case {
        size_t stray;
        size_t requests;
    };
    for (Case c : {Case{0, 1}, Case{9, 1}, Case{10, 2}}) {
        SCOPED_TRACE(c.stray);
        ScriptedLine line;
        Answer(line, [&](int attempt) {
            return (attempt == 0 ? std::string(c.stray, 'x') : std::string()) + RadwagReply('?', '-', "   1.2340");
        });
        CycleRun r = Cycle(zel::ascii::kRadwagProtocol, line);
        EXPECT_EQ(r.result, 0);
        EXPECT_DOUBLE_EQ(r.io.weight, -1.234);
        EXPECT_EQ(r.io.stable, 0);
        EXPECT_EQ(r.requests, c.requests);
        if (c.requests == 1) {
            EXPECT_GE(r.took, 50 * c.stray);
        }
    }
}

TEST(AsciiCommands, BytesPausesAndDrain) {
    struct Case {
        const char* name;
        const zel::exchange::CommandSpec* command;
        std::string bytes;
        uint64_t pause;
        bool drains;
    };
    const Case cases[] = {
        {"radwag tare", &zel::ascii::kRadwagTare, "I\r\n", 600, true},
        {"hbm tare", &zel::ascii::kHbmTare, "S1;TAR;", 150, false},
        {"keli zero", &zel::ascii::kKeliZero, std::string("\x02" "E\x03", 3), 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine line;
        ScriptedSession session;
        // The scale acknowledges within the pause.
        line.onWrite = [](ScriptedLine& l, const std::vector<uint8_t>&) { l.Arrive(0, Bytes("ACK\r\n")); };
        EXPECT_EQ(zel::exchange::RunCommand(line, session, *c.command), 0);
        ASSERT_EQ(line.writes.size(), 1u);
        EXPECT_EQ(line.writes[0].bytes, Bytes(c.bytes));
        EXPECT_EQ(line.now, c.pause);
        EXPECT_EQ(line.Pending() == 0, c.drains);
        EXPECT_EQ(session.releases, 1);
    }
}

TEST(AsciiClasses, FactoryAndCommandsEachClassLacks) {
    struct Case {
        int32_t model;
        bool tare, zero;
    };
    for (Case c : {Case{35, true, false}, Case{23, false, false}, Case{26, true, false}, Case{16, false, true},
                   Case{11, false, false}}) {
        SCOPED_TRACE(c.model);
        std::unique_ptr<IScalesObject> o(CreateScalesObject(c.model));
        ASSERT_NE(o, nullptr);
        auto* polled = dynamic_cast<CPolledProtocolScale*>(o.get());
        ASSERT_NE(polled, nullptr);
        EXPECT_EQ(o->Line(), zel::LineVariant::k8N1);
        using zel::devices::Command;
        EXPECT_EQ(zel::devices::Takes(c.model, Command::kTare), c.tare);
        EXPECT_EQ(zel::devices::Takes(c.model, Command::kZero), c.zero);
        EXPECT_FALSE(zel::devices::Takes(c.model, Command::kPrice));
        // Nothing is open: a command the class has tries the line (1), one it
        // lacks is refused (5) without touching it.
        EXPECT_EQ(o->Tare(1.0), c.tare ? 1 : 5);
        EXPECT_EQ(o->Zero(), c.zero ? 1 : 5);
        EXPECT_EQ(o->SendPrice(1250), 5);
    }
}

#ifndef _WIN32
TEST(AsciiClasses, CommandsReachTheLine) {
    struct Case {
        int32_t model;
        bool zero;  // else tare
        std::string bytes;
        uint64_t pauseMs;
    };
    const Case cases[] = {
        {35, false, "I\r\n", 600},
        {26, false, "S1;TAR;", 150},
        {16, true, std::string("\x02" "E\x03", 3), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        zeltest::Pty pty;
        ASSERT_NE(pty.master, platform::kNoHandle);
        std::unique_ptr<IScalesObject> o(CreateScalesObject(c.model));
        ASSERT_EQ(o->OpenCom(pty.slave.c_str(), 9600, nullptr), 0);
        const uint64_t start = platform::MonotonicMs();
        EXPECT_EQ(c.zero ? o->Zero() : o->Tare(0.0), 0);
        EXPECT_GE(platform::MonotonicMs() - start + 2, c.pauseMs);
        std::string got;
        char buf[64];
        for (int spin = 0; spin < 100 && got.size() < c.bytes.size(); ++spin) {
            long n = platform::IoRead(pty.master, buf, sizeof buf);
            if (n > 0) got.append(buf, static_cast<size_t>(n));
            else platform::SleepMs(5);
        }
        EXPECT_EQ(got, c.bytes);
    }
}
#endif
