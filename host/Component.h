// The host layer: loads the driver library as the platform does, creates
// the component, hands it a memory manager and a connection, and calls its
// methods by name with converted arguments. Tests, the command-line tool and
// the benchmarks all go through it.
//
//   zel::host::Component c;                       // library from ZEL_LIBRARY
//   c.Call(u"SetParameter", {Value::Text(u"model"), Value::Int(20)});
//   auto open = c.Call(u"Open", {Value()});
//   auto weight = c.Call(u"GetWeight", {open.params[0], Value()});
//   double kg = weight.params[1].number;
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/Abi.h"

namespace zel {
namespace host {

class HostError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// UTF-16 <-> UTF-8 (malformed input becomes U+FFFD).
std::string ToUtf8(const std::u16string& text);
std::u16string FromUtf8(const std::string& text);

// Path of the driver library: $ZEL_LIBRARY, else a library beside the
// executable (by its packaged name for this architecture,
// ZelvatScalesNativeDriver_x64.so/.dll or _x86.dll, then by the plain name),
// else the one in the build tree this host was built in.
std::string DefaultLibraryPath();
// The file names looked for beside the executable, in that order.
std::vector<std::string> LibraryNamesBeside();
// A file in the folder of the default library (its settings.ini, log.txt,
// traffic logs).
std::string BesideLibrary(const std::string& name);

// A variant's content, owned by the host.
struct Value {
    uint16_t type = abi::VT_EMPTY;
    bool boolean = false;
    int64_t integer = 0;  // VT_I4 / VT_UI4 / other integer tags
    double number = 0.0;  // VT_R8
    std::u16string text;  // VT_PWSTR
    std::string ansi;     // VT_PSTR
    bool nullPointer = false;  // a text tag with a null pointer

    Value() = default;
    static Value Bool(bool b);
    static Value Int(int32_t i);
    static Value UInt(uint32_t u);
    static Value Double(double d);
    static Value Text(const std::u16string& t);
    static Value Ansi(const std::string& t);
    // Any tag with a raw 64-bit payload; for type-mismatch checks.
    static Value Tagged(uint16_t tag, int64_t payload);
    // A text tag (VT_PSTR or VT_PWSTR) whose pointer is null.
    static Value NullText(uint16_t tag);

    bool IsText() const { return type == abi::VT_PWSTR; }
    std::string Utf8() const { return ToUtf8(text); }
    // Short readable form, e.g. "R8 1.234" or "PWSTR \"OK\"".
    std::string Describe() const;
};

struct CallResult {
    bool ok = false;             // what CallAsFunc returned
    Value ret;                   // the return value after the call
    std::vector<Value> params;   // the parameter array after the call
};

struct CallOptions {
    bool nullParams = false;  // pass a null parameter array
    bool nullRet = false;     // pass a null return-value pointer
    std::optional<long> count;  // parameter count to pass; default: the number of arguments
};

struct ExternalEvent {
    std::u16string source, message, data;
};

class Library;
class HostObjects;

// The four entry points of a component already in this process (linked into
// the program, as the fuzzers link it); nothing is loaded.
struct EntryPoints {
    abi::GetClassNamesFn getClassNames = nullptr;
    abi::GetClassObjectFn getClassObject = nullptr;
    abi::DestroyObjectFn destroyObject = nullptr;
    abi::SetPlatformCapabilitiesFn setPlatformCapabilities = nullptr;
};

class Component {
public:
    struct Options {
        bool memoryManager = true;  // call setMemManager with the host's manager
        bool connection = true;     // call Init with the host's connection
        bool init = true;           // call Init at all
        bool refuseEventBufferDepth = false;  // the connection keeps its event queue's depth
    };

    explicit Component(const std::string& libraryPath);
    Component(const std::string& libraryPath, const Options& options);
    Component() : Component(DefaultLibraryPath()) {}
    // A component whose entry points are in this process.
    Component(const EntryPoints& entries, const Options& options);
    ~Component();  // DestroyObject
    Component(const Component&) = delete;
    Component& operator=(const Component&) = delete;

    // ---- Methods by name (FindMethod, then CallAsFunc) ----
    // Throws HostError when the name is not found.
    CallResult Call(const std::u16string& method, const std::vector<Value>& args = {},
                    const CallOptions& options = {});
    CallResult CallNumber(long number, const std::vector<Value>& args = {}, const CallOptions& options = {});

    // Shortcuts for the common steps.
    bool SetParameter(const std::u16string& name, const Value& value);
    std::u16string Open();                  // the new device ID
    int32_t LastError(std::u16string* text = nullptr);

    // ---- The interfaces, slot by slot ----
    bool Init(bool withConnection);
    bool SetMemManager(bool withManager);
    long GetInfo();
    void Done();
    // False when the component returned false; `name` gets the text when it
    // handed one back.
    bool RegisterExtensionAs(std::u16string* name, bool* gotName = nullptr);
    long GetNProps();
    long FindProp(const char16_t* name);
    // False when the component returned null.
    bool GetPropName(long num, long alias, std::u16string* name);
    bool GetPropVal(long num, Value* value);
    bool SetPropVal(long num, const Value& value);
    bool IsPropReadable(long num);
    bool IsPropWritable(long num);
    long GetNMethods();
    long FindMethod(const char16_t* name);
    bool GetMethodName(long num, long alias, std::u16string* name);
    long GetNParams(long num);
    bool GetParamDefValue(long method, long param, Value* value);
    bool HasRetVal(long num);
    bool CallAsProc(long num, const std::vector<Value>& args);
    void SetLocale(const char16_t* name);

    // ---- What the host objects saw ----
    // Makes the memory manager refuse (true) or grant (false) every request.
    void RefuseMemory(bool refuse);
    // Refuses some requests: request k counted from this call is refused
    // when bit k % 64 of `bits` is set (0: grant them all again).
    void RefuseMemoryPattern(uint64_t bits);
    uint64_t AllocationCount() const;
    // Blocks handed to the component and not yet taken back: after a call
    // every block must have come back as a result.
    size_t LiveBlocks() const;
    // Texts that were not exactly (characters + 1) * 2 bytes with a
    // terminator, or whose pointer did not come from the memory manager.
    uint64_t BadStrings() const;
    // Connection operations other than ExternalEvent and the event queue's
    // depth (SetEventBufferDepth, GetEventBufferDepth).
    uint64_t OtherConnectionCalls() const;
    // SetEventBufferDepth and GetEventBufferDepth calls.
    uint64_t EventBufferDepthCalls() const;

    // The platform's event queue, as the host models it: at most
    // EventBufferDepth() events (1 until the component sets more) wait for
    // the application; an ExternalEvent on a full queue is dropped and
    // refused. WaitEvent is the application taking the next one; a test
    // that does not call it plays an application busy with something else.
    bool WaitEvent(ExternalEvent* event, unsigned timeoutMs);
    size_t PendingEvents() const;
    long EventBufferDepth() const;
    // Events the full queue dropped (ExternalEvent returned false).
    uint64_t DroppedEvents() const;
    // Makes SetEventBufferDepth fail, as a platform that keeps its depth.
    void RefuseEventBufferDepth(bool refuse);

    Library& library() { return *library_; }

private:
    abi::Slot Slot(int iface, int op) const;
    template <class Fn, class... Args>
    auto Op(int iface, int op, Args... args);
    Value Convert(const abi::Variant& v, const std::vector<std::vector<abi::Char>>& texts,
                  const std::vector<std::string>& ansis);
    CallResult Invoke(long number, const std::vector<Value>& args, const CallOptions& options, bool proc);

    std::shared_ptr<Library> library_;
    std::unique_ptr<HostObjects> objects_;
    void* object_ = nullptr;
};

// The library file and its four entry points.
class Library {
public:
    explicit Library(const std::string& path);
    // Entry points already in this process; throws when one is missing.
    explicit Library(const EntryPoints& entries);
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    std::u16string ClassNames();
    long GetClassObject(const char16_t* name, void** iface);
    long DestroyObject(void** iface);
    int SetPlatformCapabilities(int capabilities);
    const std::string& path() const { return path_; }
    // The full path of the file the system loaded (path() when it cannot tell).
    const std::string& file() const { return file_; }

private:
    std::string path_;
    std::string file_;
    void* handle_ = nullptr;
    abi::GetClassNamesFn getClassNames_ = nullptr;
    abi::GetClassObjectFn getClassObject_ = nullptr;
    abi::DestroyObjectFn destroyObject_ = nullptr;
    abi::SetPlatformCapabilitiesFn setPlatformCapabilities_ = nullptr;
};

}  // namespace host
}  // namespace zel
