// The component's interfaces as the platform reaches them: entry points,
// lifecycle, the property, the method table and the memory manager.
#include "tests/host/support.h"

namespace zeltest {
namespace {

TEST(EntryPoints, ClassNamesCapabilitiesAndObjects) {
    zel::host::Library lib(zel::host::DefaultLibraryPath());
    EXPECT_EQ(lib.ClassNames(), u"CAddInNative");
    for (int capabilities : {-1, 0, 1, 2, 3, 99}) EXPECT_EQ(lib.SetPlatformCapabilities(capabilities), 1);

    // Any class name, or none, creates a component.
    for (const char16_t* name : {u"CAddInNative", u"Other", static_cast<const char16_t*>(nullptr)}) {
        void* object = nullptr;
        EXPECT_NE(lib.GetClassObject(name, &object), 0);
        ASSERT_NE(object, nullptr);
        // A pointer that is already set is left alone.
        void* before = object;
        EXPECT_EQ(lib.GetClassObject(u"CAddInNative", &object), 0);
        EXPECT_EQ(object, before);
        EXPECT_EQ(lib.DestroyObject(&object), 0);
        EXPECT_EQ(object, nullptr);
        EXPECT_EQ(lib.DestroyObject(&object), -1);
    }
    EXPECT_EQ(lib.DestroyObject(nullptr), -1);
    EXPECT_EQ(lib.GetClassObject(u"CAddInNative", nullptr), 0);
}

TEST(Lifecycle, InitMemManagerInfoDone) {
    Component::Options bare;
    bare.memoryManager = false;
    bare.init = false;
    Component c(zel::host::DefaultLibraryPath(), bare);
    EXPECT_EQ(c.GetInfo(), 2001);
    EXPECT_FALSE(c.SetMemManager(false));
    EXPECT_TRUE(c.SetMemManager(true));
    EXPECT_FALSE(c.Init(false));  // no connection, settings still loaded
    EXPECT_TRUE(c.Init(true));
    c.Done();
    // Done changes nothing: methods go on working.
    CallResult v = c.Call(u"GetVersion");
    EXPECT_TRUE(v.ok);
    EXPECT_EQ(v.ret.text, u"4.3.25 (05.03.2020)");
    EXPECT_EQ(c.OtherConnectionCalls(), 0u);
}

TEST(Lifecycle, InitDeepensThePlatformEventQueue) {
    // The platform's queue holds one external event until a component asks
    // for more: a second key press while the application is busy would be
    // dropped. The depth is set when the connection is handed over.
    Component::Options bare;
    bare.init = false;
    Component c(zel::host::DefaultLibraryPath(), bare);
    EXPECT_EQ(c.EventBufferDepth(), 1);
    EXPECT_FALSE(c.Init(false));
    EXPECT_EQ(c.EventBufferDepthCalls(), 0u) << "no connection, nothing to set";
    EXPECT_TRUE(c.Init(true));
    const long depth = c.EventBufferDepth();
    EXPECT_GE(depth, 8);
    EXPECT_TRUE(c.Init(true));
    EXPECT_EQ(c.EventBufferDepth(), depth) << "a second Init keeps it";
    EXPECT_EQ(c.OtherConnectionCalls(), 0u);

    // A platform that keeps its depth: Init still succeeds.
    Component::Options keeps;
    keeps.refuseEventBufferDepth = true;
    Component k(zel::host::DefaultLibraryPath(), keeps);
    EXPECT_EQ(k.EventBufferDepth(), 1);
    EXPECT_GE(k.EventBufferDepthCalls(), 1u);
    EXPECT_TRUE(k.Init(true));
}

TEST_F(DriverTest, SecondInitClosesOpenedDevices) {
    std::u16string id = OpenEmulator();
    EXPECT_TRUE(c->Init(true));
    EXPECT_EQ(Code(), 1099);
    CallResult r = c->Call(u"GetWeight", {Value::Text(id), Value()});
    EXPECT_FALSE(r.ret.boolean);
    EXPECT_EQ(Code(), 8);
}

TEST_F(DriverTest, Property) {
    EXPECT_EQ(c->GetNProps(), 1);
    EXPECT_EQ(c->FindProp(u""), 0);
    EXPECT_EQ(c->FindProp(u"X"), -1);
    EXPECT_EQ(c->FindProp(nullptr), -1);
    for (long alias : {0L, 1L, 7L}) {
        std::u16string name = u"unset";
        EXPECT_TRUE(c->GetPropName(0, alias, &name));
        EXPECT_EQ(name, u"");
    }
    EXPECT_FALSE(c->GetPropName(1, 0, nullptr));
    EXPECT_FALSE(c->GetPropName(-1, 0, nullptr));

    Value v;
    EXPECT_TRUE(c->GetPropVal(0, &v));
    EXPECT_EQ(v.type, abi::VT_BOOL);
    EXPECT_FALSE(v.boolean);
    EXPECT_FALSE(c->GetPropVal(1, &v));

    struct {
        long num;
        Value value;
        bool accepted;
    } const writes[] = {
        {0, Value::Bool(true), true},     {0, Value::Int(1), false}, {0, Value::Text(u"true"), false},
        {1, Value::Bool(true), false},    {-1, Value::Bool(true), false},
    };
    for (const auto& w : writes) {
        EXPECT_EQ(c->SetPropVal(w.num, w.value), w.accepted) << w.num << " " << w.value.Describe();
        EXPECT_TRUE(c->GetPropVal(0, &v));
        EXPECT_FALSE(v.boolean) << "the property always reads false";
    }
    EXPECT_TRUE(c->IsPropReadable(0));
    EXPECT_FALSE(c->IsPropReadable(1));
    EXPECT_FALSE(c->IsPropWritable(0));
    EXPECT_FALSE(c->IsPropWritable(1));
}

TEST(Extension, RegisterExtensionAs) {
    Component::Options noManager;
    noManager.memoryManager = false;
    Component bare(zel::host::DefaultLibraryPath(), noManager);
    std::u16string name;
    bool got = true;
    EXPECT_FALSE(bare.RegisterExtensionAs(&name, &got));
    EXPECT_FALSE(got);

    Component c(zel::host::DefaultLibraryPath());
    EXPECT_TRUE(c.RegisterExtensionAs(&name, &got));
    EXPECT_TRUE(got);
    EXPECT_EQ(name, u"ZelvatScalesDriver");
    EXPECT_EQ(c.BadStrings(), 0u) << "38 bytes with the terminator";

    c.RefuseMemory(true);
    EXPECT_TRUE(c.RegisterExtensionAs(&name, &got)) << "still true when the block is refused";
    EXPECT_FALSE(got);
    EXPECT_EQ(c.LiveBlocks(), 0u);
}

struct MethodRow {
    const char16_t* english;
    const char16_t* russian;
    long params;
};

const MethodRow kMethods[] = {
    {u"GetVersion", u"ПолучитьНомерВерсии", 0},
    {u"GetDescription", u"ПолучитьОписание", 7},
    {u"GetLastError", u"ПолучитьОшибку", 1},
    {u"GetParameters", u"ПолучитьПараметры", 1},
    {u"SetParameter", u"УстановитьПараметр", 2},
    {u"Open", u"Подключить", 1},
    {u"Close", u"Отключить", 1},
    {u"DeviceTest", u"ТестУстройства", 2},
    {u"GetAdditionalActions", u"ПолучитьДополнительныеДействия", 1},
    {u"DoAdditionalAction", u"ВыполнитьДополнительноеДействие", 1},
    {u"Calibrate", u"УстановитьВесТары", 2},
    {u"GetWeight", u"ПолучитьВес", 2},
    {u"SetPrice", u"УстановитьЦену", 2},
    {u"GetWeightPriceCost", u"ПолучитьВесЦенуСтоимость", 5},
};

std::u16string Upper(std::u16string s) {
    for (char16_t& ch : s) {
        if (ch >= u'a' && ch <= u'z') ch = static_cast<char16_t>(ch - 32);
        if (ch >= u'а' && ch <= u'я') ch = static_cast<char16_t>(ch - 32);
    }
    return s;
}

TEST_F(DriverTest, MethodTable) {
    ASSERT_EQ(c->GetNMethods(), 14);
    for (long i = 0; i < 14; ++i) {
        const MethodRow& m = kMethods[i];
        SCOPED_TRACE(U8(m.english));
        EXPECT_EQ(c->FindMethod(m.english), i);
        EXPECT_EQ(c->FindMethod(m.russian), i);
        EXPECT_EQ(c->FindMethod(Upper(m.english).c_str()), -1) << "letter case matters";
        EXPECT_EQ(c->FindMethod(Upper(m.russian).c_str()), -1) << "letter case matters";
        std::u16string name;
        EXPECT_TRUE(c->GetMethodName(i, 0, &name));
        EXPECT_EQ(name, m.english);
        EXPECT_TRUE(c->GetMethodName(i, 1, &name));
        EXPECT_EQ(name, m.russian);
        EXPECT_FALSE(c->GetMethodName(i, 2, &name));
        EXPECT_FALSE(c->GetMethodName(i, -1, &name));
        EXPECT_EQ(c->GetNParams(i), m.params);
        EXPECT_TRUE(c->HasRetVal(i));
        EXPECT_FALSE(c->CallAsProc(i, {}));
        for (long p = 0; p < 3; ++p) {
            Value def = Value::Int(5);
            EXPECT_FALSE(c->GetParamDefValue(i, p, &def));
            EXPECT_EQ(def.type, abi::VT_EMPTY);
        }
    }
    for (long outside : {14L, 100L, -1L}) {
        EXPECT_FALSE(c->GetMethodName(outside, 0, nullptr));
        EXPECT_EQ(c->GetNParams(outside), 0);
        EXPECT_FALSE(c->HasRetVal(outside));
        EXPECT_FALSE(c->CallNumber(outside, {Value()}).ok);
    }
    EXPECT_EQ(c->FindMethod(u""), -1);
    EXPECT_EQ(c->FindMethod(u"GetWeightX"), -1);
    EXPECT_EQ(c->FindMethod(u"GetWeigh"), -1);
    EXPECT_EQ(c->FindMethod(nullptr), -1);
}

TEST(Memory, NamesNeedAManager) {
    Component::Options noManager;
    noManager.memoryManager = false;
    Component c(zel::host::DefaultLibraryPath(), noManager);
    EXPECT_FALSE(c.GetMethodName(0, 0, nullptr));
    EXPECT_FALSE(c.GetPropName(0, 0, nullptr));
    CallResult v = c.Call(u"GetVersion");
    EXPECT_FALSE(v.ok) << "a version that cannot be handed over is a failed call";
    EXPECT_EQ(v.ret.type, abi::VT_EMPTY);
}

TEST_F(DriverTest, RefusedBlocksAreNeverWritten) {
    std::u16string id = OpenEmulator();
    c->RefuseMemory(true);
    EXPECT_FALSE(c->GetMethodName(0, 0, nullptr));
    EXPECT_FALSE(c->GetPropName(0, 0, nullptr));

    CallResult v = c->Call(u"GetVersion");
    EXPECT_FALSE(v.ok);
    EXPECT_EQ(v.ret.type, abi::VT_EMPTY);

    // Calls with text out-parameters keep their return value and leave the
    // texts empty.
    CallResult d = c->Call(u"GetDescription", std::vector<Value>(7));
    EXPECT_TRUE(d.ok);
    for (int i : {0, 1, 2, 6}) EXPECT_EQ(d.params[i].type, abi::VT_EMPTY) << i;
    EXPECT_EQ(d.params[3].type, abi::VT_UI4);

    CallResult e = c->Call(u"GetLastError", {Value()});
    EXPECT_TRUE(e.ok);
    EXPECT_EQ(e.ret.integer, 0);
    EXPECT_EQ(e.params[0].type, abi::VT_EMPTY);

    CallResult o = c->Call(u"Open", {Value()});
    EXPECT_TRUE(o.ok);
    EXPECT_EQ(o.params[0].type, abi::VT_EMPTY);

    for (const char16_t* method : {u"GetParameters", u"DeviceTest"}) {
        CallResult r = c->Call(method, {Value(), Value()});
        EXPECT_TRUE(r.ok) << U8(method);
        EXPECT_EQ(r.params[0].type, abi::VT_EMPTY) << U8(method);
    }
    // Numbers still arrive.
    CallResult w = c->Call(u"GetWeight", {Value::Text(id), Value()});
    EXPECT_TRUE(w.ok);
    EXPECT_EQ(w.params[1].type, abi::VT_R8);
    EXPECT_GT(c->AllocationCount(), 0u);
}

// Some requests refused, others granted, within one call: each text is
// either whole or VTYPE_EMPTY, and every granted block comes back.
TEST_F(DriverTest, PartlyRefusedBlocks) {
    const struct {
        uint64_t pattern;  // bit k: request k refused
        bool texts[4];     // GetDescription's texts 0, 1, 2 and 6 handed over
    } cases[] = {
        {0x1, {false, true, true, true}},
        {0x2, {true, false, true, true}},
        {0x5, {false, true, false, true}},
        {0xA, {true, false, true, false}},
        {0x0, {true, true, true, true}},
    };
    const int textParams[4] = {0, 1, 2, 6};
    for (const auto& k : cases) {
        c->RefuseMemoryPattern(k.pattern);
        CallResult d = c->Call(u"GetDescription", std::vector<Value>(7));
        EXPECT_TRUE(d.ok);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(d.params[textParams[i]].type, k.texts[i] ? abi::VT_PWSTR : abi::VT_EMPTY)
                << "pattern " << k.pattern << ", parameter " << textParams[i];
        EXPECT_EQ(d.params[3].type, abi::VT_UI4);
        EXPECT_EQ(c->LiveBlocks(), 0u);
    }
    c->RefuseMemoryPattern(0x1);
    EXPECT_FALSE(c->GetMethodName(0, 0, nullptr));
    std::u16string name;
    EXPECT_TRUE(c->GetMethodName(0, 1, &name));
    EXPECT_EQ(name, u"ПолучитьНомерВерсии");
    c->RefuseMemoryPattern(0);
}

}  // namespace
}  // namespace zeltest
