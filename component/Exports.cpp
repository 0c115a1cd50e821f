// The library's four exported functions and its load/unload hooks.
#include <cstdint>
#include <new>

#include "component/AddInNative.h"
#include "transport/Process.h"

#if ZEL_WINDOWS
#define ZEL_EXPORT extern "C" __declspec(dllexport)
#else
#define ZEL_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

// The class-name list: one class.
const WCHAR_T kClassNames[] = {'C', 'A', 'd', 'd', 'I', 'n', 'N', 'a', 't', 'i', 'v', 'e', 0};

// Process-wide start and stop, once per load of the library.
struct LibraryLifetime {
    LibraryLifetime() { zel::LibraryLoaded(); }
    ~LibraryLifetime() { zel::LibraryUnloading(); }
} g_lifetime;

}  // namespace

ZEL_EXPORT const WCHAR_T* GetClassNames() { return kClassNames; }

ZEL_EXPORT long GetClassObject(const WCHAR_T* /*name*/, IComponentBase** iface) {
    if (!iface || *iface) return 0;
    CAddInNative* object = nullptr;
    try {
        object = new CAddInNative();
    } catch (...) {
        return 0;
    }
    *iface = object;
    // The address as a long; on targets where long is narrower than a
    // pointer only its being non-zero matters.
    long handle = static_cast<long>(reinterpret_cast<uintptr_t>(static_cast<IComponentBase*>(object)));
    return handle != 0 ? handle : 1;
}

ZEL_EXPORT long DestroyObject(IComponentBase** iface) {
    if (!iface || !*iface) return -1;
    // Objects handed out are always CAddInNative; on Windows the interfaces
    // have no virtual destructor, so delete through the concrete type.
    delete static_cast<CAddInNative*>(*iface);
    *iface = nullptr;
    return 0;
}

ZEL_EXPORT AppCapabilities SetPlatformCapabilities(const AppCapabilities /*capabilities*/) {
    return eAppCapabilities1;
}
