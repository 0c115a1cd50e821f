// The driver's component linked into the fuzzer itself: the host layer calls
// these entry points as it would call the loaded library's, so the component
// code is instrumented and in the fuzzer's coverage.
#pragma once

#include "component/native_api.h"
#include "host/Component.h"

extern "C" {
const WCHAR_T* GetClassNames();
long GetClassObject(const WCHAR_T* name, IComponentBase** iface);
long DestroyObject(IComponentBase** iface);
AppCapabilities SetPlatformCapabilities(const AppCapabilities capabilities);
}

namespace zelfuzz {

// Thunks with the host's own types, so the calls through the host's
// pointers reach a function of exactly that type.
inline const zel::host::abi::Char* ClassNamesThunk() {
    return reinterpret_cast<const zel::host::abi::Char*>(GetClassNames());
}
inline long ClassObjectThunk(const zel::host::abi::Char* name, void** iface) {
    return GetClassObject(reinterpret_cast<const WCHAR_T*>(name), reinterpret_cast<IComponentBase**>(iface));
}
inline long DestroyObjectThunk(void** iface) { return DestroyObject(reinterpret_cast<IComponentBase**>(iface)); }
inline int CapabilitiesThunk(int capabilities) {
    return SetPlatformCapabilities(static_cast<AppCapabilities>(capabilities));
}

inline zel::host::EntryPoints InProcess() {
    zel::host::EntryPoints e;
    e.getClassNames = &ClassNamesThunk;
    e.getClassObject = &ClassObjectThunk;
    e.destroyObject = &DestroyObjectThunk;
    e.setPlatformCapabilities = &CapabilitiesThunk;
    return e;
}

// Reads an input front to back; zeros once it is used up.
class Input {
public:
    Input(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
    bool Empty() const { return p_ >= end_; }
    uint8_t U8() { return p_ < end_ ? *p_++ : 0; }
    uint16_t U16() { return static_cast<uint16_t>(U8() | (U8() << 8)); }
    uint32_t U32() { return static_cast<uint32_t>(U16()) | (static_cast<uint32_t>(U16()) << 16); }
    uint64_t U64() { return static_cast<uint64_t>(U32()) | (static_cast<uint64_t>(U32()) << 32); }
    std::string Bytes(size_t n) {
        std::string out;
        while (n-- > 0 && p_ < end_) out += static_cast<char>(*p_++);
        return out;
    }

private:
    const uint8_t* p_;
    const uint8_t* end_;
};

}  // namespace zelfuzz
