// Continuously transmitting scales: their frames decoded on bytes, their
// checks, and the read cycle following a stream that it joins anywhere.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "devices/ModelTable.h"
#include "scales/Continuous.h"
#include "scales/exchange/Exchange.h"
#include "tests/unit/exchange_scripted_line.h"

using zel::exchange::PolledProtocol;
using zel::exchange::Reading;
using zeltest::ScriptedLine;
using zeltest::ScriptedSession;
namespace cont = zel::continuous;

namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

struct Format {
    int model;
    const PolledProtocol* protocol;
    std::string sample;  // a valid frame
};

// Valid frames as the scales send them.
const std::string kCertus("\r S,GS,-  12.34 kg\r\n", 20);
const std::string kJadever("\r ST GS + " "   1.234 kg\r\n", 23);
const std::string kSmart("\x02-  1.234kg \r", 13);
const std::string kVis("\nST,GS,  -1.234kg\r", 18);
const std::string kT7e("=432.100", 8);
const std::string kEsit("-0\xB1" "234\r", 7);
const std::string kOcs("\x7F" "1432!0\x01\x14", 9);      // 1.234, stable
const std::string kOcs7F("\x7F" "1960@0\x01\x7F", 9);      // 2.069, its check byte is 7F

const Format kFormats[] = {
    {25, &cont::kCertusProtocol, kCertus}, {19, &cont::kJadeverProtocol, kJadever},
    {33, &cont::kSmartProtocol, kSmart},   {39, &cont::kVisProtocol, kVis},
    {29, &cont::kT7eProtocol, kT7e},       {36, &cont::kEsitProtocol, kEsit},
    {18, &cont::kOcsProtocol, kOcs},       {18, &cont::kOcsProtocol, kOcs7F},
};

Reading Sentinel() {
    Reading r;
    r.weight = -77.0;
    r.price = 0.0;
    r.cost = 0.0;
    r.stable = 5;
    return r;
}

// Puts a frame's bytes into `field` at `at` of a copy.
std::string With(std::string frame, size_t at, const std::string& field) {
    frame.replace(at, field.size(), field);
    return frame;
}

}  // namespace

TEST(ContinuousDecoders, Frames) {
    struct Case {
        const char* name;
        const PolledProtocol* protocol;
        std::string frame;
        double weight;
        int32_t stable;
    };
    const Case cases[] = {
        {"certus negative", &cont::kCertusProtocol, kCertus, -12.34, 1},
        {"certus plus before the number", &cont::kCertusProtocol, With(With(kCertus, 7, " "), 8, " +12.34"), 12.34, 1},
        {"certus in grams", &cont::kCertusProtocol, With(kCertus, 15, "  g"), -0.01234, 1},
        {"certus in tonnes", &cont::kCertusProtocol, With(kCertus, 15, "t  "), -12340.0, 1},
        {"certus no unit", &cont::kCertusProtocol, With(kCertus, 15, "   "), -12.34, 1},
        // Bytes that name no unit leave kilograms.
        {"certus text stops at 15", &cont::kCertusProtocol, With(kCertus, 8, "1.23456789"), -1.23456, 1},
        {"certus pieces", &cont::kCertusProtocol, With(kCertus, 15, "pcs"), -12.34, 1},
        {"certus minus zero", &cont::kCertusProtocol, With(kCertus, 8, "  0.000"), 0.0, 1},
        {"jadever", &cont::kJadeverProtocol, kJadever, 1.234, 1},
        {"jadever plus before the number", &cont::kJadeverProtocol, With(kJadever, 10, "  +1.234"), 1.234, 1},
        {"jadever the text's own minus", &cont::kJadeverProtocol, With(With(kJadever, 8, " "), 10, "  -1.234"), -1.234,
         1},
        {"jadever negative unstable", &cont::kJadeverProtocol, With(With(kJadever, 2, "US"), 8, "-"), -1.234, 0},
        {"jadever eleven digits", &cont::kJadeverProtocol, With(kJadever, 10, "12345.67890"), 12345.6789, 1},
        {"jadever in grams", &cont::kJadeverProtocol, With(kJadever, 10, "    1234  g"), 1.234, 1},
        {"jadever minus zero", &cont::kJadeverProtocol, With(kJadever, 8, "- " "   0.000 kg"), 0.0, 1},
        {"smart", &cont::kSmartProtocol, kSmart, -1.234, 1},
        {"smart in motion", &cont::kSmartProtocol, With(kSmart, 11, "M"), -1.234, 0},
        {"smart in grams", &cont::kSmartProtocol, With(kSmart, 1, "    1234 g"), 1.234, 1},
        {"smart no unit", &cont::kSmartProtocol, With(kSmart, 9, "  "), -1.234, 1},
        {"smart text stops at 9", &cont::kSmartProtocol, With(kSmart, 1, " 0001.23456"), 1.23, 0},
        {"vis", &cont::kVisProtocol, kVis, -1.234, 1},
        {"vis unstable still weighs", &cont::kVisProtocol, With(kVis, 1, "US"), -1.234, 0},
        {"vis sign first", &cont::kVisProtocol, With(kVis, 7, "-  1.234"), -1.234, 1},
        {"vis in grams", &cont::kVisProtocol, With(kVis, 7, "   -1234 g"), -1.234, 1},
        {"vis text stops at 15", &cont::kVisProtocol, With(kVis, 7, "12.345678"), 12.34567, 1},
        {"t7e reversed", &cont::kT7eProtocol, kT7e, 1.234, 0},
        {"t7e negative", &cont::kT7eProtocol, "=432.10-", -1.234, 0},
        {"t7e integer", &cont::kT7eProtocol, "=5200000", 25.0, 0},
        {"t7e padded", &cont::kT7eProtocol, "=432.1  ", 1.234, 0},
        {"t7e comma", &cont::kT7eProtocol, "=432,100", 1.234, 0},
        {"smart comma", &cont::kSmartProtocol, With(kSmart, 5, ","), -1.234, 1},
        {"vis comma", &cont::kVisProtocol, With(kVis, 11, ","), -1.234, 1},
        {"t7e minus zero", &cont::kT7eProtocol, "=000.00-", 0.0, 0},
        {"esit point after the second digit", &cont::kEsitProtocol, kEsit, -1.234, 1},
        {"esit positive integer", &cont::kEsitProtocol, "+01234\r", 1234.0, 1},
        {"esit point after the last digit", &cont::kEsitProtocol, "+1234\xB5\r", 12345.0, 1},
        {"ocs", &cont::kOcsProtocol, kOcs, 1.234, 1},
        {"ocs check byte 7F", &cont::kOcsProtocol, kOcs7F, 2.069, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> f = Bytes(c.frame);
        ASSERT_EQ(f.size(), static_cast<size_t>(c.protocol->replyLength));
        ASSERT_TRUE(c.protocol->accepts(f.data(), f.size()));
        Reading r = Sentinel();
        EXPECT_EQ(c.protocol->decode(f.data(), f.size(), r).result, 0);
        EXPECT_DOUBLE_EQ(r.weight, c.weight);
        if (c.weight == 0.0) {
            EXPECT_FALSE(std::signbit(r.weight));
        }
        EXPECT_EQ(r.stable, c.stable);
        EXPECT_EQ(r.price, 0.0);
        EXPECT_EQ(r.cost, 0.0);
    }
}

TEST(ContinuousDecoders, FramesThatMakeNoReading) {
    // Fields that hold no number, a space, letter or second point among the
    // digits, units that are no weight in kilograms, and the overload marks.
    // Each read as a weight with result 0 before.
    using zel::exchange::kWhyNoNumber;
    using zel::exchange::kWhyNotMetric;
    const char* const kOverloaded = "overload";
    struct Case {
        const char* name;
        const PolledProtocol* protocol;
        std::string frame;
        const char* why;  // kOverloaded: result 7
    };
    const Case cases[] = {
        {"certus space among the digits (was 12)", &cont::kCertusProtocol, With(With(kCertus, 7, "+"), 8, " 12 345"),
         kWhyNoNumber},
        {"certus comma (was -1)", &cont::kCertusProtocol, With(kCertus, 8, "  1,234"), kWhyNoNumber},
        {"certus blank (was 0)", &cont::kCertusProtocol, With(With(kCertus, 2, "U"), 8, "       "), kWhyNoNumber},
        {"certus dashes", &cont::kCertusProtocol, With(kCertus, 7, " -------"), kWhyNoNumber},
        {"certus OL", &cont::kCertusProtocol, With(kCertus, 7, "     OL "), kWhyNoNumber},
        {"certus letters (was -5)", &cont::kCertusProtocol, With(kCertus, 8, "   5kg "), kWhyNoNumber},
        {"certus plus after a digit (was 1)", &cont::kCertusProtocol, With(With(kCertus, 7, " "), 8, " 1+2.34"),
         kWhyNoNumber},
        {"certus a point without its digit", &cont::kCertusProtocol, With(kCertus, 8, "   .234"), kWhyNoNumber},
        {"certus two signs", &cont::kCertusProtocol, With(kCertus, 8, " -12.34"), kWhyNoNumber},
        {"certus pounds", &cont::kCertusProtocol, With(kCertus, 15, " lb"), kWhyNotMetric},
        {"certus ounces", &cont::kCertusProtocol, With(kCertus, 15, " oz"), kWhyNotMetric},
        {"jadever blank", &cont::kJadeverProtocol, With(kJadever, 10, "        kg "), kWhyNoNumber},
        {"jadever space among the digits", &cont::kJadeverProtocol, With(kJadever, 10, "  1 234 kg "),
         kWhyNoNumber},
        {"jadever last digit lost", &cont::kJadeverProtocol, With(kJadever, 10, "   1.23  kg"), kWhyNoNumber},
        {"jadever letter among the digits", &cont::kJadeverProtocol, With(kJadever, 10, "   1.2A4 kg"), kWhyNoNumber},
        {"jadever unit against the number", &cont::kJadeverProtocol, With(kJadever, 10, "   1.2345kg"), kWhyNoNumber},
        {"jadever sign byte a letter", &cont::kJadeverProtocol, With(kJadever, 8, "x"), kWhyNoNumber},
        {"jadever minus against a plus", &cont::kJadeverProtocol, With(kJadever, 10, "  -1.234"), kWhyNoNumber},
        {"jadever two minus signs", &cont::kJadeverProtocol, With(With(kJadever, 8, "-"), 10, "  -1.234"),
         kWhyNoNumber},
        {"jadever pounds", &cont::kJadeverProtocol, With(kJadever, 19, "lb"), kWhyNotMetric},
        {"jadever overload", &cont::kJadeverProtocol, With(kJadever, 2, "OL"), kOverloaded},
        {"smart dashes", &cont::kSmartProtocol, With(kSmart, 1, " -------"), kWhyNoNumber},
        {"smart ounces", &cont::kSmartProtocol, With(kSmart, 9, "oz"), kWhyNotMetric},
        {"vis OL in the status", &cont::kVisProtocol, With(kVis, 1, "OL"), kOverloaded},
        {"vis OL in the weight", &cont::kVisProtocol, With(kVis, 7, "      OL"), kOverloaded},
        {"vis dashes", &cont::kVisProtocol, With(kVis, 7, " -------"), kWhyNoNumber},
        {"vis pounds", &cont::kVisProtocol, With(kVis, 15, "lb"), kWhyNotMetric},
        {"t7e letters (was 0)", &cont::kT7eProtocol, "=abcdefg", kWhyNoNumber},
        {"t7e blank", &cont::kT7eProtocol, "=       ", kWhyNoNumber},
        {"t7e dashes", &cont::kT7eProtocol, "=-------", kWhyNoNumber},
        {"t7e space among the digits", &cont::kT7eProtocol, "=432 100", kWhyNoNumber},
        {"t7e comma and point", &cont::kT7eProtocol, "=43,.100", kWhyNoNumber},
        {"esit second point (was 1.2)", &cont::kEsitProtocol, "+\xB1\xB2" "345\r", kWhyNoNumber},
        {"esit a letter", &cont::kEsitProtocol, "+01A34\r", kWhyNoNumber},
        {"esit a space", &cont::kEsitProtocol, "+ 1234\r", kWhyNoNumber},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> f = Bytes(c.frame);
        ASSERT_EQ(f.size(), static_cast<size_t>(c.protocol->replyLength));
        Reading r = Sentinel();
        const zel::exchange::Decoded d = c.protocol->decode(f.data(), f.size(), r);
        if (c.why == kOverloaded) {
            EXPECT_EQ(d.result, 7);
            EXPECT_EQ(r.weight, 0.0);
            EXPECT_EQ(r.stable, 0);
        } else {
            EXPECT_EQ(d.result, 3);
            EXPECT_EQ(d.verdict, zel::exchange::Verdict::kRetry);
            EXPECT_STREQ(d.why, c.why);
            EXPECT_EQ(r.weight, -77.0);  // untouched
        }
    }
}

TEST(ContinuousDecoders, OcsWeightCharacters) {
    const double kRefused = 1e9;
    // Offsets 6 down to 2 are the weight, most significant first; the
    // characters ) ! @ # $ % ^ & * ( are 0-9 followed by the point.
    const char* withPoint = ")!@#$%^&*(";
    for (int d = 0; d < 10; ++d) {
        EXPECT_EQ(cont::OcsPointDigit(static_cast<uint8_t>(withPoint[d])), '0' + d) << d;
    }
    for (int other : {0x30, 0x39, 0x2D, 0x20, 0x2E, 0x2B, 0x7F, 0x00, 0xA9}) {
        EXPECT_EQ(cont::OcsPointDigit(static_cast<uint8_t>(other)), 0) << other;
    }
    struct Case {
        const char* weight;  // offsets 6, 5, 4, 3, 2
        uint8_t status;
        double value;  // kRefused: no reading
        int32_t stable;
    };
    const Case cases[] = {
        {"0!234", 0x01, 1.234, 1},  // 30 21 32 33 34: "01.234"
        {"-!234", 0x00, -1.234, 0},
        {" 12#4", 0x03, 123.4, 1},  // a space is skipped; bit 0 alone is stable
        {"1234(", 0x02, 12349.0, 0},
        {"12345", 0xFE, 12345.0, 0},
        {"-0000", 0x01, 0.0, 1},    // no minus zero
        // A second point, letters, a space or a sign among the digits made
        // 1.2 and the like before.
        {"!@345", 0x01, kRefused, 0},
        {"AB!2C", 0x01, kRefused, 0},
        {"1 234", 0x01, kRefused, 0},
        {"12-34", 0x01, kRefused, 0},
        {"     ", 0x01, kRefused, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.weight);
        std::vector<uint8_t> f = {0x7F, '1', 0, 0, 0, 0, 0, c.status, 0};
        for (int i = 0; i < 5; ++i) f[static_cast<size_t>(6 - i)] = static_cast<uint8_t>(c.weight[i]);
        for (size_t i = 1; i <= 7; ++i) f[8] ^= f[i];
        ASSERT_TRUE(cont::AcceptsOcs(f.data(), f.size()));
        Reading r = Sentinel();
        const int32_t result = cont::DecodeOcs(f.data(), f.size(), r).result;
        if (c.value == kRefused) {
            EXPECT_EQ(result, 3);
            EXPECT_EQ(r.weight, -77.0);
            continue;
        }
        EXPECT_EQ(result, 0);
        EXPECT_DOUBLE_EQ(r.weight, c.value);
        if (c.value == 0.0) {
            EXPECT_FALSE(std::signbit(r.weight));
        }
        EXPECT_EQ(r.stable, c.stable);
    }
}

TEST(ContinuousDecoders, Checks) {
    struct Case {
        const char* name;
        const PolledProtocol* protocol;
        std::string frame;
        bool accepted;
    };
    std::string ocsFlipped = kOcs;
    ocsFlipped[4] ^= 0x01;  // one data bit
    const Case cases[] = {
        {"certus no CR", &cont::kCertusProtocol, With(kCertus, 18, " "), false},
        {"certus no LF", &cont::kCertusProtocol, With(kCertus, 19, "\r"), false},
        {"certus other bytes free", &cont::kCertusProtocol, With(kCertus, 1, "\x01\x02\x03\x04\x05\x06"), true},
        {"jadever no CR", &cont::kJadeverProtocol, With(kJadever, 21, "\n"), false},
        {"jadever no LF", &cont::kJadeverProtocol, With(kJadever, 22, " "), false},
        {"jadever no space at 4", &cont::kJadeverProtocol, With(kJadever, 4, "_"), false},
        {"jadever no space at 7", &cont::kJadeverProtocol, With(kJadever, 7, "_"), false},
        {"jadever 9 is free", &cont::kJadeverProtocol, With(kJadever, 9, "x"), true},
        {"smart no STX", &cont::kSmartProtocol, With(kSmart, 0, "\x03"), false},
        {"smart no CR", &cont::kSmartProtocol, With(kSmart, 12, "\n"), false},
        {"vis no LF", &cont::kVisProtocol, With(kVis, 0, "\r"), false},
        {"vis no CR", &cont::kVisProtocol, With(kVis, 17, "\n"), false},
        {"t7e anything after '='", &cont::kT7eProtocol, std::string("=\0\xFF\r\n==x", 8), true},
        {"t7e no '='", &cont::kT7eProtocol, "-432.100", false},
        {"esit plus", &cont::kEsitProtocol, With(kEsit, 0, "+"), true},
        {"esit other sign", &cont::kEsitProtocol, With(kEsit, 0, " "), false},
        {"esit no CR", &cont::kEsitProtocol, With(kEsit, 6, "\n"), false},
        {"ocs data bit flipped", &cont::kOcsProtocol, ocsFlipped, false},
        {"ocs check byte wrong", &cont::kOcsProtocol, With(kOcs, 8, "\x15"), false},
        {"ocs no header", &cont::kOcsProtocol, With(kOcs, 0, "\x7E"), false},
        // A stream of 2.069 frames read from the check byte of one: the XOR
        // holds, as it does for a frame whose address is 7F. The frame alone
        // cannot tell them apart; the stream does.
        {"ocs a frame one byte early", &cont::kOcsProtocol, kOcs7F.substr(8) + kOcs7F.substr(0, 8), true},
        {"ocs address 7F", &cont::kOcsProtocol, With(kOcs, 1, "\x7F").replace(8, 1, std::string(1, '\x14' ^ '1' ^ 0x7F)), true},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> f = Bytes(c.frame);
        ASSERT_EQ(f.size(), static_cast<size_t>(c.protocol->replyLength)) << c.name;
        EXPECT_EQ(c.protocol->accepts(f.data(), f.size()), c.accepted) << c.name;
        if (c.accepted) {
            EXPECT_FALSE(c.protocol->accepts(f.data(), f.size() - 1)) << c.name << " short";
        }
    }
    for (const Format& fmt : kFormats) EXPECT_FALSE(fmt.protocol->accepts(nullptr, fmt.sample.size())) << fmt.model;
}

TEST(ContinuousDecoders, ShortFramesAreNeverRead) {
    // A decoder handed less than its frame answers 3 without touching it.
    for (const Format& fmt : kFormats) {
        const std::vector<uint8_t> f = Bytes(fmt.sample);
        Reading r = Sentinel();
        EXPECT_EQ(fmt.protocol->decode(f.data(), f.size() - 1, r).result, 3) << fmt.model;
        EXPECT_EQ(r.weight, -77.0) << fmt.model;
        EXPECT_EQ(fmt.protocol->decode(nullptr, f.size(), r).result, 3) << fmt.model;
    }
}

TEST(ContinuousClasses, MadeByTheFactoryTakeNoCommands) {
    for (int32_t model : {18, 19, 25, 29, 33, 36, 39}) {
        std::unique_ptr<IScalesObject> o(CreateScalesObject(model));
        ASSERT_NE(o, nullptr) << model;
        auto* polled = dynamic_cast<CPolledProtocolScale*>(o.get());
        ASSERT_NE(polled, nullptr) << model;
        EXPECT_EQ(polled->Protocol().requestLength, 0) << model;
        EXPECT_EQ(o->Tare(0.0), 5) << model;
        EXPECT_EQ(o->Zero(), 5) << model;
        EXPECT_EQ(o->SendPrice(1250), 5) << model;
        EXPECT_EQ(o->CheckConnection(), 2) << model;  // nothing was opened
    }
}

namespace {

// A byte stream of frames back to back, starting `skip` bytes into the
// first one, with `gap` bytes of noise (never a frame start) after each.
std::vector<uint8_t> Stream(const std::string& frame, size_t skip, int frames, size_t gap = 0) {
    std::vector<uint8_t> s;
    uint32_t seed = 12345;
    for (int i = 0; i < frames; ++i) {
        for (size_t j = i == 0 ? skip : 0; j < frame.size(); ++j) s.push_back(static_cast<uint8_t>(frame[j]));
        for (size_t j = 0; j < gap; ++j) {
            seed = seed * 1103515245u + 12345u;
            uint8_t b = static_cast<uint8_t>(seed >> 16);
            while (b == 0x0D || b == 0x0A || b == 0x02 || b == '=' || b == '+' || b == '-' || b == 0x7F) b += 3;
            s.push_back(b);
        }
    }
    return s;
}

int32_t Read(const PolledProtocol& p, ScriptedLine& line, Reading& r) {
    ScriptedSession session;
    r = Sentinel();
    return zel::exchange::RunReadCycle(p, line, session, r);
}

}  // namespace

TEST(ContinuousCycle, JoiningTheStreamAnywhereReadsTheNextWholeFrame) {
    // The drain leaves the line at any byte of a frame: a CR, LF or 7F inside
    // a frame may look like a header, and the first attempt still ends with
    // the right weight, with or without noise between the frames.
    for (const Format& fmt : kFormats) {
        Reading expected = Sentinel();
        const std::vector<uint8_t> whole = Bytes(fmt.sample);
        fmt.protocol->decode(whole.data(), whole.size(), expected);
        for (size_t gap : {0u, 7u}) {
            for (size_t skip = 0; skip < fmt.sample.size(); ++skip) {
                SCOPED_TRACE(testing::Message() << "model " << fmt.model << ", from byte " << skip << ", gap " << gap);
                ScriptedLine line;
                line.Arrive(1, Stream(fmt.sample, skip, 3, gap));
                Reading r;
                EXPECT_EQ(Read(*fmt.protocol, line, r), 0);
                EXPECT_DOUBLE_EQ(r.weight, expected.weight);
                EXPECT_EQ(r.stable, expected.stable);
                EXPECT_LE(line.now, 2u);  // no 50 ms step, no second attempt
            }
        }
    }
}

TEST(ContinuousCycle, LongNoiseBeforeTheFrameIsHuntedThrough) {
    // 200 wrong bytes cost 200 ms of budget and no pause. A frame with a
    // header-valued byte inside is taken once the line has been silent
    // for the stream's gap after it.
    for (const Format& fmt : kFormats) {
        SCOPED_TRACE(fmt.model);
        std::vector<uint8_t> noise = Stream(std::string(), 0, 1, 200);
        ScriptedLine line;
        line.Arrive(1, noise);
        line.Arrive(2, Bytes(fmt.sample));
        Reading r;
        EXPECT_EQ(Read(*fmt.protocol, line, r), 0);
        EXPECT_NE(r.weight, -77.0);
        EXPECT_LE(line.now, 5u + static_cast<uint64_t>(fmt.protocol->stream->gapMs));
    }
}

TEST(ContinuousCycle, SilenceAndBrokenStreamsGiveThreeWithinTheBudget) {
    // Per call: 500 ms in all; per attempt: 500 ms each of three.
    for (const Format& fmt : kFormats) {
        const uint64_t total = fmt.protocol->scope == zel::exchange::BudgetScope::kPerCall ? 500 : 1500;
        SCOPED_TRACE(fmt.model);
        ScriptedLine silent;
        Reading r;
        EXPECT_EQ(Read(*fmt.protocol, silent, r), 3);
        EXPECT_EQ(r.weight, 0.0);
        EXPECT_EQ(r.stable, 0);
        EXPECT_GE(silent.now, total);
        EXPECT_LE(silent.now, total + 50);

        // Frames whose last byte is wrong, every 40 ms: each is refused.
        std::string broken = fmt.sample;
        broken.back() = broken.back() == ' ' ? '_' : ' ';
        if (fmt.model == 29) broken[0] = ' ';  // any 8 bytes after '=' pass
        ScriptedLine line;
        for (uint64_t at = 1; at < 2000; at += 40) line.Arrive(at, Bytes(broken));
        EXPECT_EQ(Read(*fmt.protocol, line, r), 3);
        EXPECT_EQ(r.weight, 0.0);
        EXPECT_LE(line.now, total + 100);
    }
}
