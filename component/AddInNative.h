// The component object the platform creates: three platform interfaces, the
// driver core, and the conversions between the platform's variants and the
// driver's texts and numbers.
#pragma once

#include <atomic>
#include <string>

#include "component/native_api.h"
#include "devices/ScalesManager.h"
#include "scales/IScalesObject.h"

// Depth the component asks of the platform's event queue. The platform's
// queue starts at 1 and refuses events while it is full, so a second key
// press while the application is still busy with the first would be lost;
// this holds a burst of presses from every listener of the component.
const long kEventBufferDepth = 64;

// The revision of the add-in interface the component implements (GetInfo,
// and the equipment interface's description).
const uint32_t kInterfaceRevision = 2001;

// The platform's connection as the target of the listeners' readings. The
// listener threads read it while the platform's thread may replace it (Init).
class CPlatformEvents final : public zel::IPlatformEvents {
public:
    void Set(IAddInDefBase* connection) { target_.store(connection); }
    // What the platform's ExternalEvent returned; false without a connection.
    bool ExternalEvent(const char16_t* source, const char16_t* message, const char16_t* data) override;

private:
    std::atomic<IAddInDefBase*> target_{nullptr};
};

class CAddInNative final : public IComponentBase {
public:
    CAddInNative();
#if ZEL_WINDOWS
    ~CAddInNative();
#else
    ~CAddInNative() override;
#endif
    CAddInNative(const CAddInNative&) = delete;
    CAddInNative& operator=(const CAddInNative&) = delete;

    // IInitDoneBase
    bool ADDIN_API Init(void* connection) override;
    bool ADDIN_API setMemManager(void* memoryManager) override;
    long ADDIN_API GetInfo() override;
    void ADDIN_API Done() override;

    // ILanguageExtenderBase
    bool ADDIN_API RegisterExtensionAs(WCHAR_T** name) override;
    long ADDIN_API GetNProps() override;
    long ADDIN_API FindProp(const WCHAR_T* name) override;
    const WCHAR_T* ADDIN_API GetPropName(long num, long alias) override;
    bool ADDIN_API GetPropVal(const long num, tVariant* value) override;
    bool ADDIN_API SetPropVal(const long num, tVariant* value) override;
    bool ADDIN_API IsPropReadable(const long num) override;
    bool ADDIN_API IsPropWritable(const long num) override;
    long ADDIN_API GetNMethods() override;
    long ADDIN_API FindMethod(const WCHAR_T* name) override;
    const WCHAR_T* ADDIN_API GetMethodName(const long num, const long alias) override;
    long ADDIN_API GetNParams(const long num) override;
    bool ADDIN_API GetParamDefValue(const long method, const long param, tVariant* value) override;
    bool ADDIN_API HasRetVal(const long num) override;
    bool ADDIN_API CallAsProc(const long num, tVariant* params, const long count) override;
    bool ADDIN_API CallAsFunc(const long num, tVariant* ret, tVariant* params, const long count) override;

    // LocaleBase
    void ADDIN_API SetLocale(const WCHAR_T* locale) override;

private:
    // The call itself, without the exception barrier of CallAsFunc.
    bool Dispatch(long num, tVariant* ret, tVariant* params, long count);

    // Out-parameter i, or null when the platform passed fewer (or none).
    static tVariant* Param(tVariant* params, long count, long i);
    // Platform text of a variant: VTYPE_PSTR (ANSI) or VTYPE_PWSTR; false
    // for any other type.
    static bool VariantToText(const tVariant* value, std::u16string& text);
    // Device ID for the driver core: the first argument as windows-1251.
    static bool DeviceIdArgument(tVariant* params, long count, std::string& id);

    // A block from the platform's memory manager holding the text and its
    // terminator; null without a manager or when the manager refuses.
    WCHAR_T* AllocText(const char16_t* text, size_t length);
    // Writes a VTYPE_PWSTR into target. A null text fails and leaves the
    // target alone; a refused block leaves the target VTYPE_EMPTY and fails.
    bool SetStringResult(const char16_t* text, tVariant* target);
    bool SetStringResult(const std::u16string& text, tVariant* target) {
        return SetStringResult(text.c_str(), target);
    }

    bool SetParameter(tVariant* params, long count);
    void DeviceTest(tVariant* params, long count);
    bool ReadWeight(tVariant* ret, tVariant* params, long count, bool withPriceAndCost);

    IAddInDefBase* connection;
    IMemoryManager* memoryManager;
    CPlatformEvents events;  // declared before the manager: outlives its listeners
    CScalesManager manager;
};

// The parameter form's XML as UTF-16 (component/Schema.cpp).
std::u16string ParameterSchema();
