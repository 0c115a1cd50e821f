// Command-and-reply indicators (models 2, 3, 4, 9, 24, 37): replies decoded
// on bytes, and the cycle options and commands they use run on a scripted
// line.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "scales/Indicators.h"
#include "tests/unit/exchange_scripted_line.h"
#include "tests/unit/decoder_support.h"

using zel::exchange::Decoded;
using zel::exchange::PolledProtocol;
using zel::exchange::Reading;
using zel::exchange::Verdict;
namespace ind = zel::indicators;

namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

using zeltest::Sentinel;

struct DecodeCase {
    const char* name;
    std::string frame;
    int32_t result;
    double weight;
    int32_t stable;
    Verdict verdict = Verdict::kAccept;
};

using AcceptsFn = bool (*)(const uint8_t*, size_t);
using DecodeFn = Decoded (*)(const uint8_t*, size_t, Reading&);

void RunDecodeCases(AcceptsFn accepts, DecodeFn decode, const std::vector<DecodeCase>& cases) {
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> f = Bytes(c.frame);
        ASSERT_TRUE(accepts(f.data(), f.size()));
        Reading r = Sentinel();
        const Decoded d = decode(f.data(), f.size(), r);
        EXPECT_EQ(d.result, c.result);
        EXPECT_EQ(d.verdict, c.verdict);
        EXPECT_DOUBLE_EQ(r.weight, c.weight);
        EXPECT_FALSE(std::signbit(r.weight) && r.weight == 0.0) << "minus zero";
        EXPECT_EQ(r.stable, c.stable);
        EXPECT_EQ(r.price, -77.0);  // no indicator reports a price
        EXPECT_EQ(r.cost, -77.0);
    }
}

}  // namespace

TEST(IndicatorDecoders, Tbe) {
    RunDecodeCases(ind::AcceptsTbe, ind::DecodeTbe,
                   {
                       {"right-aligned", " " + std::string(6, ' ') + "1.234\r\n", 0, 1234, 0},
                       {"CR at 13 only", "       1.234 \r", 0, 1234, 0},
                       {"negative", "      -12.50\r\n", 0, -12500, 0},
                       {"text from offset 1", " 12.5kg     \r\n", 0, 12500, 0},
                       // Tenths the double holds a hair low are still whole grams.
                       {"32.3 kg is 32300 g", "        32.3\r\n", 0, 32300, 0},
                       {"64.1 kg", "        64.1\r\n", 0, 64100, 0},
                       {"-32.3 kg", "       -32.3\r\n", 0, -32300, 0},
                       {"fourth decimal cut", "      1.2349\r\n", 0, 1234, 0},
                       {"zero", "       0.000\r\n", 0, 0, 0},
                       {"minus zero", "      -0.000\r\n", 0, 0, 0},
                       // A blank display is no reading, and asking again brings the same.
                       {"blank before CR LF", std::string(12, ' ') + "\r\n", 3, -77, 5, Verdict::kEndCycle},
                       {"blank before CR", std::string(13, ' ') + "\r", 3, -77, 5, Verdict::kEndCycle},
                   });
}

TEST(IndicatorDecoders, Tb1) {
    RunDecodeCases(ind::AcceptsTb1, ind::DecodeTb1,
                   {
                       {"W negative", "R01W-0.500\rX", 0, -0.5, 0},
                       {"W positive", "R01W 1.234\r\n", 0, 1.234, 0},
                       {"N negates", "R01N 0.500\r\n", 0, -0.5, 0},
                       {"N of zero", "R01N 0.000\r\n", 0, 0, 0},
                       {"E keeps the weight with 1099", "R01E 0.500\r\n", 1099, 0.5, 0},
                       {"E without a number is 1099 all the same", "R01E------\r\n", 1099, 0, 0},
                       {"other letter", "R01U 0.500\r\n", 1099, 0, 0},
                       {"letter zero byte", std::string("R01\0 0.500\r\n", 12), 1099, 0, 0},
                       {"CR at 11", "R01W12.3456\r", 0, 12.3456, 0},
                       {"text ends at the unit", "R01W 1.2kg\r\n", 0, 1.2, 0},
                   });
}

TEST(IndicatorDecoders, Axis) {
    RunDecodeCases(ind::AcceptsAxis, ind::DecodeAxis,
                   {
                       // The spaces read '00', the '-' restarts, letters and
                       // the last space read '0': '-12.5000'.
                       {"sign inside", "  -12.5kg     \r\n", 0, -12500, 1},
                       {"right-aligned", "     1.234 kg \r\n", 0, 1234, 1},
                       {"sign first", "-     12.5 kg \r\n", 0, -12500, 1},
                       {"32.3 kg is 32300 g", "      32.3 kg \r\n", 0, 32300, 1},
                       {"trailing letters are zeros", "  1.5kg   XXXX\r\n", 0, 1500, 1},
                   });
}

TEST(IndicatorDecoders, IqPlus) {
    RunDecodeCases(ind::AcceptsIqPlus, ind::DecodeIqPlus,
                   {
                       {"spaces before", "XN\r\n  \n12.345kg\r\n", 0, 12.345, 1},
                       {"negative", "XN\r\n- \n 1.500kg\r\n", 0, -1.5, 1},
                       {"eight digits", "XN\r\n12\n345678  \r\n", 0, 12345678, 1},
                       {"header byte is the engine's", "?N\r\n  \n 0.000??\r\n", 0, 0, 1},
                   });
}

TEST(IndicatorDecoders, Esit) {
    RunDecodeCases(ind::AcceptsEsit, ind::DecodeEsit,
                   {
                       {"right-aligned", "     1.234\r\n", 0, 1.234, 0},
                       {"negative", "       -20\r\n", 0, -20, 0},
                       {"ten digits", "1234567890\r\n", 0, 1234567890.0, 0},
                       {"unit after", "  2.5 kg  \r\n", 0, 2.5, 0},
                   });
}

// Signs and separators a healthy indicator may send, read as the number
// they show.
TEST(IndicatorDecoders, SignsWhereverTheFormatPutsThem) {
    struct Case {
        const char* name;
        AcceptsFn accepts;
        DecodeFn decode;
        std::string frame;
        double weight;
        int32_t stable;
    };
    const Case cases[] = {
        {"tbe plus", ind::AcceptsTbe, ind::DecodeTbe, "      +1.234\r\n", 1234, 0},
        {"tb1 W plus", ind::AcceptsTb1, ind::DecodeTb1, "R01W+1.234\r\n", 1.234, 0},
        {"tb1 W minus after a space", ind::AcceptsTb1, ind::DecodeTb1, "R01W -0.50\r\n", -0.5, 0},
        {"esit plus", ind::AcceptsEsit, ind::DecodeEsit, "    +2.345\r\n", 2.345, 0},
        {"esit comma", ind::AcceptsEsit, ind::DecodeEsit, "     2,345\r\n", 2.345, 0},
        // The IQ plus puts its sign before the digits, wherever they start.
        {"iq minus by the digits", ind::AcceptsIqPlus, ind::DecodeIqPlus, "XN\r\n  \n-1.500kg\r\n", -1.5, 1},
        {"iq minus second", ind::AcceptsIqPlus, ind::DecodeIqPlus, "XN\r\n -\n 1.500kg\r\n", -1.5, 1},
        {"iq minus after the LF", ind::AcceptsIqPlus, ind::DecodeIqPlus, "XN\r\n  \n -0.25kg\r\n", -0.25, 1},
        {"iq minus in 5", ind::AcceptsIqPlus, ind::DecodeIqPlus, "XN\r\n -\n123456kg\r\n", -123456, 1},
        {"iq comma", ind::AcceptsIqPlus, ind::DecodeIqPlus, "XN\r\n  \n 2,345kg\r\n", 2.345, 1},
        {"iq plus sign", ind::AcceptsIqPlus, ind::DecodeIqPlus, "XN\r\n+ \n 1.500kg\r\n", 1.5, 1},
        {"axis comma", ind::AcceptsAxis, ind::DecodeAxis, "     2,345 kg \r\n", 2345, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> f = Bytes(c.frame);
        ASSERT_TRUE(c.accepts(f.data(), f.size()));
        Reading r = Sentinel();
        EXPECT_EQ(c.decode(f.data(), f.size(), r).result, 0);
        EXPECT_EQ(r.weight, c.weight);
        EXPECT_EQ(r.stable, c.stable);
    }
}

// Frames of the right length and line end whose weight text is no number:
// once read as 0 or as another weight with result 0, now no reply.
TEST(IndicatorDecoders, WeightTextThatIsNoNumberIsRefused) {
    struct Case {
        const char* name;
        AcceptsFn accepts;
        DecodeFn decode;
        size_t length;
        std::string frame;
    };
    const Case cases[] = {
        {"tbe letters", ind::AcceptsTbe, ind::DecodeTbe, ind::kTbeReplyLength, "    OVERLOAD\r\n"},
        {"tbe dashes", ind::AcceptsTbe, ind::DecodeTbe, ind::kTbeReplyLength, "      ------\r\n"},
        {"tbe space between digits", ind::AcceptsTbe, ind::DecodeTbe, ind::kTbeReplyLength, "     12 3.45\r\n"},
        {"tbe second point", ind::AcceptsTbe, ind::DecodeTbe, ind::kTbeReplyLength, "       1.2.3\r\n"},
        {"tbe minus after the digits", ind::AcceptsTbe, ind::DecodeTbe, ind::kTbeReplyLength, "      1.234-\r\n"},
        {"tbe CR CR", ind::AcceptsTbe, ind::DecodeTbe, ind::kTbeReplyLength, "       1.234\r\r"},
        {"tb1 W dashes", ind::AcceptsTb1, ind::DecodeTb1, ind::kTb1ReplyLength, "R01W------\r\n"},
        {"tb1 N letters", ind::AcceptsTb1, ind::DecodeTb1, ind::kTb1ReplyLength, "R01N ERROR\r\n"},
        {"tb1 W space between digits", ind::AcceptsTb1, ind::DecodeTb1, ind::kTb1ReplyLength, "R01W1.2 34\r\n"},
        {"tb1 W two signs", ind::AcceptsTb1, ind::DecodeTb1, ind::kTb1ReplyLength, "R01W--0.50\r\n"},
        {"axis second point", ind::AcceptsAxis, ind::DecodeAxis, ind::kAxisReplyLength, " 1.2.3    XXXX\r\n"},
        {"axis only a sign", ind::AcceptsAxis, ind::DecodeAxis, ind::kAxisReplyLength, "-         XXXX\r\n"},
        {"axis two minus signs", ind::AcceptsAxis, ind::DecodeAxis, ind::kAxisReplyLength, "-12-3.0   XXXX\r\n"},
        {"axis digit after the unit", ind::AcceptsAxis, ind::DecodeAxis, ind::kAxisReplyLength, "  12.5kg 5XXXX\r\n"},
        {"axis letter among digits", ind::AcceptsAxis, ind::DecodeAxis, ind::kAxisReplyLength, "     1k2.5 kg \r\n"},
        {"iq letters among digits", ind::AcceptsIqPlus, ind::DecodeIqPlus, ind::kIqReplyLength, "XN\r\n1A\n2.5BCDkg\r\n"},
        {"iq minus after the digits", ind::AcceptsIqPlus, ind::DecodeIqPlus, ind::kIqReplyLength, "XN\r\n  \n12.34-kg\r\n"},
        {"iq no digit", ind::AcceptsIqPlus, ind::DecodeIqPlus, ind::kIqReplyLength, "XN\r\n  \n  ----kg\r\n"},
        {"iq space between digits", ind::AcceptsIqPlus, ind::DecodeIqPlus, ind::kIqReplyLength, "XN\r\n 1\n 2.345kg\r\n"},
        {"esit letters", ind::AcceptsEsit, ind::DecodeEsit, ind::kEsitReplyLength, "  OVERLOAD\r\n"},
        {"esit blank", ind::AcceptsEsit, ind::DecodeEsit, ind::kEsitReplyLength, "          \r\n"},
        {"esit space between digits", ind::AcceptsEsit, ind::DecodeEsit, ind::kEsitReplyLength, "   1 2.500\r\n"},
        // The request "W" CR echoed ahead of a reply.
        {"esit echoed request", ind::AcceptsEsit, ind::DecodeEsit, ind::kEsitReplyLength, "W\r    12.5\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> f = Bytes(c.frame);
        ASSERT_EQ(f.size(), c.length);
        EXPECT_FALSE(c.accepts(f.data(), f.size()));
        Reading r = Sentinel();
        EXPECT_EQ(c.decode(f.data(), f.size(), r).result, 3);
        EXPECT_EQ(r.weight, -77.0);
    }
}

TEST(IndicatorDecoders, VnOld) {
    auto frame = [](uint8_t d1, uint8_t d2, uint8_t d3, uint8_t status) {
        return std::string{'<', '\x00', static_cast<char>(d1), static_cast<char>(d2), static_cast<char>(d3),
                           static_cast<char>(status), '>'};
    };
    RunDecodeCases(ind::AcceptsVnOld, ind::DecodeVnOld,
                   {
                       {"code 3, negative, not stable", frame(0x00, 0x12, 0x34, 0x23), 0, -1234, 0},
                       {"code 0, stable", frame(0x00, 0x12, 0x34, 0x04), 0, 1234000, 1},
                       {"code 1", frame(0x01, 0x23, 0x45, 0x01), 0, 1234500, 0},
                       {"code 2", frame(0x99, 0x99, 0x99, 0x06), 0, 9999990, 1},
                       {"nibble F reads 0", frame(0xF0, 0x12, 0x3F, 0x07), 0, 1230, 1},
                       {"nibble D reads 0", frame(0x0D, 0xDD, 0x01, 0x03), 0, 1, 0},
                       {"negative zero", frame(0x00, 0x00, 0x00, 0x27), 0, 0, 1},
                       {"other status bits", frame(0x00, 0x00, 0x05, 0xDB), 0, 5, 0},
                       // Not a reading: weight 0, 3, the line is closed.
                       {"nibble A", frame(0x0A, 0x00, 0x00, 0x07), 3, 0, 1, Verdict::kEndCycleClosed},
                       {"nibble B", frame(0x00, 0xB0, 0x00, 0x03), 3, 0, 0, Verdict::kEndCycleClosed},
                       {"nibble C", frame(0x00, 0x00, 0x0C, 0x07), 3, 0, 1, Verdict::kEndCycleClosed},
                       {"nibble E", frame(0xEE, 0xEE, 0xEE, 0x03), 3, 0, 0, Verdict::kEndCycleClosed},
                   });
}

TEST(IndicatorDecoders, VnOldStableIsTakenFromEveryCompleteFrame) {
    const std::vector<uint8_t> refused = {'<', 0, 0x00, 0x12, 0x34, 0x04, '?'};
    ASSERT_FALSE(ind::AcceptsVnOld(refused.data(), refused.size()));
    Reading r = Sentinel();
    ind::PeekVnOld(refused.data(), refused.size(), r);
    EXPECT_EQ(r.stable, 1);
    EXPECT_EQ(r.weight, -77.0);
    r = Sentinel();
    ind::PeekVnOld(refused.data(), 6, r);  // not complete yet
    EXPECT_EQ(r.stable, 5);
}

TEST(IndicatorDecoders, FrameChecks) {
    struct Case {
        const char* name;
        AcceptsFn accepts;
        std::string good;
        std::vector<size_t> markers;  // each spoiled alone must refuse the frame
    };
    const Case cases[] = {
        {"tbe", ind::AcceptsTbe, "       1.234\r\n", {12}},
        {"tb1", ind::AcceptsTb1, "R01W 1.234\r\n", {10}},
        {"vn old", ind::AcceptsVnOld, std::string("<\x00\x00\x12\x34\x07>", 7), {0, 6}},
        {"axis", ind::AcceptsAxis, "     1.234 kg \r\n", {14, 15}},
        {"iq plus", ind::AcceptsIqPlus, "XN\r\n  \n12.345kg\r\n", {1, 2, 3, 6, 15, 16}},
        {"esit", ind::AcceptsEsit, "     1.234\r\n", {10, 11}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> f = Bytes(c.good);
        EXPECT_TRUE(c.accepts(f.data(), f.size()));
        EXPECT_FALSE(c.accepts(f.data(), f.size() - 1));
        EXPECT_FALSE(c.accepts(nullptr, f.size()));
        for (size_t m : c.markers) {
            std::vector<uint8_t> bad = f;
            bad[m] = 'Z';
            EXPECT_FALSE(c.accepts(bad.data(), bad.size())) << "marker " << m;
        }
    }
    // TBE: either ending will do, TB1: a CR at 10 or at 11.
    std::vector<uint8_t> tbe = Bytes("       1.234 \r");
    EXPECT_TRUE(ind::AcceptsTbe(tbe.data(), tbe.size()));
    std::vector<uint8_t> tb1 = Bytes("R01W12.345\n\r");
    EXPECT_TRUE(ind::AcceptsTb1(tb1.data(), tb1.size()));
}

TEST(IndicatorDecoders, ShortInputIsRefusedWithoutReading) {
    const uint8_t one[1] = {'<'};
    for (DecodeFn decode : {ind::DecodeTbe, ind::DecodeTb1, ind::DecodeVnOld, ind::DecodeAxis, ind::DecodeIqPlus,
                            ind::DecodeEsit}) {
        Reading r = Sentinel();
        EXPECT_EQ(decode(one, 1, r).result, 3);
        EXPECT_EQ(r.weight, -77.0);
        EXPECT_EQ(r.stable, 5);
    }
}

// --- the cycle and the commands on a scripted line ----------------------------

namespace {

struct CycleRun {
    int32_t result;
    Reading reading;
    zeltest::ScriptedLine line;
    zeltest::ScriptedSession session;
};

// Runs one read cycle; `reply` answers every request.
void RunCycle(const PolledProtocol& p, const std::vector<uint8_t>& reply, CycleRun& run) {
    run.session.line = &run.line;
    if (!reply.empty()) {
        run.line.onWrite = [reply](zeltest::ScriptedLine& l, const std::vector<uint8_t>&) { l.Arrive(5, reply); };
    }
    run.result = zel::exchange::RunReadCycle(p, run.line, run.session, run.reading);
}

}  // namespace

TEST(IndicatorCycles, HowEachCallEnds) {
    const std::string vnBad("<\x00\xE1\x00\x00\x07>", 7);
    const std::string vnRefusedStable("<\x00\x00\x12\x34\x04?", 7);
    struct Case {
        const char* name;
        const PolledProtocol* protocol;
        std::string reply;  // "" for a silent scale
        int32_t result;
        double weight;
        int32_t stable;
        size_t requests;
        int releases, disconnects;
    };
    const Case cases[] = {
        {"tbe reading", &ind::kTbeProtocol, "       1.234\r\n", 0, 1234, 0, 1, 1, 0},
        {"tbe blank ends the call", &ind::kTbeProtocol, std::string(12, ' ') + "\r\n", 3, 0, 0, 1, 1, 0},
        {"tbe silent", &ind::kTbeProtocol, "", 3, 0, 0, 3, 1, 0},
        {"tb1 state E ends the call", &ind::kTb1Protocol, "R01E 0.500\r\n", 1099, 0.5, 0, 1, 1, 0},
        {"axis silent asks twice", &ind::kAxisProtocol, "", 3, 0, 0, 2, 1, 0},
        {"axis minus header", &ind::kAxisProtocol, "-     12.5 kg \r\n", 0, -12500, 1, 1, 1, 0},
        {"iq plus silent", &ind::kIqPlusProtocol, "", 3, 0, 0, 3, 1, 0},
        {"esit reading", &ind::kEsitProtocol, "     1.234\r\n", 0, 1.234, 0, 1, 1, 0},
        {"vn old reading", &ind::kVnOldProtocol, std::string("<\x00\x00\x12\x34\x07>", 7), 0, 1234, 1, 1, 1, 0},
        // Bad digits: 3 at once, the line closed instead of released.
        {"vn old bad digits", &ind::kVnOldProtocol, vnBad, 3, 0, 1, 1, 0, 1},
        // Refused every time, yet the stable flag of the last frame stays.
        {"vn old refused frames", &ind::kVnOldProtocol, vnRefusedStable, 3, 0, 1, 3, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CycleRun run;
        RunCycle(*c.protocol, Bytes(c.reply), run);
        EXPECT_EQ(run.result, c.result);
        EXPECT_DOUBLE_EQ(run.reading.weight, c.weight);
        EXPECT_EQ(run.reading.stable, c.stable);
        EXPECT_EQ(run.line.writes.size(), c.requests);
        EXPECT_EQ(run.session.releases, c.releases);
        EXPECT_EQ(run.session.disconnects, c.disconnects);
        for (const auto& w : run.line.writes) {
            EXPECT_EQ(w.bytes, std::vector<uint8_t>(c.protocol->request, c.protocol->request + c.protocol->requestLength));
        }
        if (c.reply.empty()) {
            // Each attempt spends its own 500 ms.
            EXPECT_EQ(run.line.now, c.requests * 500u);
        }
    }
}

TEST(IndicatorCommands, IqPlusPriceSelectsACommand) {
    struct Case {
        int32_t value;
        std::string bytes;  // "" for none
        int32_t result;
    };
    const Case cases[] = {
        {12345, "STREAM=OFF\r\n", 0}, {1, "EX\r\n", 0}, {2, "SX\r\n", 0},
        {7, "", 5},  {0, "", 5},  {112345, "", 5},  {3, "", 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        zeltest::ScriptedLine line;
        zeltest::ScriptedSession session;
        EXPECT_EQ(ind::RunIqPlusPrice(line, session, c.value), c.result);
        EXPECT_EQ(session.ensures, 1);
        // Released in every case: a value without a command leaves no line
        // held open behind it.
        EXPECT_EQ(session.releases, 1);
        if (c.bytes.empty()) {
            EXPECT_TRUE(line.writes.empty());
            EXPECT_EQ(line.now, 0u);
        } else {
            ASSERT_EQ(line.writes.size(), 1u);
            EXPECT_EQ(line.writes[0].bytes, Bytes(c.bytes));
            EXPECT_EQ(line.now, 150u);
        }
    }
    // No connection: its code, nothing written, nothing released.
    for (int32_t value : {1, 7}) {
        zeltest::ScriptedLine line;
        zeltest::ScriptedSession session;
        session.ensureResult = 1;
        EXPECT_EQ(ind::RunIqPlusPrice(line, session, value), 1) << value;
        EXPECT_TRUE(line.writes.empty());
        EXPECT_EQ(session.releases, 0);
    }
}

// --- what the frame says of itself: unit, address, a sign of its own --------

namespace {

struct SaysCase {
    const char* name;
    AcceptsFn accepts;
    DecodeFn decode;
    std::string frame;
    int32_t result;
    double weight;              // with result 0 (or 1099)
    const char* why = nullptr;  // with result 3: the decoder's reason
};

void RunSaysCases(const std::vector<SaysCase>& cases) {
    for (const SaysCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> f = Bytes(c.frame);
        Reading r = Sentinel();
        const bool accepted = c.accepts(f.data(), f.size());
        const Decoded d = c.decode(f.data(), f.size(), r);
        if (c.result == 3) {
            // Refused by the check or by the decoder, never a reading.
            EXPECT_EQ(d.result, 3);
            EXPECT_EQ(r.weight, -77.0);
            if (c.why && c.why != zel::exchange::kWhyNoNumber) {
                // A well-formed frame the decoder refuses, and says why.
                EXPECT_TRUE(accepted);
                EXPECT_STREQ(d.why, c.why);
            }
            continue;
        }
        ASSERT_TRUE(accepted);
        EXPECT_EQ(d.result, c.result);
        EXPECT_DOUBLE_EQ(r.weight, c.weight);
        EXPECT_FALSE(std::signbit(r.weight)) << "minus zero or a negative";
    }
}

}  // namespace

// Each was read as another weight with result 0: a unit ignored, a reply of
// another address, two signs, a damaged digit.
TEST(IndicatorDecoders, WhatTheFrameSaysOfItself) {
    using zel::exchange::kWhyAddress;
    using zel::exchange::kWhyNoNumber;
    using zel::exchange::kWhyNotMetric;
    using zel::exchange::kWhyUnknownUnit;
    RunSaysCases({
        // TBE delivers grams from its kilograms.
        {"tbe grams", ind::AcceptsTbe, ind::DecodeTbe, "     1234 g \r\n", 0, 1234},
        {"tbe tonnes", ind::AcceptsTbe, ind::DecodeTbe, "     1.234 t\r\n", 0, 1234000},
        {"tbe milligrams", ind::AcceptsTbe, ind::DecodeTbe, "   1500 mg  \r\n", 0, 1.5},
        {"tbe upper-case KG", ind::AcceptsTbe, ind::DecodeTbe, "    1.234 KG\r\n", 0, 1234},
        {"tbe pounds", ind::AcceptsTbe, ind::DecodeTbe, "    2.500 lb\r\n", 3, 0, kWhyNotMetric},
        {"tbe ounces", ind::AcceptsTbe, ind::DecodeTbe, "    2.500oz \r\n", 3, 0, kWhyNotMetric},
        {"tbe no unit", ind::AcceptsTbe, ind::DecodeTbe, "   12.5 pcs \r\n", 3, 0, kWhyUnknownUnit},
        // A last digit damaged into 'g' or 't' is no unit.
        {"tbe digit as g", ind::AcceptsTbe, ind::DecodeTbe, "       1.23g\r\n", 3, 0, kWhyNoNumber},
        {"tbe digit as t", ind::AcceptsTbe, ind::DecodeTbe, "       1.23t\r\n", 3, 0, kWhyNoNumber},
        {"tbe point first", ind::AcceptsTbe, ind::DecodeTbe, "        .234\r\n", 3, 0, kWhyNoNumber},
        {"tbe point last", ind::AcceptsTbe, ind::DecodeTbe, "       1234.\r\n", 3, 0, kWhyNoNumber},
        // TB1 is asked as "01".
        {"tb1 other address", ind::AcceptsTb1, ind::DecodeTb1, "R02W 1.234\r\n", 3, 0, kWhyAddress},
        {"tb1 address 10", ind::AcceptsTb1, ind::DecodeTb1, "R10W 1.234\r\n", 3, 0, kWhyAddress},
        {"tb1 grams", ind::AcceptsTb1, ind::DecodeTb1, "R01W1234 g\r\n", 0, 1.234},
        {"tb1 pounds", ind::AcceptsTb1, ind::DecodeTb1, "R01W1.2 lb\r\n", 3, 0, kWhyNotMetric},
        {"tb1 N with a minus of its own", ind::AcceptsTb1, ind::DecodeTb1, "R01N-0.500\r\n", 3, 0},
        {"tb1 E in pounds is 1099 with no weight", ind::AcceptsTb1, ind::DecodeTb1, "R01E1.2 lb\r\n", 1099, 0},
        // Axis: the unit after the number, or in 10 to 13.
        {"axis grams in its field", ind::AcceptsAxis, ind::DecodeAxis, "     1.234  g \r\n", 0, 1.234},
        {"axis tonnes in its field", ind::AcceptsAxis, ind::DecodeAxis, "     1.234  t \r\n", 0, 1234000},
        {"axis pounds in its field", ind::AcceptsAxis, ind::DecodeAxis, "     1.234 lb \r\n", 3, 0, kWhyNotMetric},
        {"axis pounds in the text", ind::AcceptsAxis, ind::DecodeAxis, "  1.5lb   XXXX\r\n", 3, 0, kWhyNotMetric},
        {"axis two units", ind::AcceptsAxis, ind::DecodeAxis, "  1.5kg    lb \r\n", 3, 0, kWhyUnknownUnit},
        {"axis letters for a unit", ind::AcceptsAxis, ind::DecodeAxis, "     1.234 XY \r\n", 3, 0, kWhyUnknownUnit},
        {"axis point last", ind::AcceptsAxis, ind::DecodeAxis, "     1234. kg \r\n", 3, 0, kWhyNoNumber},
        // IQ plus: the unit in 13 and 14.
        {"iq pounds", ind::AcceptsIqPlus, ind::DecodeIqPlus, "XN\r\n  \n 1.500lb\r\n", 3, 0, kWhyNotMetric},
        {"iq grams", ind::AcceptsIqPlus, ind::DecodeIqPlus, "XN\r\n  \n  1500 g\r\n", 0, 1.5},
        {"iq tonnes", ind::AcceptsIqPlus, ind::DecodeIqPlus, "XN\r\n  \n 1.500t \r\n", 0, 1500},
        {"iq letters for a unit", ind::AcceptsIqPlus, ind::DecodeIqPlus, "XN\r\n  \n 1.500XY\r\n", 3, 0,
         kWhyUnknownUnit},
        {"iq two signs", ind::AcceptsIqPlus, ind::DecodeIqPlus, "XN\r\n--\n 1.500kg\r\n", 3, 0},
        {"iq point first", ind::AcceptsIqPlus, ind::DecodeIqPlus, "XN\r\n  \n  .500kg\r\n", 3, 0},
        // ESIT.
        {"esit grams", ind::AcceptsEsit, ind::DecodeEsit, "  1234 g  \r\n", 0, 1.234},
        {"esit pounds", ind::AcceptsEsit, ind::DecodeEsit, "  2.5 lb  \r\n", 3, 0, kWhyNotMetric},
        {"esit digit as g", ind::AcceptsEsit, ind::DecodeEsit, "     1.23g\r\n", 3, 0},
    });
}
