#include "tools/text.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

using namespace zelscales::text;

namespace {

TEST(ToolText, HexForms) {
    struct Case {
        std::vector<uint8_t> bytes;
        const char* spaced;
        const char* compact;
        const char* text;
    };
    const Case cases[] = {
        {{}, "", "", ""},
        {{0x00}, "00", "00", "."},
        {{0x4F, 0x50, 0x45, 0x4E}, "4F 50 45 4E", "4f50454e", "OPEN"},
        {{0x02, 0x30, 0x0D, 0x0A}, "02 30 0D 0A", "02300d0a", ".0.."},
        // 0x7F and bytes above it are not printable ASCII.
        {{0x7E, 0x7F, 0x80, 0xFF, 0x20}, "7E 7F 80 FF 20", "7e7f80ff20", "~... "},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(HexOf(c.bytes), c.spaced);
        EXPECT_EQ(CompactHexOf(c.bytes.data(), c.bytes.size()), c.compact);
        EXPECT_EQ(TextOf(c.bytes), c.text);
    }
}

TEST(ToolText, HexBytesRoundTrip) {
    struct Case {
        const char* text;
        bool hex;
        std::string bytes;
    };
    const Case cases[] = {
        {"05", true, "\x05"},
        {"02 05 03", true, "\x02\x05\x03"},
        {"0511", true, "\x05\x11"},
        {"0a0D ff", true, std::string("\x0a\x0d\xff")},
        {"00", true, std::string(1, '\0')},
        {"", false, ""},
        {" ", false, ""},
        {"5", false, ""},
        {"051", false, ""},
        {"05 1", false, ""},
        {" 05", false, ""},
        {"05 ", false, ""},
        {"05  03", false, ""},  // an empty group: text, as the monitor has always sent it
        {"0g", false, ""},
        {"W\\r\\n", false, ""},
    };
    for (const Case& c : cases) {
        std::string out = "stale";
        EXPECT_EQ(ParseHexBytes(c.text, out), c.hex) << c.text;
        EXPECT_EQ(out, c.bytes) << c.text;
    }
}

TEST(ToolText, Integers) {
    struct Case {
        const char* text;
        long long low, high;
        bool ok;
        long long value;
    };
    const Case cases[] = {
        {"0", 0, 10, true, 0},
        {"10", 0, 10, true, 10},
        {"11", 0, 10, false, 0},
        {"-1", 0, 10, false, 0},
        {"-1", -5, 5, true, -1},
        {"+7", 0, 10, true, 7},
        {"010", 0, 100, true, 10},  // decimal, never octal
        {"0x10", 0, 100, false, 0},
        {"1e3", 0, 10000, false, 0},
        {"12.5", 0, 100, false, 0},
        {"", 0, 10, false, 0},
        {"-", -10, 10, false, 0},
        {"+", -10, 10, false, 0},
        {" 5", 0, 10, false, 0},
        {"5 ", 0, 10, false, 0},
        {"--5", -10, 10, false, 0},
        {"2147483647", INT32_MIN, INT32_MAX, true, INT32_MAX},
        {"-2147483648", INT32_MIN, INT32_MAX, true, INT32_MIN},
        {"2147483648", INT32_MIN, INT32_MAX, false, 0},
        {"-2147483649", INT32_MIN, INT32_MAX, false, 0},
        {"9223372036854775807", LLONG_MIN, LLONG_MAX, true, LLONG_MAX},
        {"-9223372036854775808", LLONG_MIN, LLONG_MAX, true, LLONG_MIN},
        {"9223372036854775808", LLONG_MIN, LLONG_MAX, false, 0},
        {"99999999999999999999999", LLONG_MIN, LLONG_MAX, false, 0},
    };
    for (const Case& c : cases) {
        long long out = 4242;
        EXPECT_EQ(ParseInteger(c.text, c.low, c.high, out), c.ok) << c.text;
        EXPECT_EQ(out, c.ok ? c.value : 4242) << c.text;
    }
    // Into an int the range is the int's too, whatever the bounds asked.
    int n = 3;
    EXPECT_FALSE(ParseInteger("4294967296", LLONG_MIN, LLONG_MAX, n));
    EXPECT_FALSE(ParseInteger("99999999999", 0, LLONG_MAX, n));
    EXPECT_EQ(n, 3);
    EXPECT_TRUE(ParseInteger("-2147483648", LLONG_MIN, LLONG_MAX, n));
    EXPECT_EQ(n, INT_MIN);
}

TEST(ToolText, Hundredths) {
    struct Case {
        long long hundredths;
        const char* text;
    };
    // "%d.%02d" of price / 100 and price % 100 gave "0.-5" for -5.
    const Case cases[] = {{0, "0.00"},      {7, "0.07"},     {1250, "12.50"},
                          {100, "1.00"},    {-5, "-0.05"},   {-1250, "-12.50"},
                          {-100, "-1.00"},  {INT32_MAX, "21474836.47"}, {INT32_MIN, "-21474836.48"},
                          {LLONG_MIN, "-92233720368547758.08"}};
    for (const Case& c : cases) EXPECT_EQ(HundredthsText(c.hundredths), c.text) << c.hundredths;
}

}  // namespace
