#include "host/Component.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/HostObjects.h"
#include "platform/loader.h"
#include "platform/sys.h"

namespace zel {
namespace host {

namespace {

const char kLibraryName[] = "ZelvatScalesNativeDriver";

std::vector<abi::Char> ToChars(const std::u16string& text) {
    std::vector<abi::Char> out(text.begin(), text.end());
    out.push_back(0);
    return out;
}

}  // namespace

// ---- Library ----------------------------------------------------------------

std::string BesideLibrary(const std::string& name) {
    const std::string lib = DefaultLibraryPath();
    const size_t cut = lib.find_last_of("/\\");
    const std::string dir = cut == std::string::npos ? std::string(".") : lib.substr(0, cut);
    return dir + platform::PathSeparator() + name;
}

std::vector<std::string> LibraryNamesBeside() {
    std::vector<std::string> names;
    // The package names each build by its architecture.
#if defined(__x86_64__) || defined(_M_X64)
    names.push_back(platform::LibraryFileName(std::string(kLibraryName) + "_x64"));
#elif defined(__i386__) || defined(_M_IX86)
    names.push_back(platform::LibraryFileName(std::string(kLibraryName) + "_x86"));
#endif
    names.push_back(platform::LibraryFileName(kLibraryName));
    return names;
}

std::string DefaultLibraryPath() {
    const char* fromEnvironment = std::getenv("ZEL_LIBRARY");
    if (fromEnvironment && *fromEnvironment) return fromEnvironment;
    const std::string folder = platform::ExecutableDirectory() + platform::PathSeparator();
    const std::vector<std::string> names = LibraryNamesBeside();
    for (const std::string& name : names)
        if (platform::FileExists(folder + name)) return folder + name;
    const std::string beside = folder + names.back();
#ifdef ZEL_BUILT_LIBRARY
    if (platform::FileExists(ZEL_BUILT_LIBRARY)) return ZEL_BUILT_LIBRARY;
#endif
    return beside;
}

Library::Library(const std::string& path) : path_(path) {
    std::string error;
    handle_ = platform::LoadLibraryFile(path, &error);
    if (!handle_) throw HostError("cannot load the driver library " + path + ": " + error);
    file_ = platform::LibraryFilePath(handle_);
    if (file_.empty()) file_ = path;
    getClassNames_ = reinterpret_cast<abi::GetClassNamesFn>(platform::LibraryFunction(handle_, "GetClassNames"));
    getClassObject_ = reinterpret_cast<abi::GetClassObjectFn>(platform::LibraryFunction(handle_, "GetClassObject"));
    destroyObject_ = reinterpret_cast<abi::DestroyObjectFn>(platform::LibraryFunction(handle_, "DestroyObject"));
    setPlatformCapabilities_ = reinterpret_cast<abi::SetPlatformCapabilitiesFn>(
        platform::LibraryFunction(handle_, "SetPlatformCapabilities"));
    if (!getClassNames_ || !getClassObject_ || !destroyObject_ || !setPlatformCapabilities_) {
        platform::UnloadLibraryFile(handle_);
        handle_ = nullptr;
        throw HostError(path + " does not export the four add-in entry points");
    }
}

Library::Library(const EntryPoints& entries)
    : path_("(in process)"),
      file_(path_),
      getClassNames_(entries.getClassNames),
      getClassObject_(entries.getClassObject),
      destroyObject_(entries.destroyObject),
      setPlatformCapabilities_(entries.setPlatformCapabilities) {
    if (!getClassNames_ || !getClassObject_ || !destroyObject_ || !setPlatformCapabilities_)
        throw HostError("the four add-in entry points are needed");
}

// The platform keeps an attached add-in loaded until the process ends; so
// does the host. Each Library holds one load, released by the system at exit.
Library::~Library() {}

std::u16string Library::ClassNames() {
    std::u16string out;
    const abi::Char* names = getClassNames_();
    for (size_t i = 0; names && names[i] && i < 4096; ++i) out += static_cast<char16_t>(names[i]);
    return out;
}

long Library::GetClassObject(const char16_t* name, void** iface) {
    std::vector<abi::Char> chars;
    if (name) chars = ToChars(name);
    return getClassObject_(name ? chars.data() : nullptr, iface);
}

long Library::DestroyObject(void** iface) { return destroyObject_(iface); }

int Library::SetPlatformCapabilities(int capabilities) { return setPlatformCapabilities_(capabilities); }

// ---- Value ------------------------------------------------------------------

Value Value::Bool(bool b) {
    Value v;
    v.type = abi::VT_BOOL;
    v.boolean = b;
    v.integer = b ? 1 : 0;
    return v;
}

Value Value::Int(int32_t i) {
    Value v;
    v.type = abi::VT_I4;
    v.integer = i;
    return v;
}

Value Value::UInt(uint32_t u) {
    Value v;
    v.type = abi::VT_UI4;
    v.integer = u;
    return v;
}

Value Value::Double(double d) {
    Value v;
    v.type = abi::VT_R8;
    v.number = d;
    return v;
}

Value Value::Text(const std::u16string& t) {
    Value v;
    v.type = abi::VT_PWSTR;
    v.text = t;
    return v;
}

Value Value::Ansi(const std::string& t) {
    Value v;
    v.type = abi::VT_PSTR;
    v.ansi = t;
    return v;
}

Value Value::Tagged(uint16_t tag, int64_t payload) {
    Value v;
    v.type = tag;
    v.integer = payload;
    return v;
}

Value Value::NullText(uint16_t tag) {
    Value v;
    v.type = tag;
    v.nullPointer = true;
    return v;
}

std::string Value::Describe() const {
    char buf[64];
    switch (type) {
        case abi::VT_EMPTY:
            return "EMPTY";
        case abi::VT_BOOL:
            return boolean ? "BOOL true" : "BOOL false";
        case abi::VT_I4:
            return "I4 " + std::to_string(integer);
        case abi::VT_UI4:
            return "UI4 " + std::to_string(integer);
        case abi::VT_R8:
            std::snprintf(buf, sizeof(buf), "R8 %.6g", number);
            return buf;
        case abi::VT_PWSTR:
            return nullPointer ? "PWSTR null" : "PWSTR \"" + ToUtf8(text) + "\"";
        case abi::VT_PSTR:
            return nullPointer ? "PSTR null" : "PSTR \"" + ansi + "\"";
        default:
            return "tag " + std::to_string(type) + " " + std::to_string(integer);
    }
}

// ---- Component --------------------------------------------------------------

Component::Component(const std::string& libraryPath) : Component(libraryPath, Options()) {}

Component::Component(const std::string& libraryPath, const Options& options)
    : library_(std::make_shared<Library>(libraryPath)), objects_(new HostObjects()) {
    if (library_->GetClassObject(u"CAddInNative", &object_) == 0 || !object_)
        throw HostError("the driver library created no component");
    objects_->RefuseEventBufferDepth(options.refuseEventBufferDepth);
    if (options.memoryManager) SetMemManager(true);
    if (options.init) Init(options.connection);
}

Component::Component(const EntryPoints& entries, const Options& options)
    : library_(std::make_shared<Library>(entries)), objects_(new HostObjects()) {
    if (library_->GetClassObject(u"CAddInNative", &object_) == 0 || !object_)
        throw HostError("the driver created no component");
    objects_->RefuseEventBufferDepth(options.refuseEventBufferDepth);
    if (options.memoryManager) SetMemManager(true);
    if (options.init) Init(options.connection);
}

Component::~Component() {
    if (object_) library_->DestroyObject(&object_);
}

abi::Slot Component::Slot(int iface, int op) const {
    // The object starts with one vtable pointer per interface.
    void* const* vtables = static_cast<void* const*>(object_);
    const abi::Slot* table = static_cast<const abi::Slot*>(vtables[iface]);
    return table[abi::kDestructorSlots + op];
}

// Calls operation `op` of interface `iface`, with `this` pointing at that
// interface inside the object.
template <class Fn, class... Args>
auto Component::Op(int iface, int op, Args... args) {
    void* self = static_cast<void**>(object_) + iface;
    return reinterpret_cast<Fn>(Slot(iface, op))(self, args...);
}

namespace {
typedef bool(ZEL_HOST_CALL* BoolOfPtr)(void*, void*);
typedef long(ZEL_HOST_CALL* LongOf)(void*);
typedef void(ZEL_HOST_CALL* VoidOf)(void*);
typedef bool(ZEL_HOST_CALL* BoolOfNamePtr)(void*, abi::Char**);
typedef long(ZEL_HOST_CALL* LongOfName)(void*, const abi::Char*);
typedef const abi::Char*(ZEL_HOST_CALL* NameOfLongLong)(void*, long, long);
typedef bool(ZEL_HOST_CALL* BoolOfLongVariant)(void*, long, abi::Variant*);
typedef bool(ZEL_HOST_CALL* BoolOfLong)(void*, long);
typedef long(ZEL_HOST_CALL* LongOfLong)(void*, long);
typedef bool(ZEL_HOST_CALL* BoolOfLongLongVariant)(void*, long, long, abi::Variant*);
typedef bool(ZEL_HOST_CALL* ProcFn)(void*, long, abi::Variant*, long);
typedef bool(ZEL_HOST_CALL* FuncFn)(void*, long, abi::Variant*, abi::Variant*, long);
typedef void(ZEL_HOST_CALL* VoidOfName)(void*, const abi::Char*);
}  // namespace

bool Component::Init(bool withConnection) {
    void* connection = withConnection ? objects_->Connection() : nullptr;
    return Op<BoolOfPtr>(abi::kInitDoneBase, abi::init_done::Init, connection);
}

bool Component::SetMemManager(bool withManager) {
    void* manager = withManager ? objects_->MemoryManager() : nullptr;
    return Op<BoolOfPtr>(abi::kInitDoneBase, abi::init_done::setMemManager, manager);
}

long Component::GetInfo() { return Op<LongOf>(abi::kInitDoneBase, abi::init_done::GetInfo); }

void Component::Done() { Op<VoidOf>(abi::kInitDoneBase, abi::init_done::Done); }

bool Component::RegisterExtensionAs(std::u16string* name, bool* gotName) {
    abi::Char* block = nullptr;
    bool ok = Op<BoolOfNamePtr>(abi::kLanguageExtenderBase, abi::extender::RegisterExtensionAs, &block);
    if (gotName) *gotName = block != nullptr;
    std::u16string text = block ? objects_->TakeText(block, -1) : std::u16string();
    if (name) *name = text;
    return ok;
}

long Component::GetNProps() { return Op<LongOf>(abi::kLanguageExtenderBase, abi::extender::GetNProps); }

long Component::FindProp(const char16_t* name) {
    std::vector<abi::Char> chars;
    if (name) chars = ToChars(name);
    return Op<LongOfName>(abi::kLanguageExtenderBase, abi::extender::FindProp,
                    name ? chars.data() : nullptr);
}

bool Component::GetPropName(long num, long alias, std::u16string* name) {
    const abi::Char* text =
        Op<NameOfLongLong>(abi::kLanguageExtenderBase, abi::extender::GetPropName, num, alias);
    if (!text) return false;
    std::u16string taken = objects_->TakeText(text, -1);
    if (name) *name = taken;
    return true;
}

bool Component::GetPropVal(long num, Value* value) {
    abi::Variant v;
    std::memset(static_cast<void*>(&v), 0, sizeof(v));
    v.vt = abi::VT_NULL;
    bool ok = Op<BoolOfLongVariant>(abi::kLanguageExtenderBase, abi::extender::GetPropVal, num, &v);
    if (value) *value = Convert(v, {}, {});
    return ok;
}

bool Component::SetPropVal(long num, const Value& value) {
    std::vector<abi::Char> text = ToChars(value.text);
    abi::Variant v;
    std::memset(static_cast<void*>(&v), 0, sizeof(v));
    v.vt = value.type;
    if (value.type == abi::VT_BOOL) {
        v.byteVal = static_cast<uint8_t>(value.integer != 0 ? value.integer : value.boolean);
    } else if (value.type == abi::VT_PWSTR) {
        v.pwstrVal = text.data();
    } else {
        v.llVal = value.integer;
    }
    return Op<BoolOfLongVariant>(abi::kLanguageExtenderBase, abi::extender::SetPropVal, num, &v);
}

bool Component::IsPropReadable(long num) {
    return Op<BoolOfLong>(abi::kLanguageExtenderBase, abi::extender::IsPropReadable, num);
}

bool Component::IsPropWritable(long num) {
    return Op<BoolOfLong>(abi::kLanguageExtenderBase, abi::extender::IsPropWritable, num);
}

long Component::GetNMethods() { return Op<LongOf>(abi::kLanguageExtenderBase, abi::extender::GetNMethods); }

long Component::FindMethod(const char16_t* name) {
    std::vector<abi::Char> chars;
    if (name) chars = ToChars(name);
    return Op<LongOfName>(abi::kLanguageExtenderBase, abi::extender::FindMethod,
                    name ? chars.data() : nullptr);
}

bool Component::GetMethodName(long num, long alias, std::u16string* name) {
    const abi::Char* text =
        Op<NameOfLongLong>(abi::kLanguageExtenderBase, abi::extender::GetMethodName, num, alias);
    if (!text) return false;
    std::u16string taken = objects_->TakeText(text, -1);
    if (name) *name = taken;
    return true;
}

long Component::GetNParams(long num) {
    return Op<LongOfLong>(abi::kLanguageExtenderBase, abi::extender::GetNParams, num);
}

bool Component::GetParamDefValue(long method, long param, Value* value) {
    abi::Variant v;
    std::memset(static_cast<void*>(&v), 0, sizeof(v));
    v.vt = abi::VT_NULL;
    bool ok = Op<BoolOfLongLongVariant>(abi::kLanguageExtenderBase, abi::extender::GetParamDefValue, method,
                       param, &v);
    if (value) *value = Convert(v, {}, {});
    return ok;
}

bool Component::HasRetVal(long num) {
    return Op<BoolOfLong>(abi::kLanguageExtenderBase, abi::extender::HasRetVal, num);
}

bool Component::CallAsProc(long num, const std::vector<Value>& args) {
    return Invoke(num, args, CallOptions(), true).ok;
}

void Component::SetLocale(const char16_t* name) {
    std::vector<abi::Char> chars;
    if (name) chars = ToChars(name);
    Op<VoidOfName>(abi::kLocaleBase, abi::locale::SetLocale, name ? chars.data() : nullptr);
}

CallResult Component::Call(const std::u16string& method, const std::vector<Value>& args,
                           const CallOptions& options) {
    long number = FindMethod(method.c_str());
    if (number < 0) throw HostError("the driver has no method " + ToUtf8(method));
    return Invoke(number, args, options, false);
}

CallResult Component::CallNumber(long number, const std::vector<Value>& args, const CallOptions& options) {
    return Invoke(number, args, options, false);
}

CallResult Component::Invoke(long number, const std::vector<Value>& args, const CallOptions& options, bool proc) {
    // Argument storage that stays put while the component reads it.
    std::vector<std::vector<abi::Char>> texts(args.size());
    std::vector<std::string> ansis(args.size());
    std::vector<abi::Variant> vars(args.empty() ? 1 : args.size());
    std::memset(static_cast<void*>(vars.data()), 0, vars.size() * sizeof(abi::Variant));
    for (size_t i = 0; i < args.size(); ++i) {
        const Value& a = args[i];
        abi::Variant& v = vars[i];
        v.vt = a.type;
        switch (a.type) {
            case abi::VT_EMPTY:
            case abi::VT_NULL:
                break;
            case abi::VT_BOOL:
                // The byte as given, so a malformed boolean can be passed.
                v.byteVal = static_cast<uint8_t>(a.integer != 0 ? a.integer : a.boolean);
                break;
            case abi::VT_R8:
                v.dblVal = a.number;
                break;
            case abi::VT_PWSTR:
                if (!a.nullPointer) {
                    texts[i] = ToChars(a.text);
                    v.pwstrVal = texts[i].data();
                    abi::SetStringLength(v, static_cast<uint32_t>(a.text.size()));
                }
                break;
            case abi::VT_PSTR:
                if (!a.nullPointer) {
                    ansis[i] = a.ansi;
                    v.pstrVal = &ansis[i][0];
                    abi::SetStringLength(v, static_cast<uint32_t>(a.ansi.size()));
                }
                break;
            case abi::VT_I4:
                v.lVal = static_cast<int32_t>(a.integer);
                break;
            case abi::VT_UI4:
                v.ulVal = static_cast<uint32_t>(a.integer);
                break;
            default:
                v.llVal = a.integer;
                break;
        }
    }
    abi::Variant ret;
    std::memset(static_cast<void*>(&ret), 0, sizeof(ret));

    long count = options.count ? *options.count : static_cast<long>(args.size());
    abi::Variant* params = options.nullParams ? nullptr : vars.data();
    CallResult result;
    if (proc) {
        result.ok = Op<ProcFn>(abi::kLanguageExtenderBase, abi::extender::CallAsProc, number, params, count);
    } else {
        result.ok = Op<FuncFn>(abi::kLanguageExtenderBase, abi::extender::CallAsFunc, number,
                             options.nullRet ? nullptr : &ret, params, count);
    }
    result.ret = Convert(ret, texts, ansis);
    for (size_t i = 0; i < args.size(); ++i) result.params.push_back(Convert(vars[i], texts, ansis));
    return result;
}

Value Component::Convert(const abi::Variant& v, const std::vector<std::vector<abi::Char>>& texts,
                         const std::vector<std::string>& ansis) {
    Value out;
    out.type = v.vt;
    switch (v.vt) {
        case abi::VT_EMPTY:
        case abi::VT_NULL:
            break;
        case abi::VT_BOOL:
            out.boolean = v.byteVal != 0;
            out.integer = v.byteVal;
            break;
        case abi::VT_I4:
            out.integer = v.lVal;
            break;
        case abi::VT_UI4:
            out.integer = v.ulVal;
            break;
        case abi::VT_R8:
            out.number = v.dblVal;
            break;
        case abi::VT_PWSTR: {
            if (!v.pwstrVal) {
                out.nullPointer = true;
                break;
            }
            for (size_t i = 0; i < texts.size(); ++i) {
                if (!texts[i].empty() && v.pwstrVal == texts[i].data()) {
                    // One of the host's own arguments, left as it was.
                    for (size_t k = 0; k + 1 < texts[i].size(); ++k) out.text += static_cast<char16_t>(texts[i][k]);
                    return out;
                }
            }
            out.text = objects_->TakeText(v.pwstrVal, static_cast<long>(abi::StringLength(v)));
            break;
        }
        case abi::VT_PSTR:
            if (!v.pstrVal) {
                out.nullPointer = true;
                break;
            }
            for (const std::string& a : ansis) {
                if (v.pstrVal == a.data()) {
                    out.ansi = a;
                    return out;
                }
            }
            // The component never returns 8-bit texts; do not read it.
            objects_->CountBadString();
            break;
        default:
            out.integer = v.llVal;
            break;
    }
    return out;
}

bool Component::SetParameter(const std::u16string& name, const Value& value) {
    CallResult r = Call(u"SetParameter", {Value::Text(name), value});
    return r.ok;
}

std::u16string Component::Open() {
    CallResult r = Call(u"Open", {Value()});
    return r.params.empty() ? std::u16string() : r.params[0].text;
}

int32_t Component::LastError(std::u16string* text) {
    CallResult r = Call(u"GetLastError", {Value()});
    if (text) *text = r.params.empty() ? std::u16string() : r.params[0].text;
    return static_cast<int32_t>(r.ret.integer);
}

void Component::RefuseMemory(bool refuse) { objects_->Refuse(refuse); }
void Component::RefuseMemoryPattern(uint64_t bits) { objects_->RefusePattern(bits); }
uint64_t Component::AllocationCount() const { return objects_->allocations(); }
size_t Component::LiveBlocks() const { return objects_->LiveBlocks(); }
uint64_t Component::BadStrings() const { return objects_->badStrings(); }
uint64_t Component::OtherConnectionCalls() const { return objects_->otherCalls(); }
uint64_t Component::EventBufferDepthCalls() const { return objects_->depthCalls(); }
long Component::EventBufferDepth() const { return objects_->EventBufferDepth(); }
uint64_t Component::DroppedEvents() const { return objects_->droppedEvents(); }
void Component::RefuseEventBufferDepth(bool refuse) { objects_->RefuseEventBufferDepth(refuse); }
bool Component::WaitEvent(ExternalEvent* event, unsigned timeoutMs) { return objects_->WaitEvent(event, timeoutMs); }
size_t Component::PendingEvents() const { return objects_->PendingEvents(); }

}  // namespace host
}  // namespace zel
