#include <gtest/gtest.h>

#include "tests/unit/model_rows.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "core/ResultCodes.h"
#include "devices/ScalesManager.h"
#include "core/Text.h"
#include "scales/IScalesObject.h"
#include "scales/ScalesEmulyator.h"
#include "tests/skip_or_fail.h"

TEST(ParseNumberText, Table) {
    struct Case {
        const char* text;
        double expected;
    } cases[] = {
        {"12.5", 12.5},       {"  -0,075kg", -0.075}, {"1.2.3", 1.2},   {"+5", 5.0},   {"5-", 5.0},
        {"--3", -3.0},        {"abc", 0.0},           {"", 0.0},        {",5", 0.5},   {". 5", 0.5},
        {"  1.234", 1.234},   {"-  0.50", -0.5},      {"7 8", 7.0},     {"0", 0.0},    {"001.234", 1.234},
        {"12\x01" "3", 12.0}, {"-", 0.0},             {"3,", 3.0},
    };
    for (const Case& c : cases) EXPECT_DOUBLE_EQ(ParseNumberText(c.text), c.expected) << '"' << c.text << '"';
    EXPECT_DOUBLE_EQ(ParseNumberText(nullptr), 0.0);
}

TEST(ParseNumberText, ReadsAtMostFiftyCharacters) {
    std::string sixty(60, '1');
    EXPECT_DOUBLE_EQ(ParseNumberText(sixty.c_str()), std::stod(std::string(50, '1')));
    std::string fraction = "0." + std::string(47, '0') + "99";  // the second 9 is the 51st character
    EXPECT_DOUBLE_EQ(ParseNumberText(fraction.c_str()), 9e-48);
}

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
const int kNumberStride = 97;  // instrumented: a sample keeps the test quick
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
const int kNumberStride = 97;
#else
const int kNumberStride = 1;
#endif
#else
const int kNumberStride = 1;
#endif

const double kPow10[5] = {1, 10, 100, 1000, 10000};

// Every decimal text of 1 to 7 digits with 0 to 4 decimals ("0.005",
// "123.4567", "9999999"), m / 10^k for m below 10^7, in steps of `stride`
// through m; `visit(text, m, k)` gets each, the text after a free byte for
// a sign.
template <typename Visit>
void EachDecimalText(int stride, Visit visit) {
    char buf[16];
    char digits[8];
    for (int m = 0; m < 10000000; m += stride) {
        int len = 0;
        for (int rest = m; len == 0 || rest > 0; rest /= 10) digits[len++] = static_cast<char>('0' + rest % 10);
        for (int i = 0; i < len / 2; ++i) std::swap(digits[i], digits[len - 1 - i]);
        for (int k = 0; k <= 4; ++k) {
            char* t = buf + 1;
            int w = 0;
            if (k == 0) {
                std::memcpy(t, digits, static_cast<size_t>(len));
                w = len;
            } else if (len > k) {
                std::memcpy(t, digits, static_cast<size_t>(len - k));
                w = len - k;
                t[w++] = '.';
                std::memcpy(t + w, digits + len - k, static_cast<size_t>(k));
                w += k;
            } else {
                t[w++] = '0';
                t[w++] = '.';
                for (int z = 0; z < k - len; ++z) t[w++] = '0';
                std::memcpy(t + w, digits, static_cast<size_t>(len));
                w += len;
            }
            t[w] = '\0';
            visit(buf, m, k);
        }
    }
}

}  // namespace

// The double nearest the decimal: m / 10^k is exactly that (both exact in
// binary, and one IEEE division rounds correctly), and so is strtod's value
// in the "C" locale. Digit-by-digit arithmetic made "2.345"
// 2.3449999999999998, a gram short once cut to grams.
TEST(ParseNumberText, EveryShortDecimalIsTheNearestDouble) {
    EXPECT_EQ(ParseNumberText("2.345"), 2.345);
    EXPECT_EQ(static_cast<long>(ParseNumberText("2.345") * 1000), 2345);
    ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    long wrong = 0, checked = 0;
    std::string firstWrong;
    EachDecimalText(kNumberStride, [&](char* buf, int m, int k) {
        const char* text = buf + 1;
        const double expected = m / kPow10[k];
        bool ok = ParseNumberText(text) == expected;
        // Signed too, '-' and '+' by turns.
        buf[0] = (m + k) % 2 ? '-' : '+';
        ok = ok && ParseNumberText(buf) == (buf[0] == '-' ? -expected : expected);
        // The reference itself, against the C runtime, on a sample.
        if (m % 1009 == 0) ok = ok && std::strtod(text, nullptr) == expected;
        ++checked;
        if (!ok && wrong++ == 0) firstWrong = text;
    });
    EXPECT_EQ(wrong, 0) << "first: " << firstWrong;
    EXPECT_GE(checked, 5 * 10000000L / kNumberStride);
}

namespace {

// A sample of the texts with ',' for '.', read as with '.'; under whatever
// locale is in force.
long WrongWithEitherSeparator() {
    long wrong = 0;
    EachDecimalText(kNumberStride * 101, [&](char* buf, int m, int k) {
        const double expected = m / kPow10[k];
        buf[0] = '-';
        if (ParseNumberText(buf + 1) != expected || ParseNumberText(buf) != -expected) ++wrong;
        if (char* point = std::strchr(buf, '.')) *point = ',';
        if (ParseNumberText(buf + 1) != expected || ParseNumberText(buf) != -expected) ++wrong;
    });
    return wrong;
}

}  // namespace

TEST(ParseNumberText, CommaAndProcessLocaleChangeNothing) {
    EXPECT_EQ(WrongWithEitherSeparator(), 0);
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    // A locale with a decimal comma, by its POSIX or its Windows name.
    if (!std::setlocale(LC_ALL, "ru_RU.UTF-8") && !std::setlocale(LC_ALL, "Russian_Russia.1251"))
        ZEL_SKIP_OR_FAIL("no Russian locale");
    // The locale reads ',' as its decimal separator, so strtod would differ.
    const double commaInLocale = std::strtod("2,5", nullptr);
    const long wrong = WrongWithEitherSeparator();
    const double sample = ParseNumberText("  -2.345kg");
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(commaInLocale, 2.5);
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(sample, -2.345);
}

TEST(ParseNumberText, SignsBeforeTheDigits) {
    struct Case {
        const char* text;
        double expected;
    } cases[] = {
        {"+5", 5.0},      {"  +12.50", 12.5}, {"+ 2,5", 2.5},  {"+-3", -3.0}, {"-+3", -3.0},
        {"5+", 5.0},      {"+", 0.0},         {"1+2", 1.0},    {"+.5", 0.5},  {"++7", 7.0},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseNumberText(c.text), c.expected) << '"' << c.text << '"';
}

TEST(Text, ReadNumberField) {
    struct Case {
        const char* field;
        bool unit;
        bool read;
        double value;
    } cases[] = {
        {"   1.234", false, true, 1.234},   {"-  12.50", false, true, -12.5},  {"+0,750  ", false, true, 0.75},
        {"2.345", false, true, 2.345},      {"  .5", false, true, 0.5},        {"7.", false, true, 7.0},
        {"12.5 kg", true, true, 12.5},      {"12.5kg  ", true, true, 12.5},    {"-0.000", false, true, -0.0},
        {"12.5 kg", false, false, 0},       {"", false, false, 0},             {"      ", false, false, 0},
        {"  -", false, false, 0},           {"-.", false, false, 0},           {"12 50", false, false, 0},
        {"1.2.3", false, false, 0},         {"1250-", false, false, 0},        {"--5", false, false, 0},
        {"+-5", false, false, 0},           {"-1-2", false, false, 0},         {"12.5 kg 3", true, false, 0},
        {"12.5kg.", true, false, 0},        {"x12", true, false, 0},           {"1\r", false, false, 0},
        {"------", false, false, 0},        {"12\t", false, false, 0},
    };
    for (const Case& c : cases) {
        double v = -99.0;
        const bool read = zel::ReadNumberField(reinterpret_cast<const uint8_t*>(c.field), std::strlen(c.field), c.unit, v);
        EXPECT_EQ(read, c.read) << '"' << c.field << '"';
        EXPECT_EQ(v, c.read ? c.value : -99.0) << '"' << c.field << '"';
    }
    // 48 digits at most: more would be cut by the parser.
    const std::string many(49, '1');
    double v = 0;
    EXPECT_FALSE(zel::ReadNumberField(reinterpret_cast<const uint8_t*>(many.data()), many.size(), false, v));
    EXPECT_TRUE(zel::ReadNumberField(reinterpret_cast<const uint8_t*>(many.data()), 48, false, v));
    EXPECT_EQ(v, std::strtod(many.substr(0, 48).c_str(), nullptr));
    EXPECT_FALSE(zel::ReadNumberField(nullptr, 4, false, v));
}

TEST(ResultText, CodesAndUnknown) {
    EXPECT_EQ(std::u16string(zel::ResultText(0)), u"OK");
    EXPECT_EQ(std::u16string(zel::ResultText(8)), u"Ошибка_8: DeviceID не найден.");
    // Cyrillic С, О, М in the port texts.
    EXPECT_NE(std::u16string(zel::ResultText(2)).find(u"\u0421\u041E\u041C"), std::u16string::npos);
    for (int code : {6, 9, 1099, -1, 100}) EXPECT_EQ(std::u16string(zel::ResultText(code)), u"UnknownError");
}

TEST(Text, FormatFixedFollowsSeparator) {
    EXPECT_EQ(zel::FormatFixed(1.234, 6, 3), " 1.234");
    EXPECT_EQ(zel::FormatFixed(0.0, 6, 2), "  0.00");
    EXPECT_EQ(zel::FormatFixed(-123.4567, 6, 3), "-123.457");
    zel::SetDecimalSeparator(',');
    EXPECT_EQ(zel::FormatFixed(1.5, 6, 3), " 1,500");
    EXPECT_DOUBLE_EQ(zel::TextToDouble(" 0,98"), 0.98);
    EXPECT_DOUBLE_EQ(zel::TextToDouble("0.98"), 0.0);  // '.' is not the separator
    zel::SetDecimalSeparator('.');
    EXPECT_DOUBLE_EQ(zel::TextToDouble("1.0"), 1.0);
    EXPECT_DOUBLE_EQ(zel::TextToDouble("-2.5e1x"), -25.0);
    EXPECT_DOUBLE_EQ(zel::TextToDouble("x1"), 0.0);
}

TEST(Text, TextToDoubleOutOfRange) {
    // As the C runtime: too large is infinite, too small is zero.
    struct Case {
        const char* text;
        double expected;
    } cases[] = {
        {"1e-400", 0.0},
        {"-1e-400", 0.0},
        {"0.000001e-399", 0.0},
        {"1e400", std::numeric_limits<double>::infinity()},
        {"-1e400", -std::numeric_limits<double>::infinity()},
        {"1000e-310", 1e-307},
    };
    for (const Case& c : cases) EXPECT_DOUBLE_EQ(zel::TextToDouble(c.text), c.expected) << c.text;
    std::string huge = "0." + std::string(300, '0') + "1e-100";
    EXPECT_DOUBLE_EQ(zel::TextToDouble(huge.c_str()), 0.0);
}

TEST(Text, TextToDoubleNeverGivesNegativeZero) {
    // A coefficient of "-" must not turn every weight into -0.0.
    const char* const zeros[] = {"-", "-abc", "  -", "- 1", "--1", "+", "", "abc", "-0", "-0.000", "-0e5", "-1e-400"};
    for (const char* text : zeros) {
        double v = zel::TextToDouble(text);
        EXPECT_EQ(v, 0.0) << '"' << text << '"';
        EXPECT_FALSE(std::signbit(v)) << '"' << text << '"';
    }
    EXPECT_FALSE(std::signbit(zel::TextToDouble(nullptr)));
    // Negative numbers keep their sign.
    EXPECT_DOUBLE_EQ(zel::TextToDouble("-0.5"), -0.5);
    EXPECT_DOUBLE_EQ(zel::TextToDouble(" -3kg"), -3.0);
    EXPECT_TRUE(std::signbit(zel::TextToDouble("-1e-300")));
}

TEST(Text, TruncToInt32NeverOverflows) {
    EXPECT_EQ(zel::TruncToInt32(1234.9), 1234);
    EXPECT_EQ(zel::TruncToInt32(-1234.9), -1234);
    EXPECT_EQ(zel::TruncToInt32(1e12), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(zel::TruncToInt32(-1e12), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(zel::TruncToInt32(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(zel::TruncToInt32(std::numeric_limits<double>::infinity()), std::numeric_limits<int32_t>::max());
}

TEST(Text, WideTo1251) {
    const char16_t text[] = u"COM3 Весы №";
    std::string out = zel::WideTo1251(text, zel::WideLength(text));
    EXPECT_EQ(out, std::string("COM3 \xC2\xE5\xF1\xFB \xB9"));
}

TEST(Emulator, RangesAndProportions) {
    ScalesEmulyator scale;
    scale.Seed(12345);
    const int kReadings = 20000;
    int noAnswer = 0, unstable = 0;
    double minPrice = 1e9, maxPrice = -1;
    for (int i = 0; i < kReadings; ++i) {
        double w = -1, p = -1, c = -1;
        int32_t s = -1;
        int32_t r = scale.ReadWeight(w, p, c, s);
        ASSERT_TRUE(r == 0 || r == 3);
        noAnswer += r == 3;
        unstable += s == 0;
        ASSERT_GE(w, 0.080);
        ASSERT_LE(w, 104.999);
        ASSERT_NEAR(w * 1000, std::round(w * 1000), 1e-6);
        minPrice = std::min(minPrice, p);
        maxPrice = std::max(maxPrice, p);
        // Cost in whole hundredths, cut toward zero, from exact price and grams.
        int64_t hundredths = std::llround(p * 100), grams = std::llround(w * 1000);
        ASSERT_DOUBLE_EQ(c, static_cast<double>(hundredths * grams / 1000) / 100) << p << " x " << w;
    }
    EXPECT_NEAR(noAnswer / double(kReadings), 0.10, 0.02);
    EXPECT_NEAR(unstable / double(kReadings), 0.20, 0.02);
    EXPECT_GE(minPrice, 0.0);
    EXPECT_LE(maxPrice, 327.67);
    EXPECT_GT(maxPrice - minPrice, 100.0);

    EXPECT_EQ(scale.SendPrice(1250), 0);
    for (int i = 0; i < 100; ++i) {
        double w, p, c;
        int32_t s;
        scale.ReadWeight(w, p, c, s);
        ASSERT_DOUBLE_EQ(p, 12.5);
        ASSERT_DOUBLE_EQ(c, static_cast<double>(1250 * std::llround(w * 1000) / 1000) / 100);
    }
    // 1.00 a kilogram: every reading costs exactly its whole hundredths,
    // with no cent lost to binary fractions (0.290 kg costs 0.29).
    EXPECT_EQ(scale.SendPrice(100), 0);
    for (int i = 0; i < 20000; ++i) {
        double w, p, c;
        int32_t s;
        scale.ReadWeight(w, p, c, s);
        ASSERT_DOUBLE_EQ(c, static_cast<double>(std::llround(w * 1000) / 10) / 100) << w;
    }
    EXPECT_EQ(scale.Tare(0.0), 0);
    EXPECT_EQ(scale.Zero(), 5);
}

TEST(Emulator, OneSeedGivesOneSequence) {
    // Fixed for every compiler: the generator's draws are taken in a fixed
    // order (stable, weight high and low parts, price, answer).
    struct Reading {
        int32_t result;
        double weight, price, cost;
        int32_t stable;
    } const expected[] = {
        {0, 63.501, 34.98, 2221.26, 1}, {0, 53.490, 84.10, 4498.50, 0},  {0, 50.310, 210.87, 10608.86, 1},
        {0, 8.676, 176.61, 1532.26, 1}, {0, 78.711, 320.96, 25263.08, 1}, {0, 70.060, 56.61, 3966.09, 1},
    };
    for (int pass = 0; pass < 2; ++pass) {  // reseeding starts the sequence again
        ScalesEmulyator scale;
        scale.Seed(12345);
        for (const Reading& e : expected) {
            double w = -1, p = -1, c = -1;
            int32_t s = -1;
            EXPECT_EQ(scale.ReadWeight(w, p, c, s), e.result);
            EXPECT_DOUBLE_EQ(w, e.weight);
            EXPECT_DOUBLE_EQ(p, e.price);
            EXPECT_NEAR(c, e.cost, 1e-9);
            EXPECT_EQ(s, e.stable);
        }
    }
}

TEST(Manager, TableFillsAndFrees) {
    CScalesManager m;
    m.model = 20;
    std::string ids[CScalesManager::kMaxDevices];
    for (auto& id : ids) {
        m.OpenDevice(id);
        ASSERT_EQ(m.lastResult, 0);
        ASSERT_EQ(id.size(), 20u);
        ASSERT_EQ(id.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    }
    std::string extra;
    m.OpenDevice(extra);
    EXPECT_EQ(m.lastResult, 1099);
    EXPECT_EQ(m.FindDevice(extra.c_str()), nullptr);
    m.CloseDevice(ids[37].c_str());
    EXPECT_EQ(m.lastResult, 0);
    EXPECT_EQ(m.devices[37], nullptr);
    m.OpenDevice(extra);
    EXPECT_EQ(m.lastResult, 0);
    EXPECT_NE(m.devices[37], nullptr);
    EXPECT_EQ(m.CloseAllDevices(), 1099);
    for (IScalesObject* d : m.devices) EXPECT_EQ(d, nullptr);
}

TEST(Manager, UnknownModelsAndCoefficient) {
    CScalesManager m;
    for (int model : zeltest::UnmadeModels()) {
        EXPECT_EQ(m.CreateDevice("COM1", 9600, model, false, "X", 0, 1.0), 5);
        EXPECT_EQ(m.FindDevice("X"), nullptr);
    }
    EXPECT_EQ(m.CreateDevice(nullptr, 9600, 20, false, "X", 0, 1.0), 1);
    EXPECT_EQ(m.CreateDevice("COM7", 9600, 20, false, "E1", 0, 0.5), 0);
    EXPECT_EQ(m.CreateDevice("COM7", 9600, 20, false, "E2", 0, 1.0), 0);
    // The port name finds the first device on it; Close removes both.
    EXPECT_EQ(m.FindDevice("COM7"), m.FindDevice("E1"));
    double w = 0, p = 0, c = 0;
    int32_t s = 0;
    m.ReadDeviceWeight("E1", w, p, c, s);
    EXPECT_LE(w, 104.999 * 0.5);
    EXPECT_EQ(m.ReadDeviceWeight("nope", w, p, c, s), 8);
    m.CloseDevice("COM7");
    EXPECT_EQ(m.FindDevice("E1"), nullptr);
    EXPECT_EQ(m.FindDevice("E2"), nullptr);
    // A repeated ID always gets a fresh object.
    m.CreateDevice("A", 0, 20, false, "same", 0, 1.0);
    IScalesObject* first = m.FindDevice("same");
    m.CreateDevice("B", 0, 20, false, "same", 0, 1.0);
    int count = 0;
    for (IScalesObject* d : m.devices) count += d && d->Matches("same");
    EXPECT_EQ(count, 1);
    (void)first;
}

// Scaled readings cut to whole units: the text means a whole number even
// when binary falls a hair short of it; real fractions are still cut.
TEST(WholeTowardZero, KeepsTheWholeNumberATextMeans) {
    const struct {
        double value;
        double whole;
    } cases[] = {
        {1.005 * 1000, 1005}, {32.3 * 1000, 32300}, {4.007 * 1000, 4007}, {-32.3 * 1000, -32300},
        {1.0057 * 1000, 1005}, {-0.0125 * 1000, -12}, {0.9999 * 1000, 999},  {-0.0001 * 1000, 0},
        {1e10, 1e10},          {0.0, 0.0},
    };
    for (const auto& c : cases) {
        const double got = zel::WholeTowardZero(c.value);
        EXPECT_EQ(got, c.whole) << c.value;
        EXPECT_FALSE(std::signbit(got) && got == 0.0) << c.value << " gave -0";
    }
}

TEST(FrameFieldHelpers, NegatedNeverGivesMinusZero) {
    struct Case {
        double value;
        bool negative;
        double expected;
    };
    const Case cases[] = {{1.5, true, -1.5}, {1.5, false, 1.5}, {0.0, true, 0.0}, {-0.0, true, 0.0}, {-2.0, false, -2.0}};
    for (const Case& c : cases) {
        const double got = zel::Negated(c.value, c.negative);
        EXPECT_EQ(got, c.expected) << c.value << " " << c.negative;
        EXPECT_EQ(std::signbit(got), std::signbit(c.expected)) << c.value << " " << c.negative;
    }
}

TEST(FrameFieldHelpers, FieldTextCopiesOnlyTheField) {
    const uint8_t frame[] = {'S', 'T', '1', '2', '.', '5', 'k', 'g'};
    char text[5];
    zel::FieldText(frame, 2, 4, text);
    EXPECT_STREQ(text, "12.5");
    zel::FieldText(frame, 0, 0, text);
    EXPECT_STREQ(text, "");
}
