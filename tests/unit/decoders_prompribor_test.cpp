// Prompribor scales on bytes: the VTA-60 digit reply with its cost check, the
// IE04 weight frame of the polled block, and the scanner line of the
// event-driven block with its byte-by-byte frame reader. The read cycles run
// on a scripted line with a virtual clock.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Text.h"
#include "devices/ModelTable.h"
#include "scales/Prompribor.h"
#include "scales/exchange/Exchange.h"
#include "scales/listener/ListenerScale.h"
#include "scales/listener/VnaCiEvents.h"
#include "tests/unit/exchange_scripted_line.h"
#include "tests/unit/vta_frames.h"

using zel::exchange::Reading;
using zel::exchange::RunReadCycle;
using zel::exchange::Verdict;
using zeltest::ScriptedLine;
using zeltest::ScriptedSession;
using Bytes = std::vector<uint8_t>;

namespace {

using zeltest::VtaReply;

Bytes VnReply(const char* weight, uint8_t status) {
    Bytes f = {0x3C, 0x00};
    for (int i = 0; i < 6; ++i) f.push_back(static_cast<uint8_t>(weight[i]));
    f.push_back(status);
    f.push_back(0x3E);
    return f;
}

Bytes ScannerFrame(const char* weight, uint8_t status, const std::string& text) {
    Bytes f = {0x3C};
    for (int i = 0; i < 6; ++i) f.push_back(static_cast<uint8_t>(weight[i]));
    f.push_back(status);
    f.insert(f.end(), text.begin(), text.end());
    f.push_back(0x0D);
    return f;
}

std::string Str(const uint8_t* p, int n) { return std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(n)); }

class SeparatorGuard {
public:
    explicit SeparatorGuard(char sep) : saved_(zel::DecimalSeparator()) { zel::SetDecimalSeparator(sep); }
    ~SeparatorGuard() { zel::SetDecimalSeparator(saved_); }

private:
    char saved_;
};

// The scale answers each request of `request` bytes with reply(attempt).
void Answer(ScriptedLine& line, size_t requestLength, std::function<Bytes(int)> reply) {
    auto attempt = std::make_shared<int>(0);
    line.onWrite = [=](ScriptedLine& l, const std::vector<uint8_t>& bytes) {
        if (bytes.size() != requestLength) return;
        Bytes r = reply((*attempt)++);
        if (!r.empty()) l.Arrive(5, r);
    };
}

}  // namespace

TEST(VtaDecode, Replies) {
    struct Case {
        const char* name;
        Bytes frame;
        int32_t result;
        Verdict verdict;
        double weight, price, cost;
    };
    const Case cases[] = {
        {"weight, price, cost", {4, 3, 2, 1, 0, 0, 0, 5, 5, 2, 0, 0, 7, 4, 1, 3, 0, 0}, 0, Verdict::kAccept, 1234,
         2550, 3147},
        {"all zero", VtaReply(0, 0, 0), 0, Verdict::kAccept, 0, 0, 0},
        {"weight equals cost at 10.00", VtaReply(5000, 1000, 5000), 0, Verdict::kAccept, 5000, 1000, 5000},
        {"weight equals cost, wrong price", VtaReply(5000, 2000, 5000), 1, Verdict::kRetry, 5000, 2000, 5000},
        // Exact readings that (W / 1000) x (P / 100) x 100 in doubles puts
        // just below the cost: 4.007 kg at 10.00 costs 40.07.
        {"4007 g at 10.00", VtaReply(4007, 1000, 4007), 0, Verdict::kAccept, 4007, 1000, 4007},
        {"11 g at 10.00", VtaReply(11, 1000, 11), 0, Verdict::kAccept, 11, 1000, 11},
        {"570 g at 10.00", VtaReply(570, 1000, 570), 0, Verdict::kAccept, 570, 1000, 570},
        // Below 1 kg a price a little above 10.00 still cuts to the weight.
        {"1 g at 19.99", VtaReply(1, 1999, 1), 0, Verdict::kAccept, 1, 1999, 1},
        {"1 g at 20.00", VtaReply(1, 2000, 1), 1, Verdict::kRetry, 1, 2000, 1},
        {"largest groups", VtaReply(999999, 999999, 999999), 1, Verdict::kRetry, 999999, 999999, 999999},
        {"weight differs from cost: no check", VtaReply(1000, 0, 999999), 0, Verdict::kAccept, 1000, 0, 999999},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(zel::prompribor::AcceptsVtaReply(c.frame.data(), c.frame.size()));
        Reading r;
        r.stable = 1;
        auto d = zel::prompribor::DecodeVtaReply(c.frame.data(), c.frame.size(), r);
        EXPECT_EQ(d.result, c.result);
        EXPECT_EQ(d.verdict, c.verdict);
        EXPECT_EQ(r.weight, c.weight);
        EXPECT_EQ(r.price, c.price);
        EXPECT_EQ(r.cost, c.cost);
        EXPECT_EQ(r.stable, 1);  // the reply has no stability; the cycle set 1
    }
    EXPECT_FALSE(zel::prompribor::AcceptsVtaReply(VtaReply(1, 1, 1).data(), 17));
    EXPECT_FALSE(zel::prompribor::AcceptsVtaReply(nullptr, 18));
}

TEST(VtaDecode, StableAlikeInTheCycleAndOnTheLoggedReply) {
    // The reply carries no stability and the driver reports the scale
    // settled; a reply judged on its own (decode, detect) said not stable.
    const Bytes reply = VtaReply(1234, 2550, 3147);
    const zel::exchange::ReplyJudgement j =
        zel::exchange::JudgeReply(zel::prompribor::kVtaProtocol, reply.data(), reply.size());
    ASSERT_EQ(j.refusal, zel::exchange::Refusal::kNone);
    EXPECT_EQ(j.reading.stable, 1);

    ScriptedLine line;
    ScriptedSession session;
    Answer(line, 3, [&](int) { return reply; });
    Reading io;
    io.stable = 0;
    ASSERT_EQ(RunReadCycle(zel::prompribor::kVtaProtocol, line, session, io), 0);
    EXPECT_EQ(io.stable, j.reading.stable);
    EXPECT_EQ(io.weight, j.reading.weight);
    EXPECT_EQ(io.price, j.reading.price);
    EXPECT_EQ(io.cost, j.reading.cost);

    Reading alone;
    alone.stable = 0;
    EXPECT_EQ(zel::prompribor::DecodeVtaReply(reply.data(), reply.size(), alone).result, 0);
    EXPECT_EQ(alone.stable, 1);
}

TEST(VtaDecode, ByteAboveNineRefusesTheReply) {
    // Each byte is a digit value: any other cut its group's number short and
    // was reported as the weight (1 g for 0A at the tens of 1234 g).
    struct Case {
        const char* name;
        size_t at;
        uint8_t value;
    };
    const Case cases[] = {
        {"0A in the weight", 1, 0x0A},
        {"a space (F0) at the top of the weight", 5, 0xF0},
        {"a minus (FD) at the top of the price", 11, 0xFD},
        {"a NUL (D0) in the cost", 14, 0xD0},
        {"FF last", 17, 0xFF},
    };
    for (const Case& c : cases) {
        Bytes f = VtaReply(1234, 2550, 3146);
        f[c.at] = c.value;
        EXPECT_FALSE(zel::prompribor::AcceptsVtaReply(f.data(), f.size())) << c.name;
    }
    const Bytes nines = VtaReply(999999, 999999, 999999);
    EXPECT_TRUE(zel::prompribor::AcceptsVtaReply(nines.data(), nines.size()));
}

TEST(VtaCycle, GarbledReplyIsAskedAgain) {
    struct Case {
        const char* name;
        std::vector<Bytes> replies;
        int32_t result;
        int requests;
        double weight;
    };
    Bytes garbled = VtaReply(1234, 2550, 3146);
    garbled[1] = 0x0A;  // read as 4 g until now
    const Case cases[] = {
        {"garbled, then good", {garbled, VtaReply(1234, 2550, 3146)}, 0, 2, 1234},
        {"garbled three times", {garbled, garbled, garbled}, 3, 3, -7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine line;
        ScriptedSession session;
        int requests = 0;
        line.onWrite = [&](ScriptedLine& l, const std::vector<uint8_t>&) {
            size_t i = static_cast<size_t>(requests++);
            if (i < c.replies.size()) l.Arrive(5, c.replies[i]);
        };
        Reading io;
        io.weight = -7;
        EXPECT_EQ(RunReadCycle(zel::prompribor::kVtaProtocol, line, session, io), c.result);
        EXPECT_EQ(requests, c.requests);
        EXPECT_EQ(io.weight, c.weight);
    }
}

TEST(VtaDecode, DigitGroupsReadAsTheRuntimeReadsNumbers) {
    struct Case {
        const char* name;
        Bytes group;  // least significant first
        int32_t value;
    };
    const Case cases[] = {
        {"digits", {6, 5, 4, 3, 2, 1}, 123456},
        {"leading zeros", {9, 0, 0, 0, 0, 0}, 9},
        {"a byte above 9 ends the number", {1, 2, 0x0A, 4, 5, 6}, 654},
        {"space before the digits (F0 + 30 = ' ')", {1, 2, 3, 4, 5, 0xF0}, 54321},
        {"minus sign (FD + 30 = '-')", {1, 2, 3, 4, 5, 0xFD}, -54321},
        {"plus sign (FB + 30 = '+')", {1, 2, 0, 0, 0, 0xFB}, 21},
        {"nothing numeric", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0},
        {"sign then a space", {1, 0xF0, 0xFD, 0, 0, 0}, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(zel::prompribor::DigitGroupValue(c.group.data()), c.value) << c.name;
}

TEST(VtaDecode, CostIsWorkedOutExactly) {
    // Every weight at 10.00 costs its own number of hundredths; in doubles
    // about one weight in eight came out a hundredth short.
    int shortInDoubles = 0;
    for (int32_t grams = 0; grams <= 999999; ++grams) {
        ASSERT_EQ(zel::prompribor::CostOf(grams, 1000), grams);
        if (std::trunc((grams / 1000.0) * (1000 / 100.0) * 100.0) != grams) ++shortInDoubles;
    }
    EXPECT_GT(shortInDoubles, 100000);
    EXPECT_EQ(zel::prompribor::CostOf(1234, 2550), 3146);  // 31.467 cut to 31.46
    EXPECT_EQ(zel::prompribor::CostOf(999999, 999999), 999998000);
    EXPECT_EQ(zel::prompribor::CostOf(-54321, 1000), -54321);
    EXPECT_EQ(zel::prompribor::CostOf(-1, 999), 0);  // cut toward zero
}

TEST(VtaCycle, CostCheckRepeatsTheRequest) {
    struct Case {
        const char* name;
        std::vector<Bytes> replies;  // per request; empty: silent
        int32_t result;
        int requests;
        double weight, price, cost;
    };
    const Bytes rejected = VtaReply(5000, 2000, 5000);
    const Case cases[] = {
        {"accepted at once", {VtaReply(4007, 1000, 4007)}, 0, 1, 4007, 1000, 4007},
        {"three rejected", {rejected, rejected, rejected}, 1, 3, 5000, 2000, 5000},
        {"rejected, then good", {rejected, VtaReply(1234, 2550, 3146)}, 0, 2, 1234, 2550, 3146},
        {"rejected, then silent", {rejected, {}, {}}, 1, 3, 5000, 2000, 5000},
        {"silent, then rejected", {{}, {}, rejected}, 1, 3, 5000, 2000, 5000},
        {"silent: the caller's values stay", {{}, {}, {}}, 3, 3, -7, -8, -9},
        {"short replies", {Bytes(17, 1), Bytes(17, 1), Bytes(17, 1)}, 3, 3, -7, -8, -9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine line;
        ScriptedSession session;
        int requests = 0;
        line.onWrite = [&](ScriptedLine& l, const std::vector<uint8_t>& bytes) {
            EXPECT_EQ(bytes, (Bytes{0x00, 0x00, 0x03}));
            size_t i = static_cast<size_t>(requests++);
            if (i < c.replies.size() && !c.replies[i].empty()) l.Arrive(5, c.replies[i]);
        };
        Reading io;
        io.weight = -7;
        io.price = -8;
        io.cost = -9;
        io.stable = 0;
        EXPECT_EQ(RunReadCycle(zel::prompribor::kVtaProtocol, line, session, io), c.result);
        EXPECT_EQ(requests, c.requests);
        EXPECT_EQ(io.weight, c.weight);
        EXPECT_EQ(io.price, c.price);
        EXPECT_EQ(io.cost, c.cost);
        EXPECT_EQ(io.stable, 1);
        EXPECT_EQ(session.releases, 1);
        // 300 ms per silent attempt, nothing for a prompt reply.
        EXPECT_LE(line.now, 3u * 300u + 50u);
    }
}

TEST(VtaCommands, PriceFrame) {
    struct Case {
        int32_t price;
        Bytes bytes;
    };
    const Case cases[] = {
        {12345, {0x00, 0x00, 0x02, 5, 4, 3, 2, 1, 0x00}},
        {0, {0x00, 0x00, 0x02, 0, 0, 0, 0, 0, 0x00}},
        {123456, {0x00, 0x00, 0x02, 6, 5, 4, 3, 2, 0x00}},  // five lowest digits
        {2147483647, {0x00, 0x00, 0x02, 7, 4, 6, 3, 8, 0x00}},
    };
    for (const Case& c : cases) {
        uint8_t out[zel::prompribor::kVtaPriceCommandLength];
        zel::prompribor::BuildVtaPriceCommand(c.price, out);
        EXPECT_EQ(Bytes(out, out + sizeof out), c.bytes) << c.price;
    }
}

TEST(VnDecode, WeightFrames) {
    struct Case {
        const char* name;
        const char* weight;
        uint8_t status;
        double grams;
        int32_t stable;
    };
    const Case cases[] = {
        {"two decimals, stable", "001234", 0x06, 12340, 1},
        {"three decimals", "001234", 0x03, 1234, 0},
        {"one decimal", "001234", 0x01, 123400, 0},
        {"no decimals", "001234", 0x00, 1234000, 0},
        {"minus after spaces", "  -150", 0x03, -150, 0},
        {"spaces before the number", "  1234", 0x06, 12340, 1},
        {"plus", "+01234", 0x03, 1234, 0},
        {"minus zero is zero", "-00000", 0x03, 0, 0},
        {"largest", "999999", 0x00, 999999000, 0},
        {"status bits above 2 ignored", "000005", 0xF8 | 0x03, 5, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes f = VnReply(c.weight, c.status);
        ASSERT_TRUE(zel::prompribor::AcceptsVnReply(f.data(), f.size()));
        Reading r;
        r.price = -1;
        EXPECT_EQ(zel::prompribor::DecodeVnReply(f.data(), f.size(), r).result, 0);
        EXPECT_EQ(r.weight, c.grams);
        if (c.grams == 0) {
            EXPECT_FALSE(std::signbit(r.weight));  // no "-0"
        }
        EXPECT_EQ(r.stable, c.stable);
        EXPECT_EQ(r.price, -1);  // not carried
    }
}

TEST(VnDecode, WeightThatIsNoNumberIsRefused) {
    // Read before as the digits with a 0 for each other character, or from
    // the last '-' on, with result 0.
    const struct {
        const char* weight;
        const char* before;
    } cases[] = {
        {"1 2 34", "102034000"}, {"12-345", "-345"}, {"-1-2-3", "-3"}, {"12345-", "0"},
        {"1.2 3x", "102030"},    {"      ", "0"},    {"------", "0"},  {"  OL  ", "0"},
        {"12 345", "120345000"}, {"1234  ", "123400000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.weight);
        Bytes f = VnReply(c.weight, 0x04);
        ASSERT_TRUE(zel::prompribor::AcceptsVnReply(f.data(), f.size()));
        Reading r;
        r.weight = -77;
        const auto d = zel::prompribor::DecodeVnReply(f.data(), f.size(), r);
        EXPECT_EQ(d.result, 3) << "was " << c.before;
        EXPECT_STREQ(d.why, zel::exchange::kWhyNoNumber);
        EXPECT_EQ(r.weight, -77);
    }
}

TEST(VnDecode, Markers) {
    Bytes good = VnReply("000001", 0x03);
    EXPECT_TRUE(zel::prompribor::AcceptsVnReply(good.data(), 10));
    EXPECT_FALSE(zel::prompribor::AcceptsVnReply(good.data(), 9));
    for (size_t at : {size_t{0}, size_t{9}}) {
        Bytes f = good;
        f[at] = 0x3D;
        EXPECT_FALSE(zel::prompribor::AcceptsVnReply(f.data(), f.size())) << at;
    }
    Bytes any = good;
    any[1] = 0xFF;  // byte 1 is not interpreted
    EXPECT_TRUE(zel::prompribor::AcceptsVnReply(any.data(), any.size()));
}

TEST(VnCycle, StrayBytesBeforeTheHeaderCostFiftyMillisecondsEach) {
    struct Case {
        int stray;
        int32_t result;
        int requests;
    };
    // Five stray bytes fit the 500 ms budget; ten spend it, every attempt.
    for (const Case& c : {Case{0, 0, 1}, Case{5, 0, 1}, Case{10, 3, 3}}) {
        SCOPED_TRACE(c.stray);
        ScriptedLine line;
        ScriptedSession session;
        Answer(line, 4, [&](int) {
            Bytes r(static_cast<size_t>(c.stray), 0x55);
            Bytes f = VnReply("001234", 0x06);
            r.insert(r.end(), f.begin(), f.end());
            return r;
        });
        Reading io;
        EXPECT_EQ(RunReadCycle(zel::prompribor::kVnProtocol, line, session, io), c.result);
        EXPECT_EQ(static_cast<int>(line.writes.size()), c.requests);
        if (c.result == 0) {
            EXPECT_EQ(io.weight, 12340);
            EXPECT_GE(line.now, 5u + 50u * static_cast<unsigned>(c.stray));
            EXPECT_LT(line.now, 5u + 50u * static_cast<unsigned>(c.stray) + 50u);
        } else {
            EXPECT_EQ(io.weight, 0);
        }
        for (const auto& w : line.writes) EXPECT_EQ(w.bytes, (Bytes{0x3C, 0x00, 0x21, 0x3E}));
    }
}

// --- model 6 ---------------------------------------------------------------

TEST(ScannerDecode, Frames) {
    SeparatorGuard dot('.');
    struct Case {
        const char* name;
        Bytes frame;
        double kg;
        uint32_t wParam;
        std::string text;
    };
    const Case cases[] = {
        {"weight and code", ScannerFrame("001234", 0x03, "4820000000017"), 1.234, 1234, "4820000000017"},
        {"no text", ScannerFrame("001234", 0x03, ""), 1.234, 1234, ""},
        {"minus, two decimals", ScannerFrame(" -0150", 0x02, "x"), -1.5, 0xFFFFFA24u, "x"},
        {"minus restarts", ScannerFrame("12-345", 0x03, ""), -0.345, static_cast<uint32_t>(-345), ""},
        {"no decimals", ScannerFrame("000042", 0x00, ""), 42.0, 42000, ""},
        {"semicolons pass", ScannerFrame("000001", 0x03, "a;b;"), 0.001, 1, "a;b;"},
        {"a zero byte ends the text", ScannerFrame("000001", 0x03, std::string("ab\0cd", 5)), 0.001, 1, "ab"},
        {"40 bytes of text", ScannerFrame("000001", 0x03, std::string(40, 'T')), 0.001, 1, std::string(40, 'T')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int n = static_cast<int>(c.frame.size());
        ASSERT_TRUE(zel::vnaci::FrameOk(c.frame.data(), n));
        const double kg = zel::vnaci::FrameWeightKg(c.frame.data());
        EXPECT_DOUBLE_EQ(kg, c.kg);
        EXPECT_EQ(zel::listener::WeightMessageParam(kg), c.wParam);
        EXPECT_EQ(zel::vnaci::FrameText(c.frame.data(), n), c.text);
    }
}

TEST(ScannerDecode, WeightIsTheDecimalTheScaleShows) {
    // Thousandths divided by 1000, not multiplied by 0.001: the double
    // nearest the decimal shown.
    struct Case {
        const char* weight;
        uint8_t status;
        double kg;
    };
    const Case cases[] = {
        {"000009", 0x03, 0.009}, {"000013", 0x03, 0.013}, {"-00051", 0x03, -0.051},
        {"000142", 0x03, 0.142}, {"000003", 0x01, 0.3},
    };
    for (const Case& c : cases) {
        const Bytes f = ScannerFrame(c.weight, c.status, "");
        EXPECT_EQ(zel::vnaci::FrameWeightKg(f.data()), c.kg) << c.weight;
    }
}

TEST(ScannerDecode, FrameChecks) {
    struct Case {
        const char* name;
        Bytes frame;
        bool ok;
    };
    Bytes noCr = ScannerFrame("000001", 0x03, "");
    noCr.back() = 0x0A;
    Bytes badStart = ScannerFrame("000001", 0x03, "");
    badStart[0] = 0x3D;
    const Case cases[] = {
        {"nine bytes", ScannerFrame("000001", 0x03, ""), true},
        {"49 bytes", ScannerFrame("000001", 0x03, std::string(40, 'x')), true},
        {"50 bytes", ScannerFrame("000001", 0x03, std::string(41, 'x')), false},
        {"eight bytes", {0x3C, '0', '0', '0', '0', '1', 0x03, 0x0D}, false},
        {"no CR", noCr, false},
        {"no start", badStart, false},
    };
    for (const Case& c : cases) EXPECT_EQ(zel::vnaci::FrameOk(c.frame.data(), static_cast<int>(c.frame.size())), c.ok) << c.name;
}

TEST(ScannerDecode, DataLines) {
    SeparatorGuard dot('.');
    EXPECT_EQ(zel::vnaci::VnaCiLine(1.234, "A1", "4820000000017"), " 1.234;  0.00;  0.00;A1;4820000000017;");
    EXPECT_EQ(zel::vnaci::VnaCiLine(-1.5, "7", ""), "-1.500;  0.00;  0.00;7;;");
    {
        SeparatorGuard comma(',');
        EXPECT_EQ(zel::vnaci::VnaCiLine(0.5, "B", "x;y"), " 0,500;  0,00;  0,00;B;x;y;");
    }
    std::string longId(253, 'Z');
    EXPECT_EQ(zel::vnaci::VnaCiLine(1e300, longId.c_str(), std::string(40, 'T')).size(), 499u);
}

TEST(ScannerRead, ByteByByte) {
    struct Case {
        const char* name;
        std::vector<std::pair<uint64_t, Bytes>> arrivals;  // delay, bytes
        std::string frame;                                 // what the read holds
        uint64_t minMs, maxMs;                             // virtual time spent
        size_t left;                                       // bytes still unread
    };
    const Bytes good = ScannerFrame("001234", 0x03, "48");
    const std::string goodText = Str(good.data(), static_cast<int>(good.size()));
    Bytes two = good;
    two.insert(two.end(), good.begin(), good.end());
    Bytes stray3 = {0x0D, 0x41, 0x3E};
    stray3.insert(stray3.end(), good.begin(), good.end());
    const Case cases[] = {
        {"whole frame at once", {{0, good}}, goodText, 0, 0, 0},
        {"CR ends the read, the next frame stays", {{0, two}}, goodText, 0, 0, good.size()},
        {"stray bytes cost 50 ms each", {{0, stray3}}, goodText, 150, 150, 0},
        {"ten stray bytes spend the budget", {{0, Bytes(10, 0x20)}, {0, good}}, "", 500, 500, good.size()},
        {"early CR", {{0, {0x3C, '0', '0', 0x0D, '1', '2'}}}, std::string("<00\r"), 0, 0, 2},
        {"frame in two pieces", {{0, Bytes(good.begin(), good.begin() + 4)}, {120, Bytes(good.begin() + 4, good.end())}},
         goodText, 120, 120, 0},
        {"silence", {}, "", 500, 500, 0},
        {"cut frame lost with the budget", {{0, Bytes(good.begin(), good.begin() + 5)}}, goodText.substr(0, 5), 500, 500,
         0},
        {"50 bytes without CR", {{0, Bytes(1, 0x3C)}, {0, Bytes(60, '1')}}, "<" + std::string(49, '1'), 0, 0, 11},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine line;
        for (const auto& a : c.arrivals) line.Arrive(a.first, a.second);
        uint8_t frame[zel::listener::kMaxFrame];
        std::memset(frame, 0xEE, sizeof frame);
        const int n = zel::vnaci::ReadCrFrame(line, frame, zel::listener::kMaxFrame, [] { return false; });
        EXPECT_EQ(Str(frame, n), c.frame);
        EXPECT_GE(line.now, c.minMs);
        EXPECT_LE(line.now, c.maxMs);
        EXPECT_EQ(line.Pending(), c.left);
        for (int i = n; i < zel::vnaci::kFrameCapacity; ++i) ASSERT_EQ(frame[i], 0) << i;
    }
}

TEST(ScannerRead, StopEndsTheReadAfterTheAttempt) {
    ScriptedLine line;
    Bytes good = ScannerFrame("001234", 0x03, "");
    line.Arrive(0, good);
    uint8_t frame[zel::vnaci::kFrameCapacity];
    int asked = 0;
    // The stop is seen after the first byte; the CR-ended read asks nothing.
    EXPECT_EQ(zel::vnaci::ReadCrFrame(line, frame, sizeof frame, [&] { return ++asked >= 1; }), 1);
    EXPECT_EQ(asked, 1);
    // The rest of that frame has no '<': eight stray bytes, then silence.
    EXPECT_EQ(zel::vnaci::ReadCrFrame(line, frame, sizeof frame, [] { return false; }), 0);
    EXPECT_EQ(line.Pending(), 0u);
    EXPECT_GE(line.now, 8u * 50u);
}

// A listener on a line it may sleep on waits without a bound while nothing
// happens; a frame's budget then starts with its first byte, so a frame that
// lands at any moment is read whole (a sleep in 500 ms reads would cut one
// that began late in a read).
TEST(ScannerRead, SleepingReadGivesTheFrameItsWholeBudget) {
    const Bytes good = ScannerFrame("001234", 0x03, "");
    const uint64_t n = good.size();
    struct Case {
        const char* name;
        uint64_t at;      // when the frame's first byte (or the wake-up) comes
        uint64_t gap;     // between the frame's bytes
        bool wake;        // a wake-up instead of bytes
        uint64_t frame;   // bytes read
        uint64_t endsAt;  // the read's end on the line's clock
    } const cases[] = {
        {"frame after a long silence", 1234, 0, false, n, 1234},
        {"slow frame that began where a read would have ended", 1450, 20, false, n, 1450 + 20 * (n - 1)},
        {"frame slower than its budget is cut 500 ms after its start", 1450, 70, false, 8, 1950},
        {"wake-up: the read's budget runs out, nothing more", 1300, 0, true, 0, 1800},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine line;
        line.canSleep = true;
        if (c.wake) {
            line.WakeAt(c.at);
        } else {
            line.Trickle(c.at, c.gap, good);
        }
        zel::listener::ReadClock clock;
        uint8_t frame[zel::vnaci::kFrameCapacity];
        EXPECT_EQ(static_cast<uint64_t>(zel::vnaci::ReadCrFrame(line, frame, sizeof frame, nullptr, &clock)), c.frame);
        EXPECT_EQ(line.now, c.endsAt);
    }
}

TEST(ScannerRead, NothingToWaitOnEndsTheSleepingRead) {
    // No line (it closed under the listener): the endless wait ends at once
    // and the cycle's pause and reconnection follow.
    ScriptedLine line;
    line.canSleep = true;
    line.closed = true;
    uint8_t frame[zel::vnaci::kFrameCapacity];
    zel::listener::ReadClock clock;
    EXPECT_EQ(zel::vnaci::ReadCrFrame(line, frame, sizeof frame, nullptr, &clock), 0);
    EXPECT_EQ(line.now, 0u);
    EXPECT_EQ(clock.budgetMs, 0);
}

TEST(ScannerRead, SmallBufferIsNeverOverrun) {
    ScriptedLine line;
    line.Arrive(0, ScannerFrame("001234", 0x03, "4820000000017"));
    uint8_t frame[12];
    EXPECT_EQ(zel::vnaci::ReadCrFrame(line, frame, sizeof frame, nullptr), 12);
    EXPECT_EQ(zel::vnaci::ReadCrFrame(line, frame, 0, nullptr), 0);
}

TEST(PrompriborObjects, FactoryAndCommandResults) {
    struct Case {
        int model;
        bool listener;
        int32_t zero, price;
    };
    for (const Case& c : {Case{0, false, 5, -1}, Case{1, false, 5, 5}, Case{6, true, 5, 0}}) {
        SCOPED_TRACE(c.model);
        std::unique_ptr<IScalesObject> object(CreateScalesObject(c.model));
        ASSERT_NE(object, nullptr);
        EXPECT_EQ(dynamic_cast<CScalesListener*>(object.get()) != nullptr, c.listener);
        EXPECT_EQ(object->Zero(), c.zero);
        if (c.price >= 0) {
            EXPECT_EQ(object->SendPrice(1250), c.price);
        }
    }
    std::unique_ptr<IScalesObject> scanner(CreateScalesObject(6));
    EXPECT_EQ(scanner->Tare(0.0), 5);
    double w = -1, p = -1, cost = -1;
    int32_t stable = -1;
    EXPECT_EQ(scanner->ReadWeight(w, p, cost, stable), 5);
    EXPECT_EQ(w, -1);
    EXPECT_EQ(stable, -1);
    EXPECT_EQ(std::unique_ptr<IScalesObject>(CreateScalesObject(0))->Line(), zel::LineVariant::k8E1);
}
