// The host's own view of the add-in binary interface: the variant record,
// the vtable slot numbers and the calling convention, as the platform
// compiled them. The host calls the component only through this view, never
// through the component's C++ declarations, so a shifted slot or a changed
// record in the component shows up as a failing call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>

namespace zel {
namespace host {
namespace abi {

#if defined(_WIN32)
// Microsoft C++ ABI: one slot for a virtual destructor.
const int kDestructorSlots = 1;
#if defined(__i386__) || defined(_M_IX86)
#define ZEL_HOST_CALL __stdcall
#else
#define ZEL_HOST_CALL
#endif
#else
// Itanium C++ ABI: complete-object and deleting destructor.
const int kDestructorSlots = 2;
#define ZEL_HOST_CALL
#endif

// UTF-16 code unit as it crosses the boundary.
typedef uint16_t Char;

// Type tags.
enum : uint16_t {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_DATE = 6,
    VT_TM = 7,
    VT_PSTR = 8,
    VT_INTERFACE = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_I1 = 13,
    VT_UI1 = 14,
    VT_UI2 = 15,
    VT_UI4 = 16,
    VT_I8 = 17,
    VT_UI8 = 18,
    VT_INT = 19,
    VT_UINT = 20,
    VT_HRESULT = 21,
    VT_PWSTR = 22,
    VT_BLOB = 23,
    VT_CLSID = 24,
    VT_BYREF = 0x4000,
};

// The value part is as large as its largest member: a struct tm, or a
// pointer followed by a 16-byte GUID.
constexpr size_t RoundUp8(size_t n) { return (n + 7) / 8 * 8; }
constexpr size_t kValueBytes =
    RoundUp8(sizeof(struct tm) > sizeof(void*) + 16 ? sizeof(struct tm) : sizeof(void*) + 16);

struct Variant {
    union {
        int32_t lVal;
        uint32_t ulVal;
        int64_t llVal;
        uint8_t byteVal;
        double dblVal;
        bool bVal;
        char* pstrVal;
        Char* pwstrVal;
        void* pointer;
        unsigned char bytes[kValueBytes];
    };
    uint32_t cbElements;
    uint16_t vt;
};

// Layout of strings inside the value: pointer, then the 32-bit length.
const size_t kLengthOffset = sizeof(void*);

#if defined(_WIN32)
static_assert(sizeof(Variant) == 48, "variant record on Windows");
static_assert(offsetof(Variant, cbElements) == 40, "cbElements on Windows");
static_assert(offsetof(Variant, vt) == 44, "vt on Windows");
#elif defined(__linux__) && defined(__x86_64__)
static_assert(sizeof(Variant) == 64, "variant record on 64-bit Linux");
static_assert(offsetof(Variant, cbElements) == 56, "cbElements on 64-bit Linux");
static_assert(offsetof(Variant, vt) == 60, "vt on 64-bit Linux");
#endif

inline uint32_t StringLength(const Variant& v) {
    uint32_t n;
    std::memcpy(&n, v.bytes + kLengthOffset, sizeof(n));
    return n;
}
inline void SetStringLength(Variant& v, uint32_t n) { std::memcpy(v.bytes + kLengthOffset, &n, sizeof(n)); }

// Generic vtable entry.
typedef void (*Slot)();

// Operation numbers after the destructor slot(s), per interface.
namespace init_done {
enum { Init, setMemManager, GetInfo, Done };
}
namespace extender {
enum {
    RegisterExtensionAs,
    GetNProps,
    FindProp,
    GetPropName,
    GetPropVal,
    SetPropVal,
    IsPropReadable,
    IsPropWritable,
    GetNMethods,
    FindMethod,
    GetMethodName,
    GetNParams,
    GetParamDefValue,
    HasRetVal,
    CallAsProc,
    CallAsFunc
};
}
namespace locale {
enum { SetLocale };
}
// Interface pointers inside the component object, in pointer-size steps.
enum { kInitDoneBase = 0, kLanguageExtenderBase = 1, kLocaleBase = 2 };

// Host objects, as the component calls them.
namespace memory {
enum { AllocMemory, FreeMemory, kCount };
}
namespace connection {
enum {
    AddError,
    Read,
    Write,
    RegisterProfileAs,
    SetEventBufferDepth,
    GetEventBufferDepth,
    ExternalEvent,
    CleanEventBuffer,
    SetStatusLine,
    ResetStatusLine,
    kCount
};
}

// The component's entry points (C calling convention).
typedef const Char* (*GetClassNamesFn)();
typedef long (*GetClassObjectFn)(const Char* name, void** iface);
typedef long (*DestroyObjectFn)(void** iface);
typedef int (*SetPlatformCapabilitiesFn)(int capabilities);

}  // namespace abi
}  // namespace host
}  // namespace zel
