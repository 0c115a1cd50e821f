// Масса-К two-byte replies, decoded on bytes.
#include <gtest/gtest.h>

#include "scales/MassaK.h"

using zel::exchange::Reading;

TEST(MassaKDecoder, SignedLittleEndianWeight) {
    struct Case {
        uint8_t lo, hi;
        double weight;
    };
    const Case cases[] = {
        {0xD2, 0x04, 1234}, {0x2E, 0xFB, -1234}, {0xFF, 0x7F, 32767}, {0xFF, 0xFF, -1},
        {0x00, 0x80, -32768}, {0x00, 0x00, 0},   {0x0D, 0x0A, 2573},  {0x11, 0x13, 4881},
    };
    for (const Case& c : cases) {
        const uint8_t f[2] = {c.lo, c.hi};
        ASSERT_TRUE(zel::massak::AcceptsReply(f, 2));
        Reading r;
        r.price = 9.0;
        r.cost = 9.0;
        r.stable = 1;
        EXPECT_EQ(zel::massak::DecodeReply(f, 2, r).result, 0);
        EXPECT_DOUBLE_EQ(r.weight, c.weight) << int(c.lo) << " " << int(c.hi);
        EXPECT_EQ(r.price, 0.0);
        EXPECT_EQ(r.cost, 0.0);
        EXPECT_EQ(r.stable, 0);
    }
}

TEST(MassaKDecoder, OnlyTwoBytesAreAReply) {
    const uint8_t f[3] = {1, 2, 3};
    EXPECT_FALSE(zel::massak::AcceptsReply(f, 1));
    EXPECT_FALSE(zel::massak::AcceptsReply(f, 3));
    EXPECT_FALSE(zel::massak::AcceptsReply(nullptr, 2));
    Reading r;
    r.weight = 4.0;
    EXPECT_EQ(zel::massak::DecodeReply(f, 1, r).result, 3);
    EXPECT_EQ(r.weight, 4.0);
}
