// Price-computing scales with digit-field replies (17, 21, 28, 30): the
// fields decoded on bytes, the price frames, and the read cycle each model's
// description makes of a scale that answers some requests only.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "devices/ModelTable.h"
#include "scales/PriceComputing.h"
#include "tests/unit/exchange_scripted_line.h"
#include "tests/unit/decoder_support.h"

using zel::exchange::PolledProtocol;
using zel::exchange::Reading;
using zeltest::ScriptedLine;
using zeltest::ScriptedSession;

namespace {

std::vector<uint8_t> Chars(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

using zeltest::Sentinel;

}  // namespace

TEST(PriceComputingDecoders, DigitFields) {
    struct Case {
        const char* name;
        std::vector<uint8_t> field;  // in transmission order
        uint8_t add;
        int32_t value;
    };
    const Case cases[] = {
        {"ascii", Chars("432100"), 0, 1234},
        {"ascii top digit", Chars("000009"), 0, 900000},
        {"minus in the top place", Chars("43210-"), 0, -1234},
        {"leading spaces", Chars("4321  "), 0, 1234},
        {"non-digit cuts: leading digits only", Chars("43x100"), 0, 1},
        {"starts with a non-digit", Chars("43210x"), 0, 0},
        {"zero byte in the middle ends the text", {'4', '3', 0x00, '1', '0', '0'}, 0, 1},
        {"two signs", Chars("4321+-"), 0, 0},
        {"values", {4, 3, 2, 1, 0, 0}, 0x30, 1234},
        {"value 0 is a digit, not the end", {0, 0, 0, 0, 0, 1}, 0x30, 100000},
        {"value F0 reads as a space", {4, 3, 2, 1, 0xF0, 0xF0}, 0x30, 1234},
        {"value FD reads as a minus", {4, 3, 2, 1, 0, 0xFD}, 0x30, -1234},
        {"value D0 ends the text", {4, 3, 2, 0xD0, 1, 0}, 0x30, 1},
        {"value 10 is no digit", {4, 3, 2, 1, 10, 0}, 0x30, 0},
        {"all ones", std::vector<uint8_t>(6, 0xFF), 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(zel::pricecomp::DigitField(c.field.data(), c.field.size(), 0, c.field.size(), c.add), c.value)
            << c.name;
    }
    // A field reaching past the frame keeps to the bytes that are there.
    const std::vector<uint8_t> f = Chars("4321");
    EXPECT_EQ(zel::pricecomp::DigitField(f.data(), f.size(), 1, 6), 123);
    EXPECT_EQ(zel::pricecomp::DigitField(f.data(), f.size(), 9, 6), 0);
    EXPECT_EQ(zel::pricecomp::DigitField(nullptr, 6, 0, 6), 0);
}

TEST(PriceComputingDecoders, Replies) {
    using Decode = zel::exchange::Decoded (*)(const uint8_t*, size_t, Reading&);
    struct Case {
        const char* name;
        Decode decode;
        std::vector<uint8_t> frame;
        double weight, price, cost;
        int32_t stable;
    };
    std::vector<uint8_t> uns2 = {4, 3, 2, 1, 0, 0, 0, 5, 2, 1, 0, 0, 3, 4, 5, 1, 0, 0};
    const Case cases[] = {
        {"camry", zel::pricecomp::DecodeShortReply, Chars("432100" "05210" "083100"), 1.234, 12.5, 13.8, 1},
        {"jpl largest", zel::pricecomp::DecodeShortReply, Chars("999999" "99999" "999999"), 999.999, 999.99,
         9999.99, 1},
        {"camry minus", zel::pricecomp::DecodeShortReply, Chars("00500-" "05210" "52600-"), -0.5, 12.5, -6.25, 1},
        {"camry minus zero cost", zel::pricecomp::DecodeShortReply, Chars("000000" "05210" "00000-"), 0, 12.5, 0, 1},
        {"ics minus zero", zel::pricecomp::DecodeIcsReply, Chars("00000-" "005210" "00000-"), 0, 12500, 0, 1},
        {"ics price taken as it is", zel::pricecomp::DecodeIcsReply, Chars("432100" "005210" "524510"), 1.234, 12500,
         15425, 1},
        {"uns2", zel::pricecomp::DecodeUns2Reply, uns2, 1.234, 12.5, 15.43, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reading r = Sentinel();
        EXPECT_EQ(c.decode(c.frame.data(), c.frame.size(), r).result, 0);
        EXPECT_DOUBLE_EQ(r.weight, c.weight);
        EXPECT_DOUBLE_EQ(r.price, c.price);
        EXPECT_DOUBLE_EQ(r.cost, c.cost);
        EXPECT_EQ(r.stable, c.stable);
        if (c.weight == 0.0) {
            EXPECT_FALSE(std::signbit(r.weight));
        }
        if (c.cost == 0.0) {
            EXPECT_FALSE(std::signbit(r.cost));
        }
    }
}

TEST(PriceComputingDecoders, FieldsThatHoldNoNumberAreRefused) {
    // A blank, a letter, a sign where the value cannot be negative: each read
    // as a weight, price or cost with result 0 before.
    using Decode = zel::exchange::Decoded (*)(const uint8_t*, size_t, Reading&);
    std::vector<uint8_t> uns2Odd = {4, 3, 2, 1, 0, 0xFD, 0, 5, 2, 1, 0, 0, 3, 4, 5, 1, 0, 0x41};
    const struct Case {
        const char* name;
        Decode decode;
        std::vector<uint8_t> frame;
    } cases[] = {
        {"camry letter and blank cost (was -0.5, 0.05, 0)", zel::pricecomp::DecodeShortReply,
         Chars("00500-" "x5000" "      ")},
        {"camry negative price", zel::pricecomp::DecodeShortReply, Chars("432100" "0521-" "083100")},
        {"camry negative cost of a positive weight", zel::pricecomp::DecodeShortReply,
         Chars("432100" "05210" "08310-")},
        {"jpl space among the digits", zel::pricecomp::DecodeShortReply, Chars("43 100" "05210" "083100")},
        {"ics negative price", zel::pricecomp::DecodeIcsReply, Chars("432100" "00521-" "524510")},
        {"ics dashes", zel::pricecomp::DecodeIcsReply, Chars("------" "005210" "524510")},
        {"uns2 sign and letter (was -1.234, 12.5, 0)", zel::pricecomp::DecodeUns2Reply, uns2Odd},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reading r = Sentinel();
        const zel::exchange::Decoded d = c.decode(c.frame.data(), c.frame.size(), r);
        EXPECT_EQ(d.result, 3);
        EXPECT_STREQ(d.why, zel::exchange::kWhyNoNumber);
        EXPECT_EQ(r.weight, -77.0);
        EXPECT_EQ(r.price, -77.0);
        EXPECT_EQ(r.cost, -77.0);
    }
}

TEST(PriceComputingDecoders, ReplyLengths) {
    const std::vector<uint8_t> f(19, '0');
    for (size_t n : {size_t{0}, size_t{16}, size_t{17}, size_t{18}, size_t{19}}) {
        EXPECT_EQ(zel::pricecomp::AcceptsShortReply(f.data(), n), n == 17) << n;
        EXPECT_EQ(zel::pricecomp::AcceptsLongReply(f.data(), n), n == 18) << n;
        // A decoder never reads past a short frame, nor takes it.
        Reading r = Sentinel();
        EXPECT_EQ(zel::pricecomp::DecodeShortReply(f.data(), n, r).result, n == 17 ? 0 : 3);
        EXPECT_EQ(zel::pricecomp::DecodeIcsReply(f.data(), n, r).result, n == 18 ? 0 : 3);
        EXPECT_EQ(zel::pricecomp::DecodeUns2Reply(f.data(), n, r).result, 3);  // characters, no digit values
        const std::vector<uint8_t> values(19, 0);
        EXPECT_EQ(zel::pricecomp::DecodeUns2Reply(values.data(), n, r).result, n == 18 ? 0 : 3);
    }
    EXPECT_FALSE(zel::pricecomp::AcceptsShortReply(nullptr, 17));
    EXPECT_FALSE(zel::pricecomp::AcceptsLongReply(nullptr, 18));
}

TEST(PriceComputingCommands, PriceFrames) {
    using zel::pricecomp::kIcsPrice;
    using zel::pricecomp::kJplPrice;
    using zel::pricecomp::kUns2Price;
    struct Case {
        const char* name;
        const zel::exchange::PriceCommand& command;
        int32_t price;
        std::vector<uint8_t> bytes;  // empty: refused
    };
    const Case cases[] = {
        {"jpl 12.50", kJplPrice, 1250, {0x00, 0x00, 0x02, 0x00, 0x05, 0x02, 0x01, 0x00, 0x00}},
        {"ics 12.50", kIcsPrice, 1250, {0x00, 0x00, 0x02, 0x30, 0x35, 0x32, 0x31, 0x30, 0x30}},
        {"uns2 12.50", kUns2Price, 1250, {0x2A, 0x02, 0x00, 0x05, 0x02, 0x01, 0x00, 0x00}},
        {"uns2 zero", kUns2Price, 0, {0x2A, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {"ics largest", kIcsPrice, 99999, {0x00, 0x00, 0x02, 0x39, 0x39, 0x39, 0x39, 0x39, 0x30}},
        // Five digits cannot carry more: sent cut, 1234.56 would read 234.56.
        {"jpl six digits", kJplPrice, 123456, {}},
        {"ics 1000.00", kIcsPrice, 100000, {}},
        {"uns2 negative", kUns2Price, -1, {}},
        {"largest int", kJplPrice, INT32_MAX, {}},
    };
    for (const Case& c : cases) {
        uint8_t out[zel::exchange::kMaxPriceFrame];
        const int n = zel::exchange::BuildPriceFrame(c.command, c.price, out);
        EXPECT_EQ(std::vector<uint8_t>(out, out + n), c.bytes) << c.name;
    }
}

TEST(PriceComputingCommands, BadPriceIsRefusedBeforeTheLineIsTouched) {
    // No device behind these objects: a price that gets as far as the line
    // reports that no connection could be made (1), one refused first 4.
    std::unique_ptr<IScalesObject> scales[] = {std::unique_ptr<IScalesObject>(CreateScalesObject(21)),
                                               std::unique_ptr<IScalesObject>(CreateScalesObject(30)),
                                               std::unique_ptr<IScalesObject>(CreateScalesObject(28)),
                                               std::unique_ptr<IScalesObject>(CreateScalesObject(0))};
    for (auto& s : scales) {
        EXPECT_EQ(s->SendPrice(100000), 4);
        EXPECT_EQ(s->SendPrice(-5), 4);
        EXPECT_EQ(s->SendPrice(99999), 1);
        EXPECT_EQ(s->Tare(0.0), 1);
        EXPECT_EQ(s->Zero(), 5);
    }
    std::unique_ptr<IScalesObject> camry(CreateScalesObject(17));
    ASSERT_NE(camry, nullptr);
    EXPECT_EQ(camry->Tare(0.0), 5);
    EXPECT_EQ(camry->SendPrice(1250), 5);
    EXPECT_EQ(camry->Zero(), 5);
}

// --- the read cycle of each description ------------------------------------

namespace {

struct Model {
    int number;
    const PolledProtocol& protocol;
    std::vector<uint8_t> request;
    std::vector<uint8_t> reply;  // weight 1.234 as that scale sends it
    std::vector<uint8_t> other;  // weight 5.000
    double price;                // in `reply`
    int32_t stable;
};

std::vector<Model> Models() {
    const std::vector<uint8_t> lr = {0, 0, 3, 0, 0, 0, 0, 0};
    return {
        {17, zel::pricecomp::kCamryProtocol, lr, Chars("432100" "05210" "083100"), Chars("000500" "05210" "005260"),
         12.5, 1},
        {21, zel::pricecomp::kJplProtocol, lr, Chars("432100" "05210" "083100"), Chars("000500" "05210" "005260"),
         12.5, 1},
        {28, zel::pricecomp::kUns2Protocol, {0x2A, 0x03}, {4, 3, 2, 1, 0, 0, 0, 5, 2, 1, 0, 0, 0, 8, 3, 1, 0, 0},
         {0, 0, 0, 5, 0, 0, 0, 5, 2, 1, 0, 0, 0, 5, 2, 6, 0, 0}, 12.5, 0},
        {30, zel::pricecomp::kIcsProtocol, {0, 0, 3}, Chars("432100" "005210" "083100"),
         Chars("000500" "005210" "005260"), 12500, 1},
    };
}

}  // namespace

TEST(PriceComputingCycle, ScaleThatAnswersSomeRequests) {
    // 17 and 21 stop at the first reply; 28 and 30 ask three times whatever
    // comes: a later reply overwrites, a later silence keeps the earlier
    // reply and its result. Nothing answered: 3, the caller's values kept,
    // stable 1.
    struct Case {
        const char* name;
        std::vector<int> answered;  // requests (0..2) that get a reply; 9: the other reply
    };
    const Case cases[] = {
        {"only the first", {0}},
        {"the second only", {1}},
        {"first, then the other weight third", {0, 9}},
        {"none", {}},
    };
    for (const Model& m : Models()) {
        const bool stops = m.number == 17 || m.number == 21;
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "model " << m.number << ": " << c.name);
            ScriptedLine line;
            ScriptedSession session;
            auto n = std::make_shared<int>(0);
            line.onWrite = [&m, &c, n](ScriptedLine& l, const std::vector<uint8_t>&) {
                const int k = (*n)++;
                for (int a : c.answered) {
                    if (a == k) l.Arrive(5, m.reply);
                    if (a == 9 && k == 2) l.Arrive(5, m.other);
                }
            };
            Reading io;
            io.weight = -4.0;
            io.price = 8.5;
            io.cost = 2.0;
            io.stable = 0;
            const int32_t r = zel::exchange::RunReadCycle(m.protocol, line, session, io);
            const bool any = !c.answered.empty();
            EXPECT_EQ(r, any ? 0 : 3);
            for (const auto& w : line.writes) EXPECT_EQ(w.bytes, m.request);
            // Requests: up to the first reply for 17 and 21, always three for
            // 28 and 30; every silent one waits out its 300 ms.
            const int first = any ? c.answered[0] : 3;
            const size_t requests = stops ? static_cast<size_t>(first < 3 ? first + 1 : 3) : 3u;
            EXPECT_EQ(line.writes.size(), requests);
            EXPECT_EQ(session.releases, 1);
            const bool other = !stops && c.answered.size() == 2;
            EXPECT_DOUBLE_EQ(io.weight, !any ? -4.0 : other ? 5.0 : 1.234);
            EXPECT_DOUBLE_EQ(io.price, !any ? 8.5 : m.price);
            EXPECT_EQ(io.stable, any ? m.stable : 1);
            int silent = static_cast<int>(requests) - static_cast<int>(c.answered.size());
            if (stops && any) silent = first;
            EXPECT_GE(line.now, static_cast<uint64_t>(silent) * 300u);
            EXPECT_LT(line.now, static_cast<uint64_t>(silent) * 300u + 100u);
        }
    }
}

// --- what a reply may hold -------------------------------------------------

namespace {

using AcceptsFn = bool (*)(const uint8_t*, size_t);

struct Format {
    int number;
    AcceptsFn accepts;
    std::vector<uint8_t> request;
    std::vector<uint8_t> reply;  // healthy
    std::vector<size_t> tops;    // the top place of each field
    bool characters;             // '0'..'9' (else digit values 0..9)
};

std::vector<Format> Formats() {
    const std::vector<uint8_t> lr = {0, 0, 3, 0, 0, 0, 0, 0};
    return {
        {17, zel::pricecomp::kCamryProtocol.accepts, lr, Chars("432100" "05210" "083100"), {5, 10, 16}, true},
        {21, zel::pricecomp::kJplProtocol.accepts, lr, Chars("432100" "05210" "083100"), {5, 10, 16}, true},
        {30, zel::pricecomp::kIcsProtocol.accepts, {0, 0, 3}, Chars("432100" "005210" "083100"), {5, 11, 17}, true},
        {28, zel::pricecomp::kUns2Protocol.accepts, {0x2A, 0x03},
         {4, 3, 2, 1, 0, 0, 0, 5, 2, 1, 0, 0, 0, 8, 3, 1, 0, 0}, {5, 11, 17}, false},
    };
}

}  // namespace

TEST(PriceComputingDecoders, EveryByteIsADigit) {
    for (const Format& f : Formats()) {
        SCOPED_TRACE(testing::Message() << "model " << f.number);
        ASSERT_TRUE(f.accepts(f.reply.data(), f.reply.size()));
        // Any digit in any place, and the sign of a character field's top
        // place (a negative weight, and its negative cost), are replies; a
        // negative unit price, or a negative cost of a positive weight, is
        // not (both read as success before).
        std::vector<uint8_t> all9(f.reply.size(), f.characters ? '9' : 9);
        std::vector<uint8_t> all0(f.reply.size(), f.characters ? '0' : 0);
        EXPECT_TRUE(f.accepts(all9.data(), all9.size()));
        EXPECT_TRUE(f.accepts(all0.data(), all0.size()));
        const size_t weightTop = f.tops[0], priceTop = f.tops[1], costTop = f.tops[2];
        for (size_t top : f.tops) {
            std::vector<uint8_t> minus = f.reply;
            minus[top] = '-';
            EXPECT_EQ(f.accepts(minus.data(), minus.size()), f.characters && top == weightTop) << "minus at " << top;
        }
        std::vector<uint8_t> negative = f.reply;
        negative[weightTop] = negative[costTop] = '-';
        EXPECT_EQ(f.accepts(negative.data(), negative.size()), f.characters);
        negative[priceTop] = '-';
        EXPECT_FALSE(f.accepts(negative.data(), negative.size()));
        // Anything else in any place is not.
        const std::vector<uint8_t> spoilers =
            f.characters ? std::vector<uint8_t>{' ', 'x', 0x00, 0x05, '+', '.', ':', '/', 0xB0}
                         : std::vector<uint8_t>{10, 0x30, 0x2A, 0xF0, 0xFD, 0xFF};
        for (size_t at = 0; at < f.reply.size(); ++at) {
            for (uint8_t b : spoilers) {
                std::vector<uint8_t> bad = f.reply;
                bad[at] = b;
                EXPECT_FALSE(f.accepts(bad.data(), bad.size())) << "byte " << int(b) << " at " << at;
            }
            const bool top = std::find(f.tops.begin(), f.tops.end(), at) != f.tops.end();
            if (f.characters && !top) {
                std::vector<uint8_t> bad = f.reply;
                bad[at] = '-';
                EXPECT_FALSE(f.accepts(bad.data(), bad.size())) << "minus at " << at;
            }
        }
        // The request echoed by a line or adapter, then the reply's first
        // bytes: read as a reply it gave weight 0 with result 0.
        std::vector<uint8_t> echoed = f.request;
        echoed.insert(echoed.end(), f.reply.begin(), f.reply.end());
        echoed.resize(f.reply.size());
        EXPECT_FALSE(f.accepts(echoed.data(), echoed.size()));
    }
    // A character reply from a scale set to the other kind of digits.
    const std::vector<uint8_t> chars = Chars("432100" "005210" "083100");
    EXPECT_FALSE(zel::pricecomp::kUns2Protocol.accepts(chars.data(), chars.size()));
    const std::vector<uint8_t> values = {4, 3, 2, 1, 0, 0, 0, 5, 2, 1, 0, 0, 0, 8, 3, 1, 0, 0};
    EXPECT_FALSE(zel::pricecomp::kIcsProtocol.accepts(values.data(), values.size()));
}
