// Declarations of the platform's add-in interface, as the platform lays them
// out in memory: vtable slot order, calling convention and the variant record.
// Nothing here is negotiated at run time, so every fact is pinned below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "platform/abi.h"

#if ZEL_WINDOWS
typedef wchar_t WCHAR_T;
#if ZEL_X86_32
#define ADDIN_API __stdcall
#else
#define ADDIN_API
#endif
#else
typedef uint16_t WCHAR_T;
#define ADDIN_API
#endif

static_assert(sizeof(WCHAR_T) == 2, "UTF-16 code units");

// A virtual destructor takes one vtable slot in the platform's Windows build
// (Microsoft ABI) and two in GCC/Clang (Itanium ABI). On Windows every
// interface therefore starts with exactly one placeholder slot that nobody
// calls; objects are deleted through their concrete type. On Linux the
// ordinary virtual destructor already gives the platform's layout.
#if ZEL_WINDOWS
#define ZEL_INTERFACE_HEAD(Name) \
    virtual void ADDIN_API AbiSlot0_() {}
#else
#define ZEL_INTERFACE_HEAD(Name) \
    virtual ~Name() {}
#endif

enum ENUMVAR {
    VTYPE_EMPTY = 0,
    VTYPE_NULL,
    VTYPE_I2,
    VTYPE_I4,
    VTYPE_R4,
    VTYPE_R8,
    VTYPE_DATE,
    VTYPE_TM,
    VTYPE_PSTR,
    VTYPE_INTERFACE,
    VTYPE_ERROR,
    VTYPE_BOOL,
    VTYPE_VARIANT,
    VTYPE_I1,
    VTYPE_UI1,
    VTYPE_UI2,
    VTYPE_UI4,
    VTYPE_I8,
    VTYPE_UI8,
    VTYPE_INT,
    VTYPE_UINT,
    VTYPE_HRESULT,
    VTYPE_PWSTR,
    VTYPE_BLOB,
    VTYPE_CLSID,
    VTYPE_VECTOR = 0x1000,
    VTYPE_ARRAY = 0x2000,
    VTYPE_BYREF = 0x4000,
    VTYPE_TYPEMASK = 0xFFF,
};
static_assert(VTYPE_UI4 == 16 && VTYPE_PWSTR == 22 && VTYPE_CLSID == 24, "type tags");

typedef uint16_t TYPEVAR;

struct ZelGuid {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};

struct tVariant {
    union {
        int8_t i8Val;
        int16_t shortVal;
        int32_t lVal;
        int intVal;
        unsigned int uintVal;
        int64_t llVal;
        uint8_t ui8Val;
        uint16_t ushortVal;
        uint32_t ulVal;
        uint64_t ullVal;
        int32_t errCode;
        long hRes;
        float fltVal;
        double dblVal;
        bool bVal;
        char chVal;
        wchar_t wchVal;
        double date;
        ZelGuid IDVal;
        tVariant* pvarVal;
        struct tm tmVal;
        struct {
            void* pInterfaceVal;
            ZelGuid InterfaceID;
        };
        struct {
            char* pstrVal;
            uint32_t strLen;
        };
        struct {
            WCHAR_T* pwstrVal;
            uint32_t wstrLen;
        };
    };
    uint32_t cbElements;
    TYPEVAR vt;
};

#if ZEL_WINDOWS
static_assert(sizeof(tVariant) == 48, "tVariant size on Windows");
static_assert(offsetof(tVariant, cbElements) == 40, "cbElements offset on Windows");
static_assert(offsetof(tVariant, vt) == 44, "vt offset on Windows");
#elif ZEL_LINUX_X86_64
static_assert(sizeof(tVariant) == 64, "tVariant size on 64-bit Linux");
static_assert(offsetof(tVariant, cbElements) == 56, "cbElements offset on 64-bit Linux");
static_assert(offsetof(tVariant, vt) == 60, "vt offset on 64-bit Linux");
#endif

enum AppCapabilities {
    eAppCapabilitiesInvalid = -1,
    eAppCapabilities1 = 1,
    eAppCapabilities2 = 2,
    eAppCapabilities3 = 3,
    eAppCapabilitiesLast = eAppCapabilities3,
};
static_assert(sizeof(AppCapabilities) == 4, "int-sized enum");

class IMemoryManager {
public:
    ZEL_INTERFACE_HEAD(IMemoryManager)
    virtual bool ADDIN_API AllocMemory(void** block, unsigned long bytes) = 0;
    virtual void ADDIN_API FreeMemory(void** block) = 0;
};

class IAddInDefBase {
public:
    ZEL_INTERFACE_HEAD(IAddInDefBase)
    virtual bool ADDIN_API AddError(unsigned short code, const WCHAR_T* source, const WCHAR_T* description,
                                    long scode) = 0;
    virtual bool ADDIN_API Read(WCHAR_T* name, tVariant* value, long* errorCode, WCHAR_T** errorText) = 0;
    virtual bool ADDIN_API Write(WCHAR_T* name, tVariant* value) = 0;
    virtual bool ADDIN_API RegisterProfileAs(WCHAR_T* name) = 0;
    virtual bool ADDIN_API SetEventBufferDepth(long depth) = 0;
    virtual long ADDIN_API GetEventBufferDepth() = 0;
    virtual bool ADDIN_API ExternalEvent(WCHAR_T* source, WCHAR_T* message, WCHAR_T* data) = 0;
    virtual void ADDIN_API CleanEventBuffer() = 0;
    virtual bool ADDIN_API SetStatusLine(WCHAR_T* text) = 0;
    virtual void ADDIN_API ResetStatusLine() = 0;
};

class IInitDoneBase {
public:
    ZEL_INTERFACE_HEAD(IInitDoneBase)
    virtual bool ADDIN_API Init(void* connection) = 0;
    virtual bool ADDIN_API setMemManager(void* memoryManager) = 0;
    virtual long ADDIN_API GetInfo() = 0;
    virtual void ADDIN_API Done() = 0;
};

class ILanguageExtenderBase {
public:
    ZEL_INTERFACE_HEAD(ILanguageExtenderBase)
    virtual bool ADDIN_API RegisterExtensionAs(WCHAR_T** name) = 0;
    virtual long ADDIN_API GetNProps() = 0;
    virtual long ADDIN_API FindProp(const WCHAR_T* name) = 0;
    virtual const WCHAR_T* ADDIN_API GetPropName(long num, long alias) = 0;
    virtual bool ADDIN_API GetPropVal(const long num, tVariant* value) = 0;
    virtual bool ADDIN_API SetPropVal(const long num, tVariant* value) = 0;
    virtual bool ADDIN_API IsPropReadable(const long num) = 0;
    virtual bool ADDIN_API IsPropWritable(const long num) = 0;
    virtual long ADDIN_API GetNMethods() = 0;
    virtual long ADDIN_API FindMethod(const WCHAR_T* name) = 0;
    virtual const WCHAR_T* ADDIN_API GetMethodName(const long num, const long alias) = 0;
    virtual long ADDIN_API GetNParams(const long num) = 0;
    virtual bool ADDIN_API GetParamDefValue(const long method, const long param, tVariant* value) = 0;
    virtual bool ADDIN_API HasRetVal(const long num) = 0;
    virtual bool ADDIN_API CallAsProc(const long num, tVariant* params, const long count) = 0;
    virtual bool ADDIN_API CallAsFunc(const long num, tVariant* ret, tVariant* params, const long count) = 0;
};

class LocaleBase {
public:
    ZEL_INTERFACE_HEAD(LocaleBase)
    virtual void ADDIN_API SetLocale(const WCHAR_T* locale) = 0;
};

// What the exported functions hand out: the three interfaces in this order,
// so the object starts with their three vtable pointers.
class IComponentBase : public IInitDoneBase, public ILanguageExtenderBase, public LocaleBase {
#if !ZEL_WINDOWS
public:
    ~IComponentBase() override {}
#endif
};
