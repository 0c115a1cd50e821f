#include "component/AddInNative.h"

#include <climits>
#include <cstring>
#include <new>
#include <vector>

#include "core/Text.h"
#include "platform/sys.h"
#include "transport/Log.h"

namespace {

const char16_t kExtensionName[] = u"ZelvatScalesDriver";

// The connection is the platform's object, laid out by the platform's
// compiler; the sanitizer's dynamic-type check cannot know its type.
#if defined(__GNUC__) || defined(__clang__)
__attribute__((no_sanitize("vptr")))
#endif
bool RaiseExternalEvent(IAddInDefBase* target, WCHAR_T* source, WCHAR_T* message, WCHAR_T* data) {
    return target->ExternalEvent(source, message, data);
}

// Deepens the platform's event queue to kEventBufferDepth (never makes it
// shallower). A platform that refuses keeps its depth: the listeners then
// offer a refused reading again (and log it) rather than lose it.
#if defined(__GNUC__) || defined(__clang__)
__attribute__((no_sanitize("vptr")))
#endif
void PrepareEventBuffer(IAddInDefBase* target) {
    const long depth = target->GetEventBufferDepth();
    if (depth >= kEventBufferDepth) return;
    if (target->SetEventBufferDepth(kEventBufferDepth)) {
        zel::LogWrite(zel::kLogInfo, "event queue depth %ld -> %ld", depth, kEventBufferDepth);
    } else {
        zel::LogWrite(zel::kLogWarn, "event queue depth %ld: the platform refused %ld", depth, kEventBufferDepth);
    }
}

// A text as the platform's character type, with its terminator.
std::vector<WCHAR_T> PlatformText(const char16_t* text) {
    std::vector<WCHAR_T> out;
    for (const char16_t* p = text; p && *p; ++p) out.push_back(static_cast<WCHAR_T>(*p));
    out.push_back(0);
    return out;
}

}  // namespace

bool CPlatformEvents::ExternalEvent(const char16_t* source, const char16_t* message, const char16_t* data) {
    IAddInDefBase* target = target_.load();
    if (!target) return false;
    std::vector<WCHAR_T> s = PlatformText(source), m = PlatformText(message), d = PlatformText(data);
    return RaiseExternalEvent(target, s.data(), m.data(), d.data());
}

CAddInNative::CAddInNative() : connection(nullptr), memoryManager(nullptr) {}

CAddInNative::~CAddInNative() {
    try {
        manager.CloseAllDevices();
    } catch (...) {
    }
}

// ---- IInitDoneBase --------------------------------------------------------

bool ADDIN_API CAddInNative::Init(void* newConnection) {
    connection = static_cast<IAddInDefBase*>(newConnection);
    events.Set(connection);
    manager.connection = connection ? &events : nullptr;
    try {
        // Before LoadSettings starts the configured devices' listeners.
        if (connection) PrepareEventBuffer(connection);
        manager.LoadSettings();
    } catch (...) {
    }
    return newConnection != nullptr;
}

bool ADDIN_API CAddInNative::setMemManager(void* newManager) {
    memoryManager = static_cast<IMemoryManager*>(newManager);
    return newManager != nullptr;
}

long ADDIN_API CAddInNative::GetInfo() { return kInterfaceRevision; }

void ADDIN_API CAddInNative::Done() {}

// ---- Texts for the platform -----------------------------------------------

// The memory manager is the platform's object, laid out by the platform's
// compiler; the sanitizer's dynamic-type check cannot know its type.
#if defined(__GNUC__) || defined(__clang__)
#define ZEL_PLATFORM_OBJECT_CALL __attribute__((no_sanitize("vptr")))
#else
#define ZEL_PLATFORM_OBJECT_CALL
#endif

ZEL_PLATFORM_OBJECT_CALL WCHAR_T* CAddInNative::AllocText(const char16_t* text, size_t length) {
    if (!memoryManager || !text) return nullptr;
    if (length >= ULONG_MAX / sizeof(WCHAR_T)) return nullptr;
    void* block = nullptr;
    unsigned long bytes = static_cast<unsigned long>((length + 1) * sizeof(WCHAR_T));
    if (!memoryManager->AllocMemory(&block, bytes) || !block) return nullptr;
    WCHAR_T* out = static_cast<WCHAR_T*>(block);
    for (size_t i = 0; i < length; ++i) out[i] = static_cast<WCHAR_T>(text[i]);
    out[length] = 0;
    return out;
}

bool CAddInNative::SetStringResult(const char16_t* text, tVariant* target) {
    if (!text || !target) return false;
    size_t length = zel::WideLength(text);
    WCHAR_T* block = AllocText(text, length);
    std::memset(static_cast<void*>(target), 0, sizeof(*target));
    if (!block) {
        target->vt = VTYPE_EMPTY;
        return false;
    }
    target->vt = VTYPE_PWSTR;
    target->pwstrVal = block;
    target->wstrLen = static_cast<uint32_t>(length);
    return true;
}

// ---- ILanguageExtenderBase: extension name and the property ----------------

bool ADDIN_API CAddInNative::RegisterExtensionAs(WCHAR_T** name) {
    if (!memoryManager || !name) return false;
    try {
        WCHAR_T* block = AllocText(kExtensionName, sizeof(kExtensionName) / sizeof(char16_t) - 1);
        if (block) *name = block;
    } catch (...) {
    }
    return true;
}

long ADDIN_API CAddInNative::GetNProps() { return 1; }

long ADDIN_API CAddInNative::FindProp(const WCHAR_T* name) {
    if (!name) return -1;
    return name[0] == 0 ? 0 : -1;
}

const WCHAR_T* ADDIN_API CAddInNative::GetPropName(long num, long) {
    if (num != 0) return nullptr;
    try {
        return AllocText(u"", 0);
    } catch (...) {
        return nullptr;
    }
}

bool ADDIN_API CAddInNative::GetPropVal(const long num, tVariant* value) {
    if (num != 0 || !value) return false;
    std::memset(static_cast<void*>(value), 0, sizeof(*value));
    value->vt = VTYPE_BOOL;
    value->bVal = false;
    return true;
}

bool ADDIN_API CAddInNative::SetPropVal(const long num, tVariant* value) {
    return num == 0 && value && value->vt == VTYPE_BOOL;
}

bool ADDIN_API CAddInNative::IsPropReadable(const long num) { return num == 0; }

bool ADDIN_API CAddInNative::IsPropWritable(const long) { return false; }

// ---- LocaleBase -----------------------------------------------------------

void ADDIN_API CAddInNative::SetLocale(const WCHAR_T* locale) {
    if (!locale) return;
    try {
        std::u16string name;
        for (size_t i = 0; locale[i] && i < 256; ++i) name += static_cast<char16_t>(locale[i]);
        // The process-wide C locale belongs to the host; only the decimal
        // separator of the driver's own formatting follows the platform.
        char separator = '.';
        if (platform::LocaleDecimalSeparator(platform::WideToAnsi(name.data(), name.size()), &separator))
            zel::SetDecimalSeparator(separator);
    } catch (...) {
    }
}
