// Мирвесов and STX-frame scales: the 'D' frame, the А12 reply, the А12EH
// and А9 continuous frames decoded on bytes; the requests and commands on a
// scripted line; a stream read from inside a frame.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "devices/ModelTable.h"
#include "scales/Mirvesov.h"
#include "tests/unit/exchange_scripted_line.h"
#include "tests/unit/decoder_support.h"

using zel::exchange::Reading;
using zeltest::ScriptedLine;
using zeltest::ScriptedSession;
namespace mv = zel::mirvesov;

namespace {

using zeltest::Sentinel;

// 02 <address> 'D' sign <7 field bytes> <2 bytes> 03; the two bytes "XOR"
// for the check of the bytes before them.
std::vector<uint8_t> DFrame(char sign, const char* field, const char* tail = "\x00\x0D", uint8_t address = 0x40) {
    std::vector<uint8_t> f = {0x02, address, 'D', static_cast<uint8_t>(sign)};
    for (int i = 0; i < 7; ++i) f.push_back(static_cast<uint8_t>(field[i]));
    if (std::string(tail) == "XOR") {
        uint8_t x = 0;
        for (size_t i = 1; i < f.size(); ++i) x ^= f[i];
        const char* hex = "0123456789ABCDEF";
        f.push_back(static_cast<uint8_t>(hex[x >> 4]));
        f.push_back(static_cast<uint8_t>(hex[x & 15]));
    } else {
        f.push_back(static_cast<uint8_t>(tail[0]));
        f.push_back(static_cast<uint8_t>(tail[1]));
    }
    f.push_back(0x03);
    return f;
}

// 'w' <status> <9 chars> CR LF
std::vector<uint8_t> A12Reply(const char* text, char status = 'S') {
    std::vector<uint8_t> f = {'w', static_cast<uint8_t>(status)};
    for (int i = 0; i < 9; ++i) f.push_back(static_cast<uint8_t>(text[i]));
    f.insert(f.end(), {0x0D, 0x0A});
    return f;
}

// 02 code status <word C> <6 digits> <6 bytes> CR
std::vector<uint8_t> A12ehFrame(uint8_t code, uint8_t status, const char* digits, const char* tail = "999999",
                                uint8_t wordC = 0x20) {
    std::vector<uint8_t> f = {0x02, code, status, wordC};
    for (int i = 0; i < 6; ++i) f.push_back(static_cast<uint8_t>(digits[i]));
    for (int i = 0; i < 6; ++i) f.push_back(static_cast<uint8_t>(tail[i]));
    f.push_back(0x0D);
    return f;
}

// 02 sign <6 chars> code <2 bytes> 03 (no check: a status byte and CR, or
// the check with `check`)
std::vector<uint8_t> A9ContinFrame(char sign, const char* text, char code, bool check = false) {
    std::vector<uint8_t> f = {0x02, static_cast<uint8_t>(sign)};
    for (int i = 0; i < 6; ++i) f.push_back(static_cast<uint8_t>(text[i]));
    f.push_back(static_cast<uint8_t>(code));
    if (check) {
        uint8_t x = 0;
        for (size_t i = 1; i < f.size(); ++i) x ^= f[i];
        const char* hex = "0123456789ABCDEF";
        f.insert(f.end(), {static_cast<uint8_t>(hex[x >> 4]), static_cast<uint8_t>(hex[x & 15]), 0x03});
    } else {
        f.insert(f.end(), {0x00, 0x0D, 0x03});
    }
    return f;
}

const double kRefused = NAN;  // result 3: the decoder refuses the frame

// Decodes and holds the outcome against `weight` (kRefused: result 3).
void ExpectDecoded(zel::exchange::DecodeFn decode, const std::vector<uint8_t>& f, double weight,
                   int32_t result = 0) {
    Reading out = Sentinel();
    const zel::exchange::Decoded d = decode(f.data(), f.size(), out);
    if (std::isnan(weight)) {
        EXPECT_EQ(d.result, 3);
        EXPECT_NE(d.why, nullptr);
        EXPECT_EQ(out.weight, -77.0) << "a refused frame leaves the outputs";
        return;
    }
    EXPECT_EQ(d.result, result);
    EXPECT_DOUBLE_EQ(out.weight, weight);
    EXPECT_FALSE(std::signbit(out.weight) && out.weight == 0.0) << "minus zero";
}

}  // namespace

TEST(MirvesovDecoders, DFrameFieldsByScale) {
    // One field through the three readers of the 'D' frame: А9 (six digits
    // and a decimal code, thousandths), DS2 (digits with points skipped,
    // x1000) and K9 (the text as it is).
    struct Case {
        char sign;
        const char* field;  // offsets 4..10
        double a9, ds2, k9;
    };
    // A field no reader's format holds is refused (kRefused), never read
    // as 0 or as another number. Each reader sees its own address.
    const Case cases[] = {
        {'+', "0012343", 1234, 12343000, 12343},          // code '3': x1
        {'+', "0012340", 1234000, 12340000, 12340},       // code '0': x1000
        {'+', "0012341", 123400, 12341000, 12341},        // code '1': x100
        {'+', "0012342", 12340, 12342000, 12342},         // code '2': x10
        {'+', "0012344", 123.4, 12344000, 12344},         // code '4': four decimals shown
        {'-', "0012343", -1234, -12343000, -12343},
        {'+', "12A0003", kRefused, kRefused, kRefused},   // a letter among the digits
        {'+', "1234563", 123456, 1234563000, 1234563},    // offset 10 is the code, never a digit
        {'+', "001.234", kRefused, 1234000, 1.234},       // DS2's own field
        {'-', "01.234 ", kRefused, -1234000, -1.234},
        {'+', "5.     ", kRefused, 5000000, 5},           // DS2: 5 kg by its point (was 0)
        {'+', " 12.345", kRefused, kRefused, 12.345},     // K9's own field; DS2 pads with zeros
        {'-', " 12.345", kRefused, kRefused, -12.345},
        {'+', "1.2.3.4", kRefused, kRefused, kRefused},   // a second point
        {'+', "12,5   ", kRefused, kRefused, 12.5},
        {'+', "      3", kRefused, kRefused, 3},          // А9: no digit before the code
        {'-', "0000000", 0, 0, 0},                        // no minus zero
        {'+', "999999 ", kRefused, 999999000, 999999},    // А9: a space is no decimal code
        {'+', "0012345", kRefused, 12345000, 12345},      // А9: code '5' is outside the format
        {'+', "------3", kRefused, kRefused, kRefused},   // dashes
        {'+', "   OL  ", kRefused, kRefused, kRefused},
        {'+', "       ", kRefused, kRefused, kRefused},   // blanks
        {'+', "12 3453", kRefused, kRefused, kRefused},   // a space among the digits
        {'+', " 1 2.34", kRefused, kRefused, kRefused},
        {'+', "-12.345", kRefused, kRefused, kRefused},   // a second sign
        {'X', "0012343", kRefused, kRefused, kRefused},   // no sign byte
        {' ', "0012343", 1234, 12343000, 12343},          // a space for '+'
        {'+', "   .234", kRefused, kRefused, kRefused},   // no digit before the point
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("sign ") + c.sign + " field '" + c.field + "'");
        const struct {
            zel::exchange::DecodeFn decode;
            double weight;
            uint8_t address;
        } readers[] = {{mv::DecodeA9, c.a9, 0x40}, {mv::DecodeDs2, c.ds2, 0x41}, {mv::DecodeK9, c.k9, 0x41}};
        for (const auto& r : readers) {
            for (const char* tail : {"\x00\x0D", "XOR"}) {  // no check, a valid one
                const std::vector<uint8_t> f = DFrame(c.sign, c.field, tail, r.address);
                ASSERT_TRUE(mv::AcceptsDFrame(f.data(), f.size()));
                ExpectDecoded(r.decode, f, r.weight);
                Reading out = Sentinel();
                if (r.decode(f.data(), f.size(), out).result != 0) continue;
                EXPECT_EQ(out.stable, 0);
                EXPECT_EQ(out.price, -77.0);  // the frame carries no price
            }
        }
    }
}

TEST(MirvesovDecoders, DFrameCheckAndAddress) {
    // А9 asks address 40, DS2 and K9 address 41; the А9 and the K9 reply
    // from it (DS2 leaves the byte to its check).
    const struct {
        const char* name;
        zel::exchange::DecodeFn decode;
        std::vector<uint8_t> frame;
        double weight;
    } cases[] = {
        {"A9 checked", mv::DecodeA9, DFrame('+', "0012343", "XOR", 0x40), 1234},
        {"A9 from address 41", mv::DecodeA9, DFrame('+', "0012343", "XOR", 0x41), kRefused},
        {"K9 checked", mv::DecodeK9, DFrame('+', "  1.234", "XOR", 0x41), 1.234},
        {"K9 from address 40", mv::DecodeK9, DFrame('+', "  1.234", "XOR", 0x40), kRefused},
        {"K9 no check, from 42", mv::DecodeK9, DFrame('+', "  1.234", "\x00\x0D", 0x42), kRefused},
        {"DS2 from address 40", mv::DecodeDs2, DFrame('+', "001.234", "XOR", 0x40), 1234000},
        {"A9 wrong check", mv::DecodeA9, DFrame('+', "0012343", "00", 0x40), kRefused},
        {"DS2 wrong check", mv::DecodeDs2, DFrame('+', "001.234", "7F", 0x41), kRefused},
        {"K9 wrong check", mv::DecodeK9, DFrame('+', "  1.234", "A0", 0x41), kRefused},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectDecoded(c.decode, c.frame, c.weight);
    }
    // One changed digit under a valid check is refused.
    std::vector<uint8_t> f = DFrame('+', "  1.234", "XOR", 0x41);
    f[9] = '5';
    ExpectDecoded(mv::DecodeK9, f, kRefused);
}

TEST(MirvesovDecoders, CheckLockPerLine) {
    // What the line's scale has sent decides a frame without a valid check:
    //   v valid check, w wrong check (hex), n no check (other bytes).
    const std::vector<uint8_t> valid = DFrame('+', "  1.234", "XOR", 0x41);
    const std::vector<uint8_t> wrong = DFrame('+', "  1.234", "00", 0x41);
    const std::vector<uint8_t> none = DFrame('+', "  1.234", "\x00\x0D", 0x41);
    struct Case {
        const char* frames;  // in order
        const char* results; // '0' read, '3' refused
        bool locked;
    };
    const Case cases[] = {
        {"nnnn", "0000", false},        // a scale without the check reads as before
        {"vvn", "003", true},           // two valid checks lock the line
        {"vvw", "003", true},
        {"vnvn", "0000", false},        // not two in a row
        {"vvnnv", "00330", true},       // locked stays locked
        {"www", "330", false},          // three wrong ones: not a check on this scale
        {"wwwwv", "33000", false},
        {"wwvw", "3303", false},        // a valid one in between: still counting
        {"wvvw", "3003", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frames);
        zel::exchange::LineMemory line;
        zel::exchange::LineMemoryScope scope(&line);
        const mv::CheckMemory& memory = line.Of<mv::CheckMemory>();
        for (size_t i = 0; c.frames[i]; ++i) {
            const std::vector<uint8_t>& f = c.frames[i] == 'v' ? valid : c.frames[i] == 'w' ? wrong : none;
            Reading out;
            EXPECT_EQ(mv::DecodeK9(f.data(), f.size(), out).result, c.results[i] - '0') << "frame " << i;
        }
        EXPECT_EQ(memory.locked, c.locked);
    }
    // Outside a scope (a frame judged on its own) nothing is remembered.
    Reading out;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(mv::DecodeK9(valid.data(), valid.size(), out).result, 0);
    EXPECT_EQ(mv::DecodeK9(none.data(), none.size(), out).result, 0);
    EXPECT_EQ(mv::DecodeK9(wrong.data(), wrong.size(), out).result, 3);
    // The А9 continuous frame checks the same way.
    zel::exchange::LineMemory line;
    zel::exchange::LineMemoryScope scope(&line);
    const mv::CheckMemory& memory = line.Of<mv::CheckMemory>();
    const std::vector<uint8_t> contin = A9ContinFrame('+', "001234", '3', true);
    const std::vector<uint8_t> plain = A9ContinFrame('+', "001234", '3');
    EXPECT_EQ(mv::DecodeA9Contin(contin.data(), contin.size(), out).result, 0);
    EXPECT_EQ(mv::DecodeA9Contin(contin.data(), contin.size(), out).result, 0);
    EXPECT_TRUE(memory.locked);
    EXPECT_EQ(mv::DecodeA9Contin(plain.data(), plain.size(), out).result, 3);
}

TEST(MirvesovDecoders, K9TextEndsWithTheField) {
    // The two bytes after the field may be digits; they are not part of it.
    // Judged alone they are a wrong check; from a scale that always sends
    // such bytes there they are read past (after three of them).
    const std::vector<uint8_t> f = DFrame('+', "   1234", "56", 0x41);
    Reading out;
    EXPECT_EQ(mv::DecodeK9(f.data(), f.size(), out).result, 3);
    zel::exchange::LineMemory line;
    zel::exchange::LineMemoryScope scope(&line);
    const mv::CheckMemory& memory = line.Of<mv::CheckMemory>();
    for (int i = 0; i < mv::kAbsentAfter; ++i) mv::DecodeK9(f.data(), f.size(), out);
    EXPECT_TRUE(memory.absent);
    EXPECT_EQ(mv::DecodeK9(f.data(), f.size(), out).result, 0);
    EXPECT_DOUBLE_EQ(out.weight, 1234);
}

TEST(MirvesovDecoders, A12Text) {
    struct Case {
        const char* text;  // offsets 2..10
        double weight;     // grams, cut toward zero; kRefused
        char status = 'S';
        int32_t stable = 1;
    };
    const Case cases[] = {
        {"    1.234", 1234},
        {"  -0.0125", -12},
        {"    1.001", 1001},   // 1.001 x 1000 falls a hair short of 1001 in binary
        {"    4.095", 4095},
        {"  -2.3456", -2345},
        {"   0.0005", 0},
        {"  -0.0001", 0},
        {"999999999", 999999999000.0},
        {"   12,5  ", 12500},
        {"      abc", kRefused},      // was 0
        {"1.5\r\n    ", kRefused},   // was 1500
        {"    1.234", 1234, 'U', 0},  // moving
        {"    1.234", 1234, '?', 1},  // no mark the reply defines: as before
        {"  -------", kRefused},
        {"       OL", kRefused},
        {"         ", kRefused},
        {"   12 345", kRefused},      // a space among the digits
        {"  1.2.345", kRefused},
        {"  12-.345", kRefused},
        {"  --1.234", kRefused},
        {"     .234", kRefused},      // no digit before the point
        {"    -.234", kRefused},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " status " + c.status);
        const std::vector<uint8_t> f = A12Reply(c.text, c.status);
        ASSERT_TRUE(mv::AcceptsA12Reply(f.data(), f.size()));
        ExpectDecoded(mv::DecodeA12, f, c.weight);
        Reading out = Sentinel();
        if (mv::DecodeA12(f.data(), f.size(), out).result == 0) {
            EXPECT_EQ(out.stable, c.stable);
        }
    }
}

TEST(MirvesovDecoders, A12ehStatusAndDecimalCode) {
    struct Case {
        const char* name;
        uint8_t code, status;
        const char* digits;
        double weight;  // kilograms; kRefused
        int32_t stable;
        int32_t result = 0;
        uint8_t wordC = 0x20;
    };
    const Case cases[] = {
        {"negative, code with its top bit", 0xAD, 0x02, "001234", -1.234, 1},
        {"moving", 0x2D, 0x08, "001234", 1.234, 0},
        {"out of range: overload", 0x2D, 0x04, "001234", 0, 0, 7},
        {"out of range, negative, moving", 0xAD, 0x0E, "001234", 0, 0, 7},
        {"negative moving", 0x2D, 0x0A, "000500", -0.5, 0},
        {"one decimal", 0x2B, 0x00, "001234", 123.4, 1},
        {"one decimal, top bit", 0xAB, 0x00, "001234", 123.4, 1},
        {"two decimals", 0x2C, 0x00, "001234", 12.34, 1},
        {"four decimals", 0xAE, 0x00, "001234", 0.1234, 1},
        {"no decimals", 0x2A, 0x00, "001234", 1234, 1},
        {"one decimal, counting by 2", 0x33, 0x00, "001234", 123.4, 1},  // was 1234
        {"three decimals, counting by 2", 0x35, 0x00, "012346", 12.346, 1},
        {"three decimals, counting by 5", 0x3D, 0x00, "012345", 12.345, 1},
        {"five decimals", 0x2F, 0x00, "012345", 0.12345, 1},
        {"tens", 0x29, 0x00, "001234", 12340, 1},
        {"hundreds, counting by 2", 0x30, 0x00, "001234", 123400, 1},
        {"no status word A: bit 5 clear", 0x1E, 0x00, "001234", kRefused, 0},
        {"no status word A: bit 6 set", 0x6D, 0x00, "001234", kRefused, 0},
        {"other status bits ignored", 0x2D, 0xF1, "001234", 1.234, 1},
        {"status word B in kilograms", 0x2D, 0x30, "001234", 1.234, 1},
        {"status word B negative", 0x2D, 0x32, "001234", -1.234, 1},
        {"status word B in pounds", 0x2D, 0x20, "001234", kRefused, 0},
        {"grams by word C", 0x2A, 0x30, "001234", 1.234, 1, 0, 0x21},
        {"tonnes by word C", 0x2D, 0x30, "001234", 1234, 1, 0, 0x22},
        {"ounces by word C", 0x2D, 0x30, "001234", kRefused, 0, 0, 0x23},
        {"short tons by word C", 0x2D, 0x30, "001234", kRefused, 0, 0, 0x26},
        {"a custom unit", 0x2D, 0x30, "001234", kRefused, 0, 0, 0x27},
        {"word C of another shape", 0x2D, 0x00, "001234", 1.234, 1, 0, 0x03},
        {"padded digits", 0x2D, 0x00, "  1234", 1.234, 1},
        {"a space among the digits", 0x2C, 0x00, "1 2.34", kRefused, 0},  // was 12.34
        {"no digits", 0x2D, 0x02, "  -   ", kRefused, 0},                // was 0
        {"a letter", 0x2D, 0x00, "1A2B34", kRefused, 0},
        {"blanks", 0x2D, 0x00, "      ", kRefused, 0},
        {"negative zero", 0x2D, 0x02, "000000", 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> f = A12ehFrame(c.code, c.status, c.digits, "999999", c.wordC);
        ASSERT_TRUE(mv::AcceptsA12ehFrame(f.data(), f.size()));
        ExpectDecoded(mv::DecodeA12eh, f, c.weight, c.result);
        Reading out = Sentinel();
        if (mv::DecodeA12eh(f.data(), f.size(), out).result != 3) {
            EXPECT_EQ(out.stable, c.stable);
        }
    }
}

TEST(MirvesovDecoders, A9ContinuousDecimalCode) {
    struct Case {
        char sign;
        const char* text;
        char code;
        double weight;  // kRefused
    };
    const Case cases[] = {
        {'-', "001234", '3', -1.234}, {'+', "001234", '1', 123.4},    {'+', "001234", '2', 12.34},
        {'+', "001234", '4', 0.1234}, {'+', "001234", '0', 1234},     {'+', "001234", 'x', kRefused},
        {'+', "001234", '5', kRefused}, {'-', "000000", '3', 0},      {'+', " 12.5 ", '0', 12.5},
        {'+', "12A456", '1', kRefused}, {' ', "000005", '2', 0.05},   {'+', " 12.5 ", '1', kRefused},
        {'+', "------", '3', kRefused}, {'+', "  OL  ", '3', kRefused}, {'+', "      ", '3', kRefused},
        {'+', "12 345", '3', kRefused}, {'X', "001234", '3', kRefused}, {'+', "  1234", '3', 1.234},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " code " + c.code);
        for (bool check : {false, true}) {
            const std::vector<uint8_t> f = A9ContinFrame(c.sign, c.text, c.code, check);
            ASSERT_TRUE(mv::AcceptsA9ContinFrame(f.data(), f.size()));
            ExpectDecoded(mv::DecodeA9Contin, f, c.weight);
        }
    }
    // One changed digit under a valid check is refused.
    std::vector<uint8_t> f = A9ContinFrame('+', "001234", '3', true);
    f[5] = '9';
    ExpectDecoded(mv::DecodeA9Contin, f, kRefused);
}

TEST(MirvesovDecoders, FrameChecks) {
    struct Case {
        const char* name;
        zel::exchange::AcceptsFn accepts;
        std::vector<uint8_t> good;
        std::vector<size_t> markers;  // each one spoiled refuses the frame
        std::vector<size_t> free;     // bytes the check does not look at
    };
    const Case cases[] = {
        {"D", mv::AcceptsDFrame, DFrame('+', "0012343"), {0, 2, 13}, {1, 3, 4, 10, 11, 12}},
        {"A12", mv::AcceptsA12Reply, A12Reply("    1.234"), {0, 11, 12}, {1, 2, 10}},
        {"A12EH", mv::AcceptsA12ehFrame, A12ehFrame(0x2D, 0, "001234"), {0, 16}, {1, 2, 3, 4, 15}},
        {"A9 continuous", mv::AcceptsA9ContinFrame, A9ContinFrame('+', "001234", '3'), {0, 11}, {1, 2, 8, 9, 10}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(c.accepts(c.good.data(), c.good.size()));
        EXPECT_FALSE(c.accepts(c.good.data(), c.good.size() - 1));
        std::vector<uint8_t> longer = c.good;
        longer.push_back(c.good.back());
        EXPECT_FALSE(c.accepts(longer.data(), longer.size()));
        EXPECT_FALSE(c.accepts(nullptr, c.good.size()));
        for (size_t i : c.markers) {
            std::vector<uint8_t> f = c.good;
            f[i] ^= 0x40;
            EXPECT_FALSE(c.accepts(f.data(), f.size())) << "byte " << i;
        }
        for (size_t i : c.free) {
            std::vector<uint8_t> f = c.good;
            f[i] ^= 0x40;
            EXPECT_TRUE(c.accepts(f.data(), f.size())) << "byte " << i;
        }
    }
}

TEST(MirvesovDecoders, ShortInputIsRefusedWithoutReading) {
    const uint8_t one[1] = {0x02};
    for (auto decode : {mv::DecodeA9, mv::DecodeDs2, mv::DecodeK9, mv::DecodeA12, mv::DecodeA12eh,
                        mv::DecodeA9Contin}) {
        Reading r = Sentinel();
        EXPECT_EQ(decode(one, 1, r).result, 3);
        EXPECT_EQ(r.weight, -77.0);
    }
}

// --- on a scripted line ---------------------------------------------------

TEST(MirvesovExchange, EachScaleIsAskedWithItsOwnRequest) {
    struct Case {
        int model;
        std::vector<uint8_t> request;
        std::vector<uint8_t> reply;
        double weight;
        int32_t stable;
    };
    const Case cases[] = {
        {7, {0x02, 0x40, 0x44, 0x00, 0x04, 0x03}, DFrame('-', "0012343"), -1234, 0},
        {12, {0x02, 0x41, 0x44, 0x30, 0x35, 0x03}, DFrame('+', "001.234"), 1234000, 0},
        {38, {0x02, 0x41, 0x44, 0x30, 0x35, 0x03}, DFrame('+', " 12.345", "XOR", 0x41), 12.345, 0},
        {8, {'R'}, A12Reply("   -1.234"), -1234, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        std::unique_ptr<IScalesObject> o(CreateScalesObject(c.model));
        auto* scale = dynamic_cast<CPolledProtocolScale*>(o.get());
        ASSERT_NE(scale, nullptr);
        ScriptedLine line;
        ScriptedSession session;
        // Noise first: a strict header costs 50 ms a byte, so only a little.
        line.onWrite = [&](ScriptedLine& l, const std::vector<uint8_t>& w) {
            if (w == c.request) {
                l.Arrive(20, {0x55, 0x0D});
                l.Arrive(30, c.reply);
            }
        };
        Reading io;
        EXPECT_EQ(zel::exchange::RunReadCycle(scale->Protocol(), line, session, io), 0);
        ASSERT_EQ(line.writes.size(), 1u);
        EXPECT_EQ(line.writes[0].bytes, c.request);
        EXPECT_DOUBLE_EQ(io.weight, c.weight);
        EXPECT_EQ(io.stable, c.stable);
        EXPECT_EQ(session.releases, 1);
    }
}

TEST(MirvesovExchange, StreamReadFromInsideAFrame) {
    // Negative readings back to back; the read begins anywhere in a frame.
    // The А12EH status byte of a negative reading is 02, and so is the А9
    // continuous scale's status byte at offset 9: a hunt that lands on it
    // holds a frame that is refused, and the read goes on from the real
    // header within the same attempt, with nothing sent.
    struct Case {
        const char* name;
        const zel::exchange::PolledProtocol* protocol;
        std::vector<uint8_t> frame;
        double weight;
    };
    std::vector<uint8_t> contin = A9ContinFrame('-', "012345", '3');
    contin[9] = 0x02;
    const Case cases[] = {
        {"A12EH", &mv::kA12ehProtocol, A12ehFrame(0xAD, 0x02, "012345", "000000"), -12.345},
        {"A9 continuous", &mv::kA9ContinProtocol, contin, -12.345},
    };
    for (const Case& c : cases) {
        for (size_t start = 0; start < c.frame.size(); ++start) {
            SCOPED_TRACE(testing::Message() << c.name << ", from byte " << start);
            ScriptedLine line;
            ScriptedSession session;
            std::vector<uint8_t> stream(c.frame.begin() + static_cast<long>(start), c.frame.end());
            for (int i = 0; i < 3; ++i) stream.insert(stream.end(), c.frame.begin(), c.frame.end());
            line.ArriveOnWait(stream);  // after the drain
            Reading io;
            EXPECT_EQ(zel::exchange::RunReadCycle(*c.protocol, line, session, io), 0);
            EXPECT_DOUBLE_EQ(io.weight, c.weight);
            EXPECT_TRUE(line.writes.empty());
            EXPECT_EQ(line.now, 0u);  // no pause, no second attempt
        }
    }
}

TEST(MirvesovExchange, A12CommandsGoWithoutAPause) {
    const struct {
        const zel::exchange::CommandSpec* command;
        uint8_t byte;
    } cases[] = {{&mv::kA12Tare, 'T'}, {&mv::kA12Zero, 'Z'}};
    for (const auto& c : cases) {
        ScriptedLine line;
        ScriptedSession session;
        EXPECT_EQ(zel::exchange::RunCommand(line, session, *c.command), 0);
        ASSERT_EQ(line.writes.size(), 1u);
        EXPECT_EQ(line.writes[0].bytes, std::vector<uint8_t>({c.byte}));
        EXPECT_EQ(line.now, 0u);
        EXPECT_EQ(session.releases, 1);
        EXPECT_TRUE(line.reads == 0);  // nothing is read back
    }
}

TEST(MirvesovClasses, FactoryCommandsAndClosedLine) {
    struct Case {
        int32_t model;
        bool commands;  // tare and zero
    };
    for (Case c : {Case{7, false}, Case{8, true}, Case{12, false}, Case{31, false}, Case{34, false},
                   Case{38, false}}) {
        SCOPED_TRACE(c.model);
        std::unique_ptr<IScalesObject> o(CreateScalesObject(c.model));
        ASSERT_NE(o, nullptr);
        EXPECT_EQ(o->SendPrice(1250), 5);
        if (!c.commands) {
            EXPECT_EQ(o->Tare(0.0), 5);
            EXPECT_EQ(o->Zero(), 5);
        }
        EXPECT_EQ(o->CheckConnection(), 2);  // nothing was opened
        EXPECT_EQ(o->OpenCom("/nonexistent/zel-tty", 9600, nullptr), 1);
        if (c.commands) {
            EXPECT_EQ(o->Tare(0.0), 1);  // the line cannot open
            EXPECT_EQ(o->Zero(), 1);
        }
        double weight = 6.5, price = 2.0, cost = 3.0;
        int32_t stable = 1;
        EXPECT_EQ(o->ReadWeight(weight, price, cost, stable), 1);
        EXPECT_EQ(weight, 0.0);
        EXPECT_EQ(stable, 0);
    }
    // Each is the engine bound to its row's protocol (model 8 to its tare
    // and zero as well).
    const struct {
        int model;
        const zel::exchange::PolledProtocol* protocol;
    } bound[] = {{7, &mv::kA9Protocol},      {8, &mv::kA12Protocol},      {12, &mv::kDs2Protocol},
                 {31, &mv::kA12ehProtocol}, {34, &mv::kA9ContinProtocol}, {38, &mv::kK9Protocol}};
    for (const auto& b : bound) {
        std::unique_ptr<IScalesObject> o(CreateScalesObject(b.model));
        auto* polled = dynamic_cast<CPolledProtocolScale*>(o.get());
        ASSERT_NE(polled, nullptr) << b.model;
        EXPECT_EQ(&polled->Protocol(), b.protocol) << b.model;
    }
}
