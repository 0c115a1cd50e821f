// The zelscales tool's JSON lines: string escaping of whatever bytes the
// driver hands back, numbers, times, and the event data lines read into fields.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "scales/listener/Vn220Events.h"
#include "scales/listener/VnaCiEvents.h"
#include "scales/listener/Vta60Events.h"
#include "tools/event_line.h"
#include "tools/json.h"

using namespace zelscales;

namespace {

TEST(ToolJson, QuoteEscapesAndRepairs) {
    struct Case {
        const char* name;
        std::string bytes;
        std::string expected;
    };
    const Case cases[] = {
        {"empty", "", R"("")"},
        {"plain", "result 0: ok", R"("result 0: ok")"},
        {"quote and backslash", "a\"b\\c", R"("a\"b\\c")"},
        {"short escapes", "\b\f\n\r\t", R"("\b\f\n\r\t")"},
        {"other controls and DEL", std::string("\x01\x1f\x7f", 3), R"("\u0001\u001f\u007f")"},
        {"NUL inside", std::string("a\0b", 3), R"("a\u0000b")"},
        {"Cyrillic passes", "Ошибка_3: Нет связи", "\"Ошибка_3: Нет связи\""},
        {"three and four bytes pass", "\xE2\x82\xAC \xF0\x9F\x98\x80", "\"\xE2\x82\xAC \xF0\x9F\x98\x80\""},
        {"slash stays", "a/b", R"("a/b")"},
        {"windows-1251 byte", "\xCE\xF8", R"("\ufffd\ufffd")"},
        {"stray continuation", "a\x80z", R"("a\ufffdz")"},
        {"overlong slash", "\xC0\xAF", R"("\ufffd\ufffd")"},
        {"overlong three-byte", "\xE0\x80\xAF", R"("\ufffd\ufffd\ufffd")"},
        {"encoded surrogate", "\xED\xA0\x80", R"("\ufffd\ufffd\ufffd")"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", R"("\ufffd\ufffd\ufffd\ufffd")"},
        {"lead bytes F5 and FF", "\xF5\xFF", R"("\ufffd\ufffd")"},
        {"cut at the end", "ok\xD0", R"("ok\ufffd")"},
        {"cut before ASCII", "\xE2\x82z", R"("\ufffd\ufffdz")"},
        {"last code point", "\xF4\x8F\xBF\xBF", "\"\xF4\x8F\xBF\xBF\""},
    };
    for (const Case& c : cases) EXPECT_EQ(json::Quote(c.bytes), c.expected) << c.name;
}

// Whatever the bytes, the text stays on one line with no raw control byte
// and no unescaped quote inside.
TEST(ToolJson, QuoteOfRandomBytesIsOneCleanString) {
    std::mt19937 random(12345);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes(random() % 24, '\0');
        for (char& b : bytes) b = static_cast<char>(random() & 0xFF);
        const std::string q = json::Quote(bytes);
        ASSERT_GE(q.size(), 2u);
        EXPECT_EQ(q.front(), '"');
        EXPECT_EQ(q.back(), '"');
        for (size_t i = 1; i + 1 < q.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(q[i]);
            ASSERT_FALSE(c < 0x20 || c == 0x7F) << "raw control byte at " << i;
            if (c == '\\') {
                ++i;  // the escaped character
                ASSERT_LT(i + 1, q.size()) << "escape runs into the closing quote";
            } else {
                ASSERT_NE(c, '"') << "unescaped quote at " << i;
            }
        }
    }
}

TEST(ToolJson, Numbers) {
    struct Case {
        double value;
        const char* expected;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {0.0, "0"},
        {-0.0, "0"},
        {1.234, "1.234"},
        {-12.345, "-12.345"},
        {2500, "2500"},
        {0.1 + 0.2, "0.30000000000000004"},
        {1e300, "1e+300"},
        {std::nan(""), "null"},
        {inf, "null"},
        {-inf, "null"},
    };
    for (const Case& c : cases) EXPECT_EQ(json::Number(c.value), c.expected) << c.value;
}

TEST(ToolJson, IsoUtcTimes) {
    struct Case {
        int64_t ms;
        const char* expected;
    };
    const Case cases[] = {
        {0, "1970-01-01T00:00:00.000Z"},
        {1, "1970-01-01T00:00:00.001Z"},
        {-1, "1969-12-31T23:59:59.999Z"},
        {951782400000, "2000-02-29T00:00:00.000Z"},     // leap day of a year divisible by 400
        {4107542399999, "2100-02-28T23:59:59.999Z"},    // 2100 has no 29 February
        {4107542400000, "2100-03-01T00:00:00.000Z"},
        {1796850655123, "2026-12-09T21:10:55.123Z"},
        {253402300799999, "9999-12-31T23:59:59.999Z"},
        {253402300800000, "9999-12-31T23:59:59.999Z"},  // clamped
        {INT64_MAX, "9999-12-31T23:59:59.999Z"},
        {-62167219200000, "0000-01-01T00:00:00.000Z"},
        {INT64_MIN, "0000-01-01T00:00:00.000Z"},
    };
    for (const Case& c : cases) EXPECT_EQ(json::IsoUtc(c.ms), c.expected) << c.ms;
    // The clock is read as UTC milliseconds since 1970: some time after this was written.
    EXPECT_GT(json::NowUnixMs(), 1765000000000);
}

TEST(ToolJson, ObjectKeepsOrderAndTypes) {
    json::Object o;
    o.Int("result", 3).String("error", "Ошибка_3:\t\"нет\"").Number("weight", std::nan("")).Bool("stable", false);
    o.Null("price").Int("big", INT64_MIN);
    EXPECT_EQ(o.Text(), "{\"result\":3,\"error\":\"Ошибка_3:\\t\\\"нет\\\"\",\"weight\":null,\"stable\":false,"
                        "\"price\":null,\"big\":-9223372036854775808}");
    EXPECT_EQ(json::Object().Text(), "{}");
    json::Object t;
    t.Time();
    const std::string text = t.Text();
    ASSERT_EQ(text.size(), std::string(R"({"time":"2026-12-08T22:10:55.123Z"})").size()) << text;
    EXPECT_EQ(text.substr(0, 9), R"({"time":")");
    EXPECT_EQ(text.substr(text.size() - 3), "Z\"}");
}

// Nested values are written by the same rules as fields: strings repaired
// and escaped, numbers locale-free and shortest, keys in the order added.
TEST(ToolJson, DumpNestedValues) {
    using json::Value;
    struct Case {
        const char* name;
        Value value;
        const char* expected;
    };
    Value ordered = Value::object();
    ordered["z"] = 1;
    ordered["a"] = 2;
    ordered["m"] = 3;
    ordered["a"] = "again";  // keeps its first place
    const Case cases[] = {
        {"empty array", Value::array(), "[]"},
        {"empty object", Value::object(), "{}"},
        {"null", Value(), "null"},
        {"insertion order", ordered, R"({"z":1,"a":"again","m":3})"},
        {"numbers in an array", Value::array({2500.0, -0.0, 0.001, 1e-06, std::nan(""), -7, UINT64_MAX}),
         "[2500,0,0.001,1e-06,null,-7,18446744073709551615]"},
        {"strings in an array", Value::array({std::string("a\x80z"), std::string("\x7f\n"), "Вес"}),
         R"(["a\ufffdz","\u007f\n","Вес"])"},
        {"key repaired", Value::object({{std::string("k\xff\""), true}}), R"({"k\ufffd\"":true})"},
        {"nested", Value::object({{"usb", Value::object({{"vendor_id", "0403"}, {"serial", nullptr}})},
                                  {"aliases", Value::array({"/dev/serial/by-id/x"})}}),
         R"({"usb":{"vendor_id":"0403","serial":null},"aliases":["/dev/serial/by-id/x"]})"},
    };
    for (const Case& c : cases) EXPECT_EQ(json::Dump(c.value), c.expected) << c.name;

    json::Object o;
    o.Int("model", 13).Set("group", Value::array({13, 27})).Number("weight", 1.5).Int("model", 27);
    EXPECT_EQ(o.Text(), R"({"model":27,"group":[13,27],"weight":1.5})");
}

TEST(ToolJson, EventLinesIntoFields) {
    struct Case {
        int model;
        std::string line;
        std::string expected;
    };
    const Case cases[] = {
        {5, " 1.234;  0.00;  0.00;A1;", R"({"weight":1.234,"device":"A1"})"},
        {5, " 1,234;  0,00;  0,00;A1;", R"({"weight":1.234,"device":"A1"})"},
        {5, "-0.500;  0.00;  0.00;;", R"({"weight":-0.5,"device":""})"},
        {32, " 2.500; 0.100;  0.00;B2;", R"({"weight":2.5,"tare":0.1,"device":"B2"})"},
        {6, " 1.234;  0.00;  0.00;C3;4820000000017;", R"({"weight":1.234,"device":"C3","text":"4820000000017"})"},
        {6, " 1.234;  0.00;  0.00;C3;a;b\"c;", R"({"weight":1.234,"device":"C3","text":"a;b\"c"})"},
        {6, " 1.234;  0.00;  0.00;C3;;", R"({"weight":1.234,"device":"C3","text":""})"},
        {22, " 1.234; 12.50; 15.43;D4;", R"({"weight":1.234,"price":12.5,"cost":15.43,"device":"D4"})"},
        {15, " 1.234; 12.50; 15.43;", R"({"weight":1.234,"price":12.5,"cost":15.43})"},
        {15, "+1.234;012.50;   abc;", R"({"weight":1.234,"price":12.5,"cost":null})"},
        // What a scale's own text may be: short, empty, garbage, no separators.
        {15, "1.5", R"({"weight":1.5,"price":null,"cost":null})"},
        {15, "", R"({"weight":null,"price":null,"cost":null})"},
        {22, "1e5;--1;0x10;", R"({"weight":null,"price":null,"cost":null,"device":null})"},
        {5, "1.2.3;", R"({"weight":null,"device":null})"},
        {5, ";;;;;;", R"({"weight":null,"device":";;"})"},
        {20, " 1.234;", "{}"},
    };
    for (const Case& c : cases) {
        json::Object o;
        AddEventFields(c.model, c.line, o);
        EXPECT_EQ(o.Text(), c.expected) << "model " << c.model << " line '" << c.line << "'";
    }
}

// The fields the tool reads are where the listeners write them: lines made
// by the driver's own builders come back with their values.
TEST(ToolJson, EventFieldsReadTheDriversOwnLines) {
    const struct {
        int model;
        std::string line;
        std::string expected;
    } cases[] = {
        {5, zel::vn220::Vn220Line(1.234, "A1"), R"({"weight":1.234,"device":"A1"})"},
        {32, zel::vn220::TaraLine(2.5, 0.1, "B2"), R"({"weight":2.5,"tare":0.1,"device":"B2"})"},
        {6, zel::vnaci::VnaCiLine(1.234, "C3", "4820000000017"), R"({"weight":1.234,"device":"C3","text":"4820000000017"})"},
        {22, zel::vta60::DigitFrameLine(1.234, 12.5, 15.43, "D4"),
         R"({"weight":1.234,"price":12.5,"cost":15.43,"device":"D4"})"},
    };
    for (const auto& c : cases) {
        json::Object o;
        AddEventFields(c.model, c.line, o);
        EXPECT_EQ(o.Text(), c.expected) << "model " << c.model << " line '" << c.line << "'";
    }
}

}  // namespace
