// CAS text and LP binary frames, decoded on bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "scales/Cas.h"

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
Reading Sentinel() {
    Reading r;
    r.weight = -77.0;
    r.price = -77.0;
    r.cost = -77.0;
    r.stable = 5;
    return r;
}

}  // namespace

TEST(CasDecoders, TextFrames) {
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
        {'S', "  1.234", 0, 1.234, 0, 1.234, 1},   // SDL-07 reads '001.234'
        {'S', "-  0.50", 0, -0.5, 0, -0.5, 1},     // '-0.50' / '-000.50'
        {'U', "  1.234", 0, 1.234, 0, 1.234, 0},   // not stable
        {'S', "ABCDEGH", 0, 0.0, 7, 0.0, 1},       // no usable character
        {'S', "ABC EGH", 0, 0.0, 0, 0.0, 1},       // SDL-07: the space reads '0'
        {'S', " 12.5kg", 0, 12.5, 0, 12.5, 1},     // letters dropped
        {'S', "1.2.3  ", 0, 1.2, 0, 1.2, 1},       // second point ends the number
        {'S', "   -1.0", 0, -1.0, 0, 0.0, 1},       // SDL-07 reads '000-1.0': the sign ends it
        {'S', "0012345", 0, 12345.0, 0, 12345.0, 1},
        {'S', " F 1.00", 0, 1.0, 0, 1.0, 1},       // 'F' not at the field start
        {'S', "1 2 3  ", 0, 123.0, 0, 1020300.0, 1},
        {'S', "-------", 0, 0.0, 0, 0.0, 1},
        {'S', "\x0d\x0a\x11\x13\x80\xff.", 0, 0.0, 0, 0.0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("field '") + c.field + "' status " + c.status);
        std::vector<uint8_t> f = TextFrame(c.status, c.field);
        ASSERT_TRUE(zel::cas::AcceptsTextFrame(f.data(), f.size()));

        Reading cas;
        EXPECT_EQ(zel::cas::DecodeCasText(f.data(), f.size(), cas).result, c.casResult);
        EXPECT_DOUBLE_EQ(cas.weight, c.casWeight);
        EXPECT_EQ(cas.stable, c.stable);

        Reading sdl;
        EXPECT_EQ(zel::cas::DecodeSdl07Text(f.data(), f.size(), sdl).result, c.sdlResult);
        EXPECT_DOUBLE_EQ(sdl.weight, c.sdlWeight);
        EXPECT_EQ(sdl.stable, c.stable);
    }
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
