// CAS text and LP binary frames, decoded on bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "devices/ModelTable.h"
#include "scales/Cas.h"
#include "tests/unit/decoder_support.h"
#ifndef _WIN32
#include <memory>

#include "sim/Simulator.h"
#endif

using zel::exchange::Reading;

namespace {

std::vector<uint8_t> TextFrame(char status, const char* field) {
    std::vector<uint8_t> f = {0x06, 0x01, 0x02, static_cast<uint8_t>(status)};
    for (int i = 0; i < 7; ++i) f.push_back(static_cast<uint8_t>(field[i]));
    f.insert(f.end(), {'k', 'g', ' ', 0x03, 0x04});
    return f;
}

std::vector<uint8_t> LpFrame(uint8_t status, std::vector<uint8_t> weight, std::vector<uint8_t> price,
                             std::vector<uint8_t> cost) {
    std::vector<uint8_t> f = {0x01, 0x80, 0xAA, status};
    f.insert(f.end(), weight.begin(), weight.end());
    f.insert(f.end(), price.begin(), price.end());
    f.insert(f.end(), cost.begin(), cost.end());
    f.insert(f.end(), {0x0D, 0x0A, 0x11, 0x13});
    return f;
}

// Outputs start from a sentinel so a decoder that skips a field shows it.
using zeltest::Sentinel;

}  // namespace

TEST(CasDecoders, TextFrames) {
    // A refused frame (3) leaves the outputs as they were.
    struct Case {
        char status;
        const char* field;
        int32_t casResult;
        double casWeight;
        int32_t sdlResult;
        double sdlWeight;
        int32_t stable;  // for result 0 and the SDL-07 empty-field 7
    };
    const Case cases[] = {
        {'S', "  1.234", 0, 1.234, 0, 1.234, 1},
        {'S', "-  0.50", 0, -0.5, 0, -0.5, 1},     // the sign first, padding after it
        {'U', "  1.234", 0, 1.234, 0, 1.234, 0},   // not stable
        {'S', "ABCDEGH", 3, 0, 7, 0.0, 1},         // SDL-07: no usable character is its overload
        {'S', "ABC EGH", 3, 0, 3, 0, 1},
        {'S', " 12.5kg", 3, 0, 3, 0, 1},           // letters in the weight field
        {'S', "1.2.3  ", 3, 0, 3, 0, 1},           // a second point
        {'S', "   -1.0", 0, -1.0, 0, -1.0, 1},     // the sign before the digits
        {'S', "+  1.00", 0, 1.0, 0, 1.0, 1},
        {'S', "0012345", 0, 12345.0, 0, 12345.0, 1},
        {'S', "  12345", 0, 12345.0, 0, 12345.0, 1},
        {'S', " F 1.00", 3, 0, 3, 0, 1},
        {'S', "1 2 3  ", 3, 0, 3, 0, 1},           // read 123 and 1020300 before
        {'S', " 12 345", 3, 0, 3, 0, 1},           // read 12345 and 120345 before
        {'S', "-------", 3, 0, 3, 0, 1},           // dashes read 0 before
        {'S', "       ", 3, 0, 3, 0, 1},           // blanks: SDL-07 read 0 before
        {'S', "  OL   ", 3, 0, 3, 0, 1},
        {'S', "   .234", 3, 0, 3, 0, 1},           // no digit before the point
        {'S', "  -.234", 3, 0, 3, 0, 1},
        {'S', "  1.23-", 3, 0, 3, 0, 1},
        {'S', "--1.234", 3, 0, 3, 0, 1},
        {'S', "\x0d\x0a\x11\x13\x80\xff.", 3, 0, 3, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("field '") + c.field + "' status " + c.status);
        std::vector<uint8_t> f = TextFrame(c.status, c.field);
        ASSERT_TRUE(zel::cas::AcceptsTextFrame(f.data(), f.size()));
        struct Run {
            zel::exchange::DecodeFn decode;
            int32_t result;
            double weight;
        };
        for (const Run& run : {Run{zel::cas::DecodeCasText, c.casResult, c.casWeight},
                               Run{zel::cas::DecodeSdl07Text, c.sdlResult, c.sdlWeight}}) {
            Reading r = Sentinel();
            const zel::exchange::Decoded d = run.decode(f.data(), f.size(), r);
            EXPECT_EQ(d.result, run.result);
            if (run.result == 3) {
                EXPECT_STREQ(d.why, zel::exchange::kWhyNoNumber);
                EXPECT_EQ(r.weight, -77.0);
                EXPECT_EQ(r.stable, 5);
                continue;
            }
            EXPECT_DOUBLE_EQ(r.weight, run.weight);
            EXPECT_EQ(r.stable, c.stable);
        }
    }
}

TEST(CasDecoders, MinusZeroIsZero) {
    for (const char* field : {"-  0.00", "   -0.0", "-000000"}) {
        std::vector<uint8_t> f = TextFrame('S', field);
        for (auto decode : {zel::cas::DecodeCasText, zel::cas::DecodeSdl07Text}) {
            Reading r;
            EXPECT_EQ(decode(f.data(), f.size(), r).result, 0) << field;
            EXPECT_EQ(r.weight, 0.0) << field;
            EXPECT_FALSE(std::signbit(r.weight)) << field;
        }
    }
    std::vector<uint8_t> lp = LpFrame(0xC0, {0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0});
    Reading r;
    EXPECT_EQ(zel::cas::DecodeLp16(lp.data(), lp.size(), r).result, 0);
    EXPECT_FALSE(std::signbit(r.weight));
}

TEST(CasDecoders, UnitsAndStatus) {
    // Frames as the makers describe them: the unit in offsets 11 and 12, the
    // XOR check in 13. The weight comes in kilograms.
    struct Case {
        const char* name;
        char status;
        const char* field;
        const char* unit;  // offsets 11..12, or 11..13 with `checked` false
        bool checked;
        int32_t result;
        const char* why;
        double weight;
        int32_t stable;
    };
    const Case cases[] = {
        {"kilograms", 'S', "  1.234", "kg", true, 0, nullptr, 1.234, 1},
        {"upper case", 'S', "  1.234", "KG", true, 0, nullptr, 1.234, 1},
        {"grams right", 'S', "   1234", " g", true, 0, nullptr, 1.234, 1},
        {"grams left", 'U', "  -1234", "g ", true, 0, nullptr, -1.234, 0},
        {"tonnes", 'S', "  1.234", "t ", true, 0, nullptr, 1234.0, 1},
        {"pounds", 'S', "  2.720", "lb", true, 3, zel::exchange::kWhyNotMetric, 0, 0},
        {"ounces", 'S', "  43.52", "oz", true, 3, zel::exchange::kWhyNotMetric, 0, 0},
        {"unknown word", 'S', "  1.234", "ct", true, 3, zel::exchange::kWhyUnknownUnit, 0, 0},
        {"blank unit", 'S', "  1.234", "  ", true, 0, nullptr, 1.234, 1},
        {"no unit bytes", 'S', "  1.234", "\x00\x00", true, 0, nullptr, 1.234, 1},
        // Without the check the unit may fill three bytes.
        {"three-byte kg", 'S', "  1.234", " kg", false, 0, nullptr, 1.234, 1},
        {"three-byte grams", 'S', "   1234", "  g", false, 0, nullptr, 1.234, 1},
        {"three-byte pounds", 'S', "  2.720", " lb", false, 3, zel::exchange::kWhyNotMetric, 0, 0},
        {"overload status", 'F', "  1.234", "kg", true, 7, nullptr, 0, 0},
        {"overload status, field blank", 'F', "       ", "kg", true, 7, nullptr, 0, 0},
        {"unstable", 'U', "  1.234", "kg", true, 0, nullptr, 1.234, 0},
        {"other status byte", '?', "  1.234", "kg", true, 0, nullptr, 1.234, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> f = TextFrame(c.status, c.field);
        const std::string unit(c.unit, c.checked ? 2 : 3);
        std::copy(unit.begin(), unit.end(), f.begin() + 11);
        if (c.checked) f[13] = zel::cas::TextFrameCheck(f.data());
        for (auto decode : {zel::cas::DecodeCasText, zel::cas::DecodeSdl07Text}) {
            Reading r = Sentinel();
            const zel::exchange::Decoded d = decode(f.data(), f.size(), r);
            EXPECT_EQ(d.result, c.result);
            if (c.result == 3) {
                EXPECT_STREQ(d.why, c.why);
                EXPECT_EQ(r.weight, -77.0);
                continue;
            }
            EXPECT_DOUBLE_EQ(r.weight, c.weight);
            EXPECT_EQ(r.stable, c.stable);
        }
    }
}

TEST(CasDecoders, ThreeByteUnitWhoseLastByteMatchesTheCheck) {
    // " kg" in offsets 11..13 whose 'g' happens to be the XOR of the frame: still
    // kilograms, not an unknown unit " k".
    std::vector<uint8_t> f = TextFrame('S', "  1.234");
    f[11] = ' ';
    f[12] = 'k';
    f[13] = 'g';
    f[3] = 0;
    f[3] = static_cast<uint8_t>('g' ^ zel::cas::TextFrameCheck(f.data()));
    ASSERT_EQ(zel::cas::TextFrameCheck(f.data()), 'g');
    Reading r;
    EXPECT_EQ(zel::cas::DecodeCasText(f.data(), f.size(), r).result, 0);
    EXPECT_DOUBLE_EQ(r.weight, 1.234);
}

TEST(CasDecoders, CheckHeldOnceTheLineShowsIt) {
    // Frames in turn on one line: 'a' and 'b' carry a valid check (of
    // different values), 'A' is 'a' with its check spoilt, 'x' a frame whose
    // check byte is a constant that never matches, 'c' is 'a' again. A line
    // locks after two valid checks in a row that differ; before that a bad
    // check reads as before.
    std::vector<uint8_t> a = TextFrame('S', "  1.234");
    a[13] = zel::cas::TextFrameCheck(a.data());
    std::vector<uint8_t> b = TextFrame('S', "  1.236");
    b[13] = zel::cas::TextFrameCheck(b.data());
    std::vector<uint8_t> spoilt = a;
    spoilt[10] = '5';  // one digit changed: 1.235 under the check of 1.234
    std::vector<uint8_t> none = TextFrame('S', "  1.235");
    none[13] = ' ';
    struct Case {
        const char* sequence;
        const char* results;  // '0' read, '3' refused, per frame
    };
    const Case cases[] = {
        {"A", "0"},          // a fresh line: nothing shown yet
        {"aaA", "000"},      // one check value over and over: no lock
        {"abA", "003"},      // locked: the spoilt frame is refused
        {"abAa", "0030"},    // ... and the next good one read
        {"aAbA", "0000"},    // a bad check between them resets the count
        {"abxxx", "00333"},  // a scale that stops sending it stays refused
        {"xxxx", "0000"},    // a scale without the check
        {"aab", "000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sequence);
        zel::exchange::LineMemory memory;
        zel::exchange::LineMemoryScope scope(&memory);
        zel::cas::CheckLock& lock = memory.Of<zel::cas::CheckLock>();
        for (size_t i = 0; c.sequence[i]; ++i) {
            const char k = c.sequence[i];
            const std::vector<uint8_t>& f = k == 'a' ? a : k == 'b' ? b : k == 'A' ? spoilt : none;
            for (auto decode : {zel::cas::DecodeCasText, zel::cas::DecodeSdl07Text}) {
                zel::cas::CheckLock before = lock;
                Reading r;
                const zel::exchange::Decoded d = decode(f.data(), f.size(), r);
                EXPECT_EQ(d.result, c.results[i] - '0') << "frame " << i;
                if (d.result == 3) {
                    EXPECT_STREQ(d.why, zel::exchange::kWhyCheck);
                }
                if (decode == zel::cas::DecodeCasText) lock = before;  // each decoder sees the sequence once
            }
        }
    }
    // Without a lock in scope (a tool judging one frame) nothing is held.
    Reading r;
    EXPECT_EQ(zel::cas::DecodeCasText(spoilt.data(), spoilt.size(), r).result, 0);
    zel::cas::CheckLock lock;
    EXPECT_FALSE(lock.Refuses(true, 1));
    EXPECT_FALSE(lock.Refuses(true, 2));
    EXPECT_TRUE(lock.Locked());
    lock.Forget();
    EXPECT_FALSE(lock.Locked());
    EXPECT_FALSE(lock.Refuses(false, 3));
}

TEST(CasDecoders, OverloadClearsWeightAndStable) {
    for (const char* field : {"F      ", "F 1.234", "FFFFFFF"}) {
        SCOPED_TRACE(field);
        std::vector<uint8_t> f = TextFrame('S', field);
        for (auto decode : {zel::cas::DecodeCasText, zel::cas::DecodeSdl07Text}) {
            Reading r = Sentinel();
            EXPECT_EQ(decode(f.data(), f.size(), r).result, 7);
            EXPECT_EQ(r.weight, 0.0);
            EXPECT_EQ(r.stable, 0);
            EXPECT_EQ(r.price, -77.0);  // the text frame carries no price
        }
    }
}

TEST(CasDecoders, TextFrameCheck) {
    std::vector<uint8_t> good = TextFrame('S', "  1.000");
    struct Case {
        const char* name;
        size_t index;  // byte to spoil; SIZE_MAX for none
        size_t length;
        bool accepted;
    };
    const Case cases[] = {
        {"valid", SIZE_MAX, 16, true},
        {"SOH", 1, 16, false},
        {"STX", 2, 16, false},
        {"ETX", 14, 16, false},
        {"EOT", 15, 16, false},
        {"ACK header", 0, 16, false},
        {"status", 3, 16, true},
        {"short", SIZE_MAX, 15, false},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> f = good;
        if (c.index != SIZE_MAX) f[c.index] ^= 0x40;
        EXPECT_EQ(zel::cas::AcceptsTextFrame(f.data(), c.length), c.accepted) << c.name;
    }
    std::vector<uint8_t> longer = good;
    longer.push_back(0);
    EXPECT_FALSE(zel::cas::AcceptsTextFrame(longer.data(), longer.size()));
    EXPECT_FALSE(zel::cas::AcceptsTextFrame(nullptr, 16));
}

TEST(CasDecoders, LpFrames) {
    struct Case {
        const char* name;
        std::vector<uint8_t> frame;
        int32_t result;
        double weight, price, cost;
        int32_t stable;
    };
    const Case cases[] = {
        {"negative stable", LpFrame(0xC0, {0x10, 0x27}, {0, 0, 0, 0}, {0, 0, 0, 0}), 0, -10000, 0, 0, 1},
        {"positive unstable", LpFrame(0x00, {0x34, 0x12}, {0xE8, 0x03, 0, 0}, {0x10, 0x27, 0, 0}), 0, 4660, 1000,
         10000, 0},
        {"largest magnitude", LpFrame(0x40, {0xFF, 0xFF}, {0, 0, 0, 0}, {0, 0, 0, 0}), 0, 65535, 0, 0, 1},
        {"largest negative", LpFrame(0x80, {0xFF, 0xFF}, {0, 0, 0, 0}, {0, 0, 0, 0}), 0, -65535, 0, 0, 0},
        {"signed price and cost", LpFrame(0x40, {1, 0}, {0xFF, 0xFF, 0xFF, 0xFF}, {0, 0, 0, 0x80}), 0, 1, -1,
         -2147483648.0, 1},
        {"largest price", LpFrame(0x40, {1, 0}, {0xFF, 0xFF, 0xFF, 0x7F}, {0x2E, 0xFB, 0xFF, 0xFF}), 0, 1,
         2147483647.0, -1234, 1},
        {"other status bits ignored", LpFrame(0x3E, {5, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}), 0, 5, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(zel::cas::AcceptsLpFrame(c.frame.data(), c.frame.size()));
        Reading r;
        EXPECT_EQ(zel::cas::DecodeLp16(c.frame.data(), c.frame.size(), r).result, c.result);
        EXPECT_DOUBLE_EQ(r.weight, c.weight);
        EXPECT_DOUBLE_EQ(r.price, c.price);
        EXPECT_DOUBLE_EQ(r.cost, c.cost);
        EXPECT_EQ(r.stable, c.stable);
    }
}

TEST(CasDecoders, LpOverloadTouchesNothing) {
    for (uint8_t status : {uint8_t{0x41}, uint8_t{0x01}, uint8_t{0xFF}}) {
        std::vector<uint8_t> f = LpFrame(status, {0x10, 0x27}, {1, 0, 0, 0}, {2, 0, 0, 0});
        Reading r = Sentinel();
        EXPECT_EQ(zel::cas::DecodeLp16(f.data(), f.size(), r).result, 7) << int(status);
        EXPECT_EQ(r.weight, -77.0);
        EXPECT_EQ(r.price, -77.0);
        EXPECT_EQ(r.cost, -77.0);
        EXPECT_EQ(r.stable, 5);
    }
}

TEST(CasDecoders, LpFrameCheck) {
    std::vector<uint8_t> good = LpFrame(0x40, {1, 0}, {0, 0, 0, 0}, {0, 0, 0, 0});
    EXPECT_TRUE(zel::cas::AcceptsLpFrame(good.data(), 18));
    EXPECT_FALSE(zel::cas::AcceptsLpFrame(good.data(), 17));
    for (size_t i : {size_t{0}, size_t{1}, size_t{2}}) {
        std::vector<uint8_t> f = good;
        f[i] ^= 0x40;
        EXPECT_FALSE(zel::cas::AcceptsLpFrame(f.data(), f.size())) << i;
    }
}

TEST(CasDecoders, ShortInputIsRefusedWithoutReading) {
    const uint8_t one[1] = {0x06};
    Reading r = Sentinel();
    EXPECT_EQ(zel::cas::DecodeCasText(one, 1, r).result, 3);
    EXPECT_EQ(zel::cas::DecodeSdl07Text(one, 1, r).result, 3);
    EXPECT_EQ(zel::cas::DecodeLp16(one, 1, r).result, 3);
    EXPECT_EQ(r.weight, -77.0);
}

#ifndef _WIN32
TEST(CasScale, CheckLockLivesWithTheOpenDevice) {
    // A simulated scale that sends the check, over TCP, the line let go after
    // every reading: the lock taken on the first two weights holds through
    // the releases, refuses a frame with one digit changed, and goes when
    // the device is closed.
    for (int model : {13, 27}) {
        SCOPED_TRACE(model);
        sim::Simulator scale(model);
        ASSERT_TRUE(scale.StartTcp());
        std::unique_ptr<IScalesObject> o(CreateScalesObject(model));
        auto* cas = dynamic_cast<CPolledProtocolScale*>(o.get());
        ASSERT_NE(cas, nullptr);
        auto locked = [&] {
            const zel::cas::CheckLock* lock = cas->Memory().Find<zel::cas::CheckLock>();
            return lock && lock->Locked();
        };
        ASSERT_EQ(o->OpenTcp("127.0.0.1", scale.TcpPort(), nullptr), 0);
        double weight = 0.0;
        auto weigh = [&]() {
            double price = 0.0, cost = 0.0;
            int32_t stable = 0;
            weight = -1.0;
            return o->ReadWeight(weight, price, cost, stable);
        };
        scale.SetWeight(1.234);
        EXPECT_EQ(weigh(), 0);
        EXPECT_DOUBLE_EQ(weight, 1.234);
        EXPECT_FALSE(locked());
        scale.SetWeight(1.236);
        EXPECT_EQ(weigh(), 0);
        EXPECT_TRUE(locked());
        scale.SetFault(sim::Fault::ChangedByte, 11);  // the weight's last digit
        EXPECT_EQ(weigh(), 3);
        scale.SetFault(sim::Fault::None);
        EXPECT_EQ(weigh(), 0);
        EXPECT_DOUBLE_EQ(weight, 1.236);
        EXPECT_TRUE(locked());
        o->Disconnect();  // the device is closed
        EXPECT_FALSE(locked());
    }
}
#endif
