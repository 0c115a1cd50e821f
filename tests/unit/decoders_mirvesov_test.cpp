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

using zel::exchange::Reading;
using zeltest::ScriptedLine;
using zeltest::ScriptedSession;
namespace mv = zel::mirvesov;

namespace {

// 02 40 'D' sign <7 field bytes> <2 bytes> 03
std::vector<uint8_t> DFrame(char sign, const char* field, const char* tail = "\x00\x0D") {
    std::vector<uint8_t> f = {0x02, 0x40, 'D', static_cast<uint8_t>(sign)};
    for (int i = 0; i < 7; ++i) f.push_back(static_cast<uint8_t>(field[i]));
    f.push_back(static_cast<uint8_t>(tail[0]));
    f.push_back(static_cast<uint8_t>(tail[1]));
    f.push_back(0x03);
    return f;
}

// 'w' 'S' <9 chars> CR LF
std::vector<uint8_t> A12Reply(const char* text) {
    std::vector<uint8_t> f = {'w', 'S'};
    for (int i = 0; i < 9; ++i) f.push_back(static_cast<uint8_t>(text[i]));
    f.insert(f.end(), {0x0D, 0x0A});
    return f;
}

// 02 code status 20 <6 digits> <6 bytes> CR
std::vector<uint8_t> A12ehFrame(uint8_t code, uint8_t status, const char* digits, const char* tail = "999999") {
    std::vector<uint8_t> f = {0x02, code, status, 0x20};
    for (int i = 0; i < 6; ++i) f.push_back(static_cast<uint8_t>(digits[i]));
    for (int i = 0; i < 6; ++i) f.push_back(static_cast<uint8_t>(tail[i]));
    f.push_back(0x0D);
    return f;
}

// 02 sign <6 chars> code <2 bytes> 03
std::vector<uint8_t> A9ContinFrame(char sign, const char* text, char code) {
    std::vector<uint8_t> f = {0x02, static_cast<uint8_t>(sign)};
    for (int i = 0; i < 6; ++i) f.push_back(static_cast<uint8_t>(text[i]));
    f.insert(f.end(), {static_cast<uint8_t>(code), '7', '7', 0x03});
    return f;
}

Reading Sentinel() {
    Reading r;
    r.weight = -77.0;
    r.price = -77.0;
    r.cost = -77.0;
    r.stable = 5;
    return r;
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
    const Case cases[] = {
        {'+', "0012343", 1234, 12343000, 12343},          // code '3': x1
        {'+', "0012340", 1234000, 12340000, 12340},       // code '0': x1000
        {'+', "0012341", 123400, 12341000, 12341},        // code '1': x100
        {'+', "0012342", 12340, 12342000, 12342},         // code '2': x10
        {'+', "0012344", 1234, 12344000, 12344},          // code '4' is no code: x1
        {'-', "0012343", -1234, -12343000, -12343},
        {'+', "12A0003", 12, 12000, 12},                  // 'A' ends the digits
        {'+', "1234563", 123456, 1234563000, 1234563},    // offset 10 is the code, never a digit
        {'+', "001.234", 1, 1234000, 1.234},              // DS2's own field
        {'-', "01.234 ", -1, -1234000, -1.234},
        {'+', "5.     ", 5, 0, 5},                        // DS2: one digit reads 0
        {'+', " 12.345", 0, 0, 12.345},                   // K9's own field; DS2 stops at the space
        {'-', " 12.345", 0, 0, -12.345},
        {'+', "1.2.3.4", 1, 1234000, 1.2},                // DS2 skips every point
        {'+', "12,5   ", 12, 12000, 12.5},
        {'+', "      3", 0, 0, 3},
        {'-', "0000000", 0, 0, 0},                        // no minus zero
        {'+', "999999 ", 999999, 999999000, 999999},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("sign ") + c.sign + " field '" + c.field + "'");
        const std::vector<uint8_t> f = DFrame(c.sign, c.field);
        ASSERT_TRUE(mv::AcceptsDFrame(f.data(), f.size()));
        const struct {
            zel::exchange::DecodeFn decode;
            double weight;
        } readers[] = {{mv::DecodeA9, c.a9}, {mv::DecodeDs2, c.ds2}, {mv::DecodeK9, c.k9}};
        for (const auto& r : readers) {
            Reading out = Sentinel();
            EXPECT_EQ(r.decode(f.data(), f.size(), out).result, 0);
            EXPECT_DOUBLE_EQ(out.weight, r.weight);
            EXPECT_FALSE(std::signbit(out.weight) && out.weight == 0.0) << "minus zero";
            EXPECT_EQ(out.stable, 0);
            EXPECT_EQ(out.price, -77.0);  // the frame carries no price
        }
    }
}

TEST(MirvesovDecoders, K9TextEndsWithTheField) {
    // The two bytes after the field may be digits; they are not part of it.
    const std::vector<uint8_t> f = DFrame('+', "   1234", "56");
    Reading out;
    mv::DecodeK9(f.data(), f.size(), out);
    EXPECT_DOUBLE_EQ(out.weight, 1234);
}

TEST(MirvesovDecoders, A12Text) {
    struct Case {
        const char* text;  // offsets 2..10
        double weight;     // grams, cut toward zero
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
        {"      abc", 0},
        {"1.5\r\n    ", 1500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::vector<uint8_t> f = A12Reply(c.text);
        ASSERT_TRUE(mv::AcceptsA12Reply(f.data(), f.size()));
        Reading out = Sentinel();
        EXPECT_EQ(mv::DecodeA12(f.data(), f.size(), out).result, 0);
        EXPECT_DOUBLE_EQ(out.weight, c.weight);
        EXPECT_FALSE(std::signbit(out.weight) && out.weight == 0.0) << "minus zero";
        EXPECT_EQ(out.stable, 1);  // the reply says nothing of stability
    }
}

TEST(MirvesovDecoders, A12ehStatusAndDecimalCode) {
    struct Case {
        const char* name;
        uint8_t code, status;
        const char* digits;
        double weight;
        int32_t stable;
    };
    const Case cases[] = {
        {"negative, code with its top bit", 0xAD, 0x02, "001234", -1.234, 1},
        {"moving", 0x2D, 0x08, "001234", 1.234, 0},
        {"no valid weight", 0x2D, 0x04, "001234", 0, 0},
        {"no valid weight, negative, moving", 0xAD, 0x0E, "001234", 0, 0},
        {"negative moving", 0x2D, 0x0A, "000500", -0.5, 0},
        {"one decimal", 0x2B, 0x00, "001234", 123.4, 1},
        {"one decimal, top bit", 0xAB, 0x00, "001234", 123.4, 1},
        {"two decimals", 0x2C, 0x00, "001234", 12.34, 1},
        {"four decimals", 0xAE, 0x00, "001234", 0.1234, 1},
        {"no decimals", 0x2A, 0x00, "001234", 1234, 1},
        {"unknown code", 0x33, 0x00, "001234", 1234, 1},
        {"other status bits ignored", 0x2D, 0xF1, "001234", 1.234, 1},
        {"non-digits skipped", 0x2C, 0x00, "1 2.34", 12.34, 1},
        {"no digits", 0x2D, 0x02, "  -   ", 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> f = A12ehFrame(c.code, c.status, c.digits);
        ASSERT_TRUE(mv::AcceptsA12ehFrame(f.data(), f.size()));
        Reading out = Sentinel();
        EXPECT_EQ(mv::DecodeA12eh(f.data(), f.size(), out).result, 0);
        EXPECT_DOUBLE_EQ(out.weight, c.weight);
        EXPECT_EQ(out.stable, c.stable);
    }
}

TEST(MirvesovDecoders, A9ContinuousDecimalCode) {
    struct Case {
        char sign;
        const char* text;
        char code;
        double weight;
    };
    const Case cases[] = {
        {'-', "001234", '3', -1.234}, {'+', "001234", '1', 123.4},  {'+', "001234", '2', 12.34},
        {'+', "001234", '4', 0.1234}, {'+', "001234", '0', 1234},   {'+', "001234", 'x', 1234},
        {'+', "001234", '5', 1234},   {'-', "000000", '3', 0},      {'+', " 12.5 ", '0', 12.5},
        {'+', "12A456", '1', 1.2},    {' ', "000005", '2', 0.05},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " code " + c.code);
        const std::vector<uint8_t> f = A9ContinFrame(c.sign, c.text, c.code);
        ASSERT_TRUE(mv::AcceptsA9ContinFrame(f.data(), f.size()));
        Reading out = Sentinel();
        EXPECT_EQ(mv::DecodeA9Contin(f.data(), f.size(), out).result, 0);
        EXPECT_DOUBLE_EQ(out.weight, c.weight);
        EXPECT_FALSE(std::signbit(out.weight) && out.weight == 0.0) << "minus zero";
        EXPECT_EQ(out.stable, 0);
    }
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
        {38, {0x02, 0x41, 0x44, 0x30, 0x35, 0x03}, DFrame('+', " 12.345"), 12.345, 0},
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
        EXPECT_EQ(o->OpenCom("/nonexistent/zel-tty", 9600, nullptr, nullptr), 1);
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
    EXPECT_NE(dynamic_cast<ScalesA9*>(std::unique_ptr<IScalesObject>(CreateScalesObject(7)).get()), nullptr);
    EXPECT_NE(dynamic_cast<ScalesA12*>(std::unique_ptr<IScalesObject>(CreateScalesObject(8)).get()), nullptr);
    EXPECT_NE(dynamic_cast<ScalesDS2*>(std::unique_ptr<IScalesObject>(CreateScalesObject(12)).get()), nullptr);
    EXPECT_NE(dynamic_cast<ScalesA12EH*>(std::unique_ptr<IScalesObject>(CreateScalesObject(31)).get()), nullptr);
    EXPECT_NE(dynamic_cast<CScalesA9Contin*>(std::unique_ptr<IScalesObject>(CreateScalesObject(34)).get()), nullptr);
    EXPECT_NE(dynamic_cast<ScalesK9Keli*>(std::unique_ptr<IScalesObject>(CreateScalesObject(38)).get()), nullptr);
}
