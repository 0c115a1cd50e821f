// The fourteen driver methods through CallAsFunc, on the built-in emulator
// and on ports that do not exist.
#include <clocale>
#include <cmath>
#include <cstring>
#include <regex>

#include "platform/sys.h"
#include "tests/host/support.h"
#include "tests/skip_or_fail.h"
#include "tests/unit/model_rows.h"

namespace zeltest {
namespace {

const char16_t kText4[] = u"Ошибка_4: Ошибка в формате цены.";
const char16_t kText8[] = u"Ошибка_8: DeviceID не найден.";

TEST_F(DriverTest, VersionAndDescription) {
    CallResult v = c->Call(u"ПолучитьНомерВерсии");
    EXPECT_TRUE(v.ok);
    EXPECT_EQ(v.ret.type, abi::VT_PWSTR);
    EXPECT_EQ(v.ret.text, u"4.3.25 (05.03.2020)");

    CallResult d = c->Call(u"GetDescription", std::vector<Value>(7));
    ASSERT_TRUE(d.ok);
    EXPECT_TRUE(d.ret.boolean);
    EXPECT_EQ(d.params[0].text, u"ZelvatScalesDriver");
    EXPECT_EQ(d.params[1].text,
              u"Драйвер электронных весов для простого взвешивания (NativeAPI). Разработчик zelscales.example");
    EXPECT_EQ(d.params[2].text, u"ЭлектронныеВесы");
    EXPECT_EQ(d.params[3].type, abi::VT_UI4);
    EXPECT_EQ(d.params[3].integer, 2001);
    EXPECT_EQ(d.params[4].type, abi::VT_BOOL);
    EXPECT_FALSE(d.params[4].boolean);
    EXPECT_EQ(d.params[5].type, abi::VT_BOOL);
    EXPECT_TRUE(d.params[5].boolean);
    EXPECT_EQ(d.params[6].type, abi::VT_PWSTR);
    EXPECT_EQ(d.params[6].text, u"");
    EXPECT_EQ(Code(), 1099) << "description leaves the result alone";
}

// Out-parameters past the count the platform passed are never written.
TEST_F(DriverTest, OutParametersStayWithinTheCount) {
    std::u16string id = OpenEmulator();
    const Value marker = Value::Tagged(abi::VT_I4, 77);
    struct {
        const char16_t* method;
        std::vector<Value> args;
        long count;
    } const rows[] = {
        {u"GetDescription", std::vector<Value>(7, marker), 3},
        {u"GetDescription", std::vector<Value>(7, marker), 0},
        {u"GetLastError", {marker}, 0},
        {u"GetParameters", {marker}, 0},
        {u"Open", {marker}, 0},
        {u"DeviceTest", {marker, marker}, 0},
        {u"DeviceTest", {marker, marker}, 1},
        {u"GetWeight", {Value::Text(id), marker}, 1},
        {u"GetWeightPriceCost", {Value::Text(id), marker, marker, marker, marker}, 2},
        {u"GetWeightPriceCost", {Value::Text(id), marker, marker, marker, marker}, 4},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(U8(row.method) + " count " + std::to_string(row.count));
        CallOptions options;
        options.count = row.count;
        CallResult r = c->Call(row.method, row.args, options);
        EXPECT_TRUE(r.ok);
        for (size_t i = static_cast<size_t>(row.count); i < r.params.size(); ++i) {
            if (i == 0 && row.args[0].IsText()) continue;
            EXPECT_EQ(r.params[i].type, abi::VT_I4) << "parameter " << i;
            EXPECT_EQ(r.params[i].integer, 77) << "parameter " << i;
        }
    }
    // DeviceTest never writes its second parameter.
    CallResult t = c->Call(u"DeviceTest", {Value(), marker});
    EXPECT_EQ(t.params[1].integer, 77);
}

TEST_F(DriverTest, ArgumentRule) {
    const char16_t* const methods[] = {u"SetParameter", u"Close",    u"Calibrate",
                                       u"GetWeight",    u"SetPrice", u"GetWeightPriceCost"};
    struct {
        const char* what;
        std::vector<Value> args;
        bool nullParams;
        long count;  // -1: as many as args
    } const breaches[] = {
        {"count 0", {Value::Text(u"x"), Value::Int(1)}, false, 0},
        {"negative count", {Value::Text(u"x"), Value::Int(1)}, false, -3},
        {"null array", {}, true, 5},
        {"empty", {Value(), Value::Int(1)}, false, -1},
        {"I4", {Value::Int(7), Value::Int(1)}, false, -1},
        {"R8", {Value::Double(7.5), Value::Int(1)}, false, -1},
        {"BOOL", {Value::Bool(true), Value::Int(1)}, false, -1},
        {"NULL", {Value::Tagged(abi::VT_NULL, 0), Value::Int(1)}, false, -1},
        {"BYREF text", {Value::Tagged(abi::VT_PWSTR | abi::VT_BYREF, 0), Value::Int(1)}, false, -1},
        {"interface", {Value::Tagged(abi::VT_INTERFACE, 0x1234), Value::Int(1)}, false, -1},
    };
    for (const char16_t* method : methods) {
        for (const auto& b : breaches) {
            SCOPED_TRACE(U8(method) + ": " + b.what);
            CallOptions options;
            options.nullParams = b.nullParams;
            if (b.count != -1) options.count = b.count;
            CallResult r = c->Call(method, b.args, options);
            EXPECT_FALSE(r.ok);
            EXPECT_EQ(r.ret.type, abi::VT_EMPTY) << "the return value is left alone";
            EXPECT_EQ(Code(), 1099) << "the result is not changed";
        }
    }
    // 8-bit and null texts pass the rule.
    for (const Value& id : {Value::Ansi("none"), Value::NullText(abi::VT_PWSTR), Value::NullText(abi::VT_PSTR)}) {
        CallResult r = c->Call(u"GetWeight", {id, Value()});
        EXPECT_TRUE(r.ok) << id.Describe();
        EXPECT_FALSE(r.ret.boolean);
        EXPECT_EQ(Code(), 8);
    }
}

TEST_F(DriverTest, ResultCodesAndTexts) {
    struct Row {
        const char* what;
        std::function<void()> action;
        int32_t code;
        std::u16string text;
    };
    std::vector<Row> rows = {
        {"fresh component", [] {}, 1099, u"UnknownError"},
        {"open emulator", [&] { OpenModel(20); }, 0, u"OK"},
        {"serial port that does not exist", [&] { OpenModel(13, u"/dev/zel-no-such-port"); }, 1,
         u"Ошибка_1: Не возможно установить соединение. Убедитесь в правильности имени СОМ порта, возможно, он "
         u"занят другим приложением."},
        {"negative price", [&] { c->Call(u"SetPrice", {Value::Text(u"nobody"), Value::Int(-1)}); }, 4, kText4},
        {"a placeholder model", [&] { OpenModel(zeltest::FirstReservedModel()); }, 5, u"Ошибка_5: Текущий тип весов не поддерживает этой команды."},
        {"model -1", [&] { OpenModel(-1); }, 5, u"Ошибка_5: Текущий тип весов не поддерживает этой команды."},
        {"unknown ID", [&] { c->Call(u"GetWeight", {Value::Text(u"nobody"), Value()}); }, 8, kText8},
        {"close unknown ID", [&] { c->Call(u"Close", {Value::Text(u"nobody")}); }, 0, u"OK"},
        {"emulator without an answer",
         [&] {
             std::u16string id = OpenModel(20);
             for (int i = 0; i < 400; ++i) {
                 c->Call(u"GetWeight", {Value::Text(id), Value()});
                 if (Code() == 3) break;
             }
         },
         3, u"Ошибка_3: Нет ответа от весов."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        row.action();
        std::u16string text;
        EXPECT_EQ(c->LastError(&text), row.code);
        EXPECT_EQ(text, row.text);
        EXPECT_EQ(c->LastError(), row.code) << "GetLastError leaves the result alone";
    }
}

// A coefficient of the form is checked through GetWeightPriceCost: with a
// price of 1000.00 the cost is the raw weight times 1000 (cut to hundredths)
// while the weight is multiplied by the coefficient.
TEST_F(DriverTest, CoefficientConversion) {
    struct {
        Value text;
        double coeff;
    } const rows[] = {
        {Value::Text(u"1,05"), 1.05},  {Value::Text(u"2."), 2.0},     {Value::Text(u"  0.98  "), 0.98},
        {Value::Text(u"\t3\t"), 3.0},  {Value::Text(u"-1.5"), 1.0},   {Value::Text(u"abc"), 1.0},
        {Value::Text(u"0"), 0.0},      {Value::Text(u"1.2.3"), 1.2},  {Value::Text(u".5"), 0.5},
        {Value::Text(u""), 1.0},       {Value::Text(u"."), 1.0},      {Value::Text(u"2.5kg"), 2.5},
        {Value::Ansi("1,5"), 1.5},     {Value::Text(u"+2"), 1.0},     {Value::Text(u"0,75"), 0.75},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text.Describe());
        ASSERT_TRUE(c->SetParameter(u"coeff", Value::Text(u"7")));
        ASSERT_TRUE(c->SetParameter(u"coeff", row.text));
        std::u16string id = OpenEmulator();
        ASSERT_TRUE(c->Call(u"SetPrice", {Value::Text(id), Value::Int(100000)}).ret.boolean);
        CallResult r = c->Call(u"GetWeightPriceCost", {Value::Text(id), Value(), Value(), Value(), Value()});
        double raw = r.params[3].number / 1000.0;
        ASSERT_GT(raw, 0.07);
        EXPECT_NEAR(r.params[1].number, row.coeff * raw, 1e-4 * (row.coeff + 1));
        c->Call(u"Close", {Value::Text(id)});
    }
    // A value that is not text fails the call and keeps the coefficient.
    ASSERT_TRUE(c->SetParameter(u"coeff", Value::Text(u"0")));
    EXPECT_FALSE(c->SetParameter(u"coeff", Value::Int(3)));
    std::u16string id = OpenEmulator();
    EXPECT_EQ(c->Call(u"GetWeight", {Value::Text(id), Value()}).params[1].number, 0.0);
}

TEST_F(DriverTest, NumberParameters) {
    // The model decides whether Open works on an empty port name: only the
    // emulator does.
    struct {
        const char16_t* key;
        Value value;
        int32_t openResult;
    } const rows[] = {
        {u"model", Value::Int(20), 0},
        {u"model", Value::Double(20.9), 0},  // cut toward zero
        {u"model", Value::Double(20.999), 0},
        {u"model", Value::Double(zeltest::FirstReservedModel() + 0.5), 5},
        {u"model", Value::Double(1e300), 5},  // saturates, never undefined
        {u"model", Value::Double(-1e300), 5},
        {u"model", Value::Tagged(abi::VT_I2, 20), 0},  // any tag: the 32-bit payload
        {u"model", Value::Int(zeltest::FirstReservedModel()), 5},
        {u"Model", Value::Int(zeltest::FirstReservedModel()), 0},  // not a key: ignored
        {u"MODEL", Value::Int(zeltest::FirstReservedModel()), 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(U8(row.key) + " " + row.value.Describe());
        ASSERT_TRUE(c->SetParameter(u"model", Value::Int(20)));
        EXPECT_TRUE(c->SetParameter(row.key, row.value));
        c->Open();
        EXPECT_EQ(Code(), row.openResult);
    }
}

TEST_F(DriverTest, SetParameterRefusals) {
    struct {
        const char16_t* key;
        std::vector<Value> args;
        bool ok;
    } const rows[] = {
        {u"cport", {Value::Text(u"cport"), Value::Int(1)}, false},
        {u"ehost", {Value::Text(u"ehost"), Value::Double(1.0)}, false},
        {u"coeff", {Value::Text(u"coeff"), Value::Bool(true)}, false},
        {u"cport", {Value::Text(u"cport"), Value::Ansi("/dev/x")}, true},
        {u"model, no value", {Value::Text(u"model")}, false},
        {u"conleave, no value", {Value::Text(u"conleave")}, false},
        {u"unknown, no value", {Value::Text(u"other")}, true},
        {u"conleave int", {Value::Text(u"conleave"), Value::Int(0x100)}, true},
        {u"conleave text", {Value::Text(u"conleave"), Value::Text(u"yes")}, true},
    };
    for (const auto& row : rows) {
        CallResult r = c->Call(u"SetParameter", row.args);
        EXPECT_EQ(r.ok, row.ok) << U8(row.key);
        if (row.ok) {
            EXPECT_TRUE(r.ret.boolean) << U8(row.key);
        }
    }
    EXPECT_EQ(Code(), 1099) << "parameters never change the result";
}

TEST_F(DriverTest, HostSelectsEthernet) {
    // conntype 1 opens the host; the emulator accepts any name that is set.
    ASSERT_TRUE(c->SetParameter(u"model", Value::Int(20)));
    ASSERT_TRUE(c->SetParameter(u"conntype", Value::Int(1)));
    ASSERT_TRUE(c->SetParameter(u"ehost", Value::Text(u"127.0.0.1")));
    ASSERT_TRUE(c->SetParameter(u"eport", Value::Int(1)));
    std::u16string id = c->Open();
    EXPECT_EQ(Code(), 0);
    // The host stands for the device ID.
    CallResult r = c->Call(u"GetWeight", {Value::Text(u"127.0.0.1"), Value()});
    EXPECT_NE(Code(), 8);
    c->Call(u"Close", {Value::Text(u"127.0.0.1")});
    c->Call(u"GetWeight", {Value::Text(id), Value()});
    EXPECT_EQ(Code(), 8) << "closing by host removes the device";
}

TEST_F(DriverTest, EmulatorWeighsPricesAndCosts) {
    std::u16string id = OpenEmulator();
    ASSERT_EQ(id.size(), 20u);
    EXPECT_TRUE(std::regex_match(U8(id), std::regex("[0-9A-F]{20}")));
    EXPECT_NE(c->Open(), id) << "every Open makes a new ID";

    CallResult p = c->Call(u"УстановитьЦену", {Value::Text(id), Value::Int(1250)});
    EXPECT_TRUE(p.ok);
    EXPECT_TRUE(p.ret.boolean);
    EXPECT_EQ(Code(), 0);
    int answered = 0;
    for (int i = 0; i < 30; ++i) {
        CallResult r = c->Call(u"GetWeightPriceCost", {Value::Text(id), Value(), Value(), Value(), Value()});
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.ret.boolean, Code() == 0);
        answered += r.ret.boolean;
        ASSERT_EQ(r.params[1].type, abi::VT_R8);
        ASSERT_EQ(r.params[2].type, abi::VT_R8);
        ASSERT_EQ(r.params[3].type, abi::VT_R8);
        ASSERT_EQ(r.params[4].type, abi::VT_I4);
        double w = r.params[1].number;
        EXPECT_GE(w, 0.080);
        EXPECT_LE(w, 104.999);
        EXPECT_NEAR(w * 1000, std::round(w * 1000), 1e-6) << "whole grams";
        EXPECT_EQ(r.params[2].number, 12.5);
        // Whole hundredths of 12.50 x the grams, cut toward zero.
        EXPECT_EQ(r.params[3].number, static_cast<double>(1250 * std::llround(w * 1000) / 1000) / 100);
        EXPECT_TRUE(r.params[4].integer == 0 || r.params[4].integer == 1);

        CallResult g = c->Call(u"GetWeight", {Value::Text(id), Value()});
        EXPECT_EQ(g.ret.boolean, Code() == 0);
        EXPECT_EQ(g.params[1].type, abi::VT_R8);
    }
    EXPECT_GT(answered, 10);

    CallResult t = c->Call(u"Calibrate", {Value::Text(id), Value::Double(5.0)});
    EXPECT_TRUE(t.ret.boolean);
    EXPECT_EQ(Code(), 0);

    CallResult closed = c->Call(u"Отключить", {Value::Text(id)});
    EXPECT_TRUE(closed.ret.boolean);
    CallResult gone = c->Call(u"GetWeight", {Value::Text(id), Value::Tagged(abi::VT_I4, 5)});
    EXPECT_FALSE(gone.ret.boolean);
    EXPECT_EQ(Code(), 8);
    EXPECT_EQ(gone.params[1].type, abi::VT_R8) << "the weight is written also on failure";
    EXPECT_EQ(gone.params[1].number, 0.0);
    c->Call(u"Calibrate", {Value::Text(id), Value()});
    EXPECT_EQ(Code(), 8);
}

TEST_F(DriverTest, PriceConversions) {
    std::u16string id = OpenEmulator();
    struct {
        Value price;
        bool accepted;
        double reported;  // price the emulator then reports
    } const rows[] = {
        {Value::Int(0), true, 0.0},
        {Value::Int(99), true, 0.99},
        {Value::Double(12.7), true, 0.12},
        {Value::Double(2147483647.0), true, 21474836.47},
        // Not some other price: negative, beyond 32 bits or not a number.
        {Value::Double(-0.5), false, 0.0},
        {Value::Double(2147483648.0), false, 0.0},
        {Value::Double(1e300), false, 0.0},
        {Value::Double(NAN), false, 0.0},
        {Value::Tagged(abi::VT_UI4, 250), true, 2.5},
        {Value::Int(-1), false, 0.0},
        {Value::Double(-1e300), false, 0.0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.price.Describe());
        CallResult r = c->Call(u"SetPrice", {Value::Text(id), row.price});
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.ret.boolean, row.accepted);
        if (!row.accepted) {
            EXPECT_EQ(ErrorText(), kText4);
            continue;
        }
        CallResult w = c->Call(u"GetWeightPriceCost", {Value::Text(id), Value(), Value(), Value(), Value()});
        EXPECT_NEAR(w.params[2].number, row.reported, 1e-9);
    }
    // No price at all fails the call.
    EXPECT_FALSE(c->Call(u"SetPrice", {Value::Text(id)}).ok);
    // A negative price is refused before the device is looked up.
    c->Call(u"SetPrice", {Value::Text(u"nobody"), Value::Int(-5)});
    EXPECT_EQ(Code(), 4);
    c->Call(u"SetPrice", {Value::Text(u"nobody"), Value::Int(5)});
    EXPECT_EQ(Code(), 8);
}

// The emulator is seeded with the time in whole seconds when its device is
// opened, so device tests within one second all give the same outcome; a
// reading comes within a few seconds.
std::string DeviceTestReading(Component& c) {
    uint64_t deadline = platform::MonotonicMs() + 5000;
    do {
        CallResult r = c.Call(u"DeviceTest", {Value(), Value()});
        std::string text = r.params[0].Utf8();
        if (text.rfind("Вес: ", 0) == 0) return text;
        EXPECT_EQ(r.params[0].text, u"Ошибка_3: Нет ответа от весов.");
        platform::SleepMs(100);
    } while (platform::MonotonicMs() < deadline);
    return "no reading";
}

TEST_F(DriverTest, DeviceTestTextAndCleanUp) {
    ASSERT_TRUE(c->SetParameter(u"model", Value::Int(20)));
    CallResult r = c->Call(u"ТестУстройства", {Value(), Value()});
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.ret.boolean);
    EXPECT_EQ(Code(), 0) << "the test leaves the result at 0";
    std::string text = DeviceTestReading(*c);
    EXPECT_TRUE(std::regex_match(text, std::regex("Вес: [ 0-9]{2,3}\\.[0-9]{3}; "))) << text;
    EXPECT_EQ(Code(), 0) << "the test leaves the result at 0";

    // A port that cannot be opened gives the result's text.
    ASSERT_TRUE(c->SetParameter(u"model", Value::Int(13)));
    ASSERT_TRUE(c->SetParameter(u"cport", Value::Text(u"/dev/zel-no-such-port")));
    CallResult failed = c->Call(u"DeviceTest", {Value(), Value()});
    EXPECT_EQ(failed.params[0].text.substr(0, 9), u"Ошибка_1:");
    EXPECT_EQ(Code(), 0);
}

TEST_F(DriverTest, DeviceTableFull) {
    std::vector<std::u16string> ids;
    for (int i = 0; i < 99; ++i) {
        ids.push_back(OpenEmulator());
    }
    // The device test borrows an entry and gives it back.
    CallResult t = c->Call(u"DeviceTest", {Value(), Value()});
    EXPECT_NE(t.params[0].text, kText8);
    ids.push_back(OpenEmulator());

    CallResult extra = c->Call(u"Open", {Value()});
    EXPECT_TRUE(extra.ok);
    EXPECT_TRUE(extra.ret.boolean);
    EXPECT_EQ(extra.params[0].text.size(), 20u) << "a new ID all the same";
    std::u16string text;
    EXPECT_EQ(c->LastError(&text), 1099);
    EXPECT_EQ(text, u"UnknownError");
    c->Call(u"GetWeight", {extra.params[0], Value()});
    EXPECT_EQ(Code(), 8);

    // With the table full the device test cannot open its device.
    CallResult full = c->Call(u"DeviceTest", {Value(), Value()});
    EXPECT_EQ(full.params[0].text, kText8);

    c->Call(u"Close", {Value::Text(ids[37])});
    OpenEmulator();  // the freed entry is taken again
}

// The separator of formatted numbers follows SetLocale without touching the
// process's own C locale.
TEST_F(DriverTest, SetLocale) {
    const std::string processLocale = std::setlocale(LC_ALL, nullptr);
    c->SetLocale(nullptr);
    c->SetLocale(u"zz_ZZ.no-such-locale");
    ASSERT_TRUE(c->SetParameter(u"model", Value::Int(20)));
    auto testText = [&] { return DeviceTestReading(*c); };
    EXPECT_NE(testText().find('.'), std::string::npos);
    c->SetLocale(u"C.UTF-8");
    EXPECT_EQ(std::setlocale(LC_ALL, nullptr), processLocale);

    std::string comma;
    for (const char* name : {"ru_RU.UTF-8", "ru_RU.utf8", "ru_RU", "de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"}) {
        char separator = 0;
        if (platform::LocaleDecimalSeparator(name, &separator) && separator == ',') {
            comma = name;
            break;
        }
    }
    if (comma.empty()) ZEL_SKIP_OR_FAIL("this machine has no locale with a decimal comma");
    c->SetLocale(zel::host::FromUtf8(comma).c_str());
    std::string text = testText();
    c->SetLocale(u"C");
    EXPECT_EQ(std::setlocale(LC_ALL, nullptr), processLocale);
    EXPECT_TRUE(std::regex_match(text, std::regex("Вес: [ 0-9]{2,3},[0-9]{3}; "))) << text;
    EXPECT_NE(testText().find('.'), std::string::npos);
}

// Whatever the platform passes, no call crashes or leaves a block behind.
TEST_F(DriverTest, HostileArgumentsOnEveryMethod) {
    const std::vector<Value> kinds = {
        Value(),
        Value::Tagged(abi::VT_NULL, 0),
        Value::Int(-1),
        Value::Double(-1e300),
        Value::Double(NAN),
        Value::Bool(true),
        Value::Tagged(abi::VT_BOOL, 0x7F),
        Value::Tagged(abi::VT_INTERFACE, 0x10),
        Value::Tagged(abi::VT_PWSTR | abi::VT_BYREF, 0x10),
        Value::Tagged(0xFFFF, -1),
        Value::NullText(abi::VT_PWSTR),
        Value::NullText(abi::VT_PSTR),
        Value::Text(std::u16string(3000, u'Ж')),
        Value::Ansi(std::string(3000, '\xC8')),
    };
    for (long method = 0; method < 14; ++method) {
        for (const Value& kind : kinds) {
            SCOPED_TRACE("method " + std::to_string(method) + " " + kind.Describe().substr(0, 40));
            std::vector<Value> args(5, kind);
            for (long count : {0L, 1L, 2L, 5L, -1L}) {
                CallOptions options;
                options.count = count;
                c->CallNumber(method, args, options);
                options.nullRet = true;
                c->CallNumber(method, args, options);
            }
            CallOptions nullArray;
            nullArray.nullParams = true;
            nullArray.count = 5;
            c->CallNumber(method, args, nullArray);
            ASSERT_EQ(c->LiveBlocks(), 0u);
        }
        // The same with every block refused.
        c->RefuseMemory(true);
        c->CallNumber(method, std::vector<Value>(5));
        c->CallNumber(method, {Value::Text(u"model"), Value::Int(20), Value(), Value(), Value()});
        c->RefuseMemory(false);
    }
    c->Call(u"Close", {Value::Text(u"")});
    EXPECT_EQ(c->OtherConnectionCalls(), 0u) << "only ExternalEvent may be called on the connection";
}

}  // namespace
}  // namespace zeltest
