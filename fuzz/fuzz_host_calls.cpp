// The platform boundary: random sequences of calls through the host layer
// (method numbers, parameter counts, variant tags and payloads, texts of any
// content) against the component linked in, with the memory manager refusing
// requests at random. After every call each block the component took from the
// manager must have come back as a result, exactly sized and terminated.
//
// Input: a list of operations, each an opcode byte and its fields (see
// Session::Step; fuzz/seeds.py writes the seed corpus in this form). Texts
// are valid buffers; a real platform never passes a bad pointer, so neither
// does this.
//
// No call may open a real line: before Open and DeviceTest the line
// settings are put to a serial name that cannot exist and a TCP port that
// refuses at once on loopback, whatever model was chosen.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "fuzz/in_process.h"
#include "platform/files.h"
#include "platform/sys.h"

using zel::host::CallOptions;
using zel::host::CallResult;
using zel::host::Component;
using zel::host::Value;
namespace abi = zel::host::abi;

namespace {

const long kMethods = 14;
const long kOpen = 5, kDeviceTest = 7;

const char16_t* const kNames[] = {
    u"model", u"conntype", u"cbaudrate", u"eport", u"conleave", u"cport", u"ehost", u"coeff",
    u"MODEL", u"", u"1", u"0", u"20", u"1,5", u" 2.5 ", u"GetWeight", u"ПолучитьВес",
    u"SetParameter", u"Open", u"GetVersion", u"DeviceTest", u"GetLastError", u"abc"};
const char* const kLocales[] = {"ru_RU", "ru_RU.UTF-8", "C", "POSIX", "en_US.UTF-8", "de_DE", "", "xx_XX.@#"};

struct Session {
    Component& c;
    zelfuzz::Input& in;
    std::vector<std::u16string> seen;  // texts the component handed back (device IDs)

    long Method() {
        uint8_t b = in.U8();
        if (b < 0xF0) return b % kMethods;
        return static_cast<long>(static_cast<int32_t>(in.U32()));
    }

    std::u16string RandomText() {
        size_t n = in.U8() % 65;
        std::u16string t;
        for (size_t i = 0; i < n; ++i) t += static_cast<char16_t>(in.U16());
        return t;
    }

    std::u16string Text() {
        uint8_t b = in.U8();
        if (b < 0x80) return kNames[b % (sizeof(kNames) / sizeof(kNames[0]))];
        if (b < 0xC0 && !seen.empty()) return seen[b % seen.size()];
        return RandomText();
    }

    Value Any() {
        uint8_t t = in.U8();
        switch (t % 16) {
            case 0: return Value();
            case 1: return Value::Tagged(abi::VT_NULL, 0);
            case 2: return Value::Int(static_cast<int32_t>(in.U32()));
            case 3: {
                uint64_t bits = in.U64();
                double d;
                std::memcpy(&d, &bits, sizeof(d));
                return Value::Double(d);
            }
            case 4: return Value::Tagged(abi::VT_BOOL, in.U8());
            case 5: return Value::Text(RandomText());
            case 6: return Value::Text(Text());
            case 7: return Value::Ansi(in.Bytes(in.U8() % 65));
            case 8: return Value::Ansi(zel::host::ToUtf8(Text()));
            case 9: return Value::UInt(in.U32());
            case 10: {
                uint16_t tag = in.U16();
                int64_t payload = static_cast<int64_t>(in.U64());
                // Tags that carry a pointer get a null one, never a made-up address.
                if ((tag & abi::VT_BYREF) || tag == abi::VT_INTERFACE || tag == abi::VT_VARIANT ||
                    tag == abi::VT_BLOB || tag == abi::VT_CLSID)
                    payload = 0;
                if (tag == abi::VT_PSTR) return Value::Ansi(in.Bytes(in.U8() % 65));
                if (tag == abi::VT_PWSTR) return Value::Text(RandomText());
                return Value::Tagged(tag, payload);
            }
            case 11: {
                static const uint16_t kTags[] = {abi::VT_I2, abi::VT_I1, abi::VT_UI1, abi::VT_UI2, abi::VT_I8,
                                                 abi::VT_UI8, abi::VT_INT, abi::VT_UINT, abi::VT_R4, abi::VT_DATE,
                                                 abi::VT_ERROR, abi::VT_HRESULT, abi::VT_TM};
                return Value::Tagged(kTags[in.U8() % (sizeof(kTags) / sizeof(kTags[0]))],
                                     static_cast<int64_t>(in.U64()));
            }
            case 12: return Value::NullText(in.U8() & 1 ? abi::VT_PWSTR : abi::VT_PSTR);
            case 13:
                return seen.empty() ? Value::Text(u"") : Value::Text(seen[in.U8() % seen.size()]);
            case 14: {
                static const double kOdd[] = {std::numeric_limits<double>::quiet_NaN(),
                                              std::numeric_limits<double>::infinity(),
                                              -std::numeric_limits<double>::infinity(),
                                              -0.0, 2147483648.0, -2147483649.0, 1e300, -1e-300, 12.5, 0.999};
                return Value::Double(kOdd[in.U8() % (sizeof(kOdd) / sizeof(kOdd[0]))]);
            }
            default: return Value::Int(static_cast<int8_t>(in.U8()));
        }
    }

    std::vector<Value> Args() {
        size_t n = in.U8() % 9;
        std::vector<Value> args;
        for (size_t i = 0; i < n; ++i) args.push_back(Any());
        return args;
    }

    // Line settings that fail at once for every model.
    void NoRealLines() {
        c.SetParameter(u"cport", Value::Text(u"/nonexistent-zel-fuzz/tty"));
        c.SetParameter(u"ehost", Value::Text(u"127.0.0.1"));
        c.SetParameter(u"eport", Value::Int(1));
    }

    void Keep(const CallResult& r) {
        for (const Value& v : r.params)
            if (v.type == abi::VT_PWSTR && !v.text.empty() && v.text.size() < 64 && seen.size() < 16)
                seen.push_back(v.text);
    }

    void Call(bool proc) {
        long num = Method();
        std::vector<Value> args = Args();
        uint8_t flags = in.U8();
        CallOptions options;
        options.nullParams = (flags & 3) == 3;
        options.nullRet = (flags & 12) == 12;
        // Never more than the array holds: the platform's count is the array's.
        if (flags & 16) options.count = static_cast<long>(in.U8() % (args.size() + 3)) - 2;
        if (num == kOpen || num == kDeviceTest) NoRealLines();
        if (proc) {
            c.CallAsProc(num, args);
            return;
        }
        CallResult r = c.CallNumber(num, args, options);
        Keep(r);
        // Past the count the platform gave, the array is not the component's.
        long count = options.nullParams ? 0 : options.count ? *options.count : static_cast<long>(args.size());
        for (size_t i = count < 0 ? 0 : static_cast<size_t>(count); i < args.size(); ++i) {
            if (!Same(args[i], r.params[i])) {
                std::fprintf(stderr, "method %ld, count %ld: parameter %zu changed from %s to %s\n", num, count, i,
                             args[i].Describe().c_str(), r.params[i].Describe().c_str());
                std::abort();
            }
        }
    }

    // The variant the host passed, read back unchanged.
    static bool Same(const Value& in, const Value& out) {
        if (in.type != out.type) return false;
        switch (in.type) {
            case abi::VT_EMPTY:
            case abi::VT_NULL: return true;
            case abi::VT_BOOL:
                return static_cast<uint8_t>(in.integer != 0 ? in.integer : in.boolean) == out.integer;
            case abi::VT_I4: return static_cast<int32_t>(in.integer) == out.integer;
            case abi::VT_UI4: return static_cast<uint32_t>(in.integer) == out.integer;
            case abi::VT_R8: return std::memcmp(&in.number, &out.number, sizeof(double)) == 0;
            case abi::VT_PWSTR: return in.nullPointer == out.nullPointer && in.text == out.text;
            case abi::VT_PSTR: return in.nullPointer == out.nullPointer && in.ansi == out.ansi;
            default: return in.integer == out.integer;
        }
    }

    void Step() {
        switch (in.U8() % 14) {
            case 0: Call(false); break;
            case 1: {
                long num = Method();
                std::u16string name;
                c.GetMethodName(num, static_cast<int8_t>(in.U8()), &name);
                break;
            }
            case 2: {
                std::u16string name = Text();
                c.FindMethod(name.c_str());
                break;
            }
            case 3: {
                long num = Method();
                c.GetNParams(num);
                c.HasRetVal(num);
                c.GetNMethods();
                break;
            }
            case 4: {
                Value v;
                long num = Method();
                c.GetParamDefValue(num, static_cast<int8_t>(in.U8()), &v);
                break;
            }
            case 5: {
                Value v;
                c.GetPropVal(static_cast<int8_t>(in.U8()), &v);
                break;
            }
            case 6: {
                long num = static_cast<int8_t>(in.U8());
                Value v = Any();
                // SetPropVal passes wide texts only; an 8-bit one goes as wide.
                if (v.type == abi::VT_PSTR) v = Value::Text(zel::host::FromUtf8(v.ansi));
                if (v.nullPointer) v = Value::Text(u"");
                c.SetPropVal(num, v);
                break;
            }
            case 7: {
                std::u16string name = Text();
                long num = static_cast<int8_t>(in.U8());
                std::u16string propName;
                c.FindProp(name.c_str());
                c.GetPropName(num, static_cast<int8_t>(in.U8()), &propName);
                c.IsPropReadable(num);
                c.IsPropWritable(num);
                c.GetNProps();
                break;
            }
            case 8: c.RefuseMemoryPattern(in.U64()); break;
            case 9: {
                uint8_t b = in.U8();
                std::u16string name = b < 0x80 ? zel::host::FromUtf8(kLocales[b % (sizeof(kLocales) / sizeof(kLocales[0]))])
                                               : RandomText();
                c.SetLocale(name.c_str());
                break;
            }
            case 10: {
                std::u16string name;
                c.RegisterExtensionAs(&name);
                c.GetInfo();
                break;
            }
            case 11: Call(true); break;
            case 12: {
                std::u16string name = Text();
                c.SetParameter(name, Any());
                break;
            }
            default:
                c.Done();
                c.Init(in.U8() & 1);
                break;
        }
    }
};

void Check(const Component& c, int step) {
    if (c.LiveBlocks() != 0 || c.BadStrings() != 0 || c.OtherConnectionCalls() != 0) {
        std::fprintf(stderr, "step %d: %zu blocks not returned, %llu bad texts, %llu connection calls\n", step,
                     c.LiveBlocks(), static_cast<unsigned long long>(c.BadStrings()),
                     static_cast<unsigned long long>(c.OtherConnectionCalls()));
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A settings.ini beside the fuzzers (left by the settings target) would
    // make Init create its devices here.
    platform::RemoveFile(platform::ModuleDirectory() + platform::PathSeparator() + "settings.ini");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zelfuzz::Input in(data, size);
    Component c(zelfuzz::InProcess(), Component::Options());
    Session s{c, in, {}};
    for (int step = 0; step < 64 && !in.Empty(); ++step) {
        s.Step();
        Check(c, step);
    }
    c.RefuseMemoryPattern(0);
    return 0;
}
