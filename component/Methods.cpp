// The driver's methods as the platform sees them: names in two languages,
// parameter counts, and the dispatch of each call to the driver core.
#include <cstring>
#include <new>

#include "component/AddInNative.h"
#include "core/ResultCodes.h"
#include "core/Text.h"
#include "platform/sys.h"
#include "scales/IScalesObject.h"

namespace {

enum Method : long {
    kGetVersion,
    kGetDescription,
    kGetLastError,
    kGetParameters,
    kSetParameter,
    kOpen,
    kClose,
    kDeviceTest,
    kGetAdditionalActions,
    kDoAdditionalAction,
    kCalibrate,
    kGetWeight,
    kSetPrice,
    kGetWeightPriceCost,
    kMethodCount
};

struct MethodInfo {
    const char16_t* english;
    const char16_t* russian;
    long params;
};

const MethodInfo kMethods[kMethodCount] = {
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

const char16_t kVersion[] = u"4.3.25 (05.03.2020)";
const char16_t kDriverName[] = u"ZelvatScalesDriver";
const char16_t kDescription[] =
    u"Драйвер электронных весов для простого взвешивания (NativeAPI). Разработчик zelscales.example";
const char16_t kEquipmentType[] = u"ЭлектронныеВесы";

bool SameName(const WCHAR_T* a, const char16_t* b) {
    size_t i = 0;
    for (; a[i] && b[i]; ++i) {
        if (static_cast<char16_t>(a[i]) != b[i]) return false;
    }
    return a[i] == 0 && b[i] == 0;
}

bool InTable(long num) { return num >= 0 && num < kMethodCount; }

void Clear(tVariant* v) { std::memset(static_cast<void*>(v), 0, sizeof(*v)); }

void SetBool(tVariant* v, bool value) {
    if (!v) return;
    Clear(v);
    v->vt = VTYPE_BOOL;
    v->bVal = value;
}

void SetDouble(tVariant* v, double value) {
    if (!v) return;
    Clear(v);
    v->vt = VTYPE_R8;
    v->dblVal = value;
}

void SetInt(tVariant* v, int32_t value) {
    if (!v) return;
    Clear(v);
    v->vt = VTYPE_I4;
    v->lVal = value;
}

void SetUInt(tVariant* v, uint32_t value) {
    if (!v) return;
    Clear(v);
    v->vt = VTYPE_UI4;
    v->ulVal = value;
}

// A number from the platform as a 32-bit integer: whole numbers arrive as
// VTYPE_I4, others as VTYPE_R8 (cut toward zero); any other tag is read
// through its 32-bit payload.
int32_t IntegerOf(const tVariant* v) {
    if (v->vt == VTYPE_R8) return zel::TruncToInt32(v->dblVal);
    return v->lVal;
}

// A price in hundredths. A Number that is negative, not a number or beyond
// the 32-bit range is a bad price rather than some other price.
bool PriceOf(const tVariant* v, int32_t* price) {
    if (v->vt == VTYPE_R8 && !(v->dblVal >= 0.0 && v->dblVal < 2147483648.0)) return false;
    *price = IntegerOf(v);
    return *price >= 0;
}

// Weight coefficient text: trimmed, digits and separators up to the first
// other character, ',' read as '.', a trailing '.' dropped. 1.0 when no
// number is left.
double CoefficientOf(const std::u16string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && (text[begin] == u' ' || text[begin] == u'\t')) ++begin;
    while (end > begin && (text[end - 1] == u' ' || text[end - 1] == u'\t')) --end;
    std::string copy;
    for (size_t i = begin; i < end; ++i) {
        char16_t c = text[i];
        if (c >= u'0' && c <= u'9') {
            copy += static_cast<char>(c);
        } else if (c == u'.' || c == u',') {
            copy += '.';
        } else {
            break;
        }
    }
    if (!copy.empty() && copy.back() == '.') copy.pop_back();
    if (copy.empty()) return 1.0;
    return ParseNumberText(copy.c_str());
}

std::u16string Widen(const std::string& ascii) {
    std::u16string out;
    for (char c : ascii) out += static_cast<char16_t>(static_cast<unsigned char>(c));
    return out;
}

}  // namespace

tVariant* CAddInNative::Param(tVariant* params, long count, long i) {
    return params && i >= 0 && i < count ? &params[i] : nullptr;
}

bool CAddInNative::VariantToText(const tVariant* value, std::u16string& text) {
    if (!value) return false;
    text.clear();
    if (value->vt == VTYPE_PSTR) {
        if (value->pstrVal) text = platform::AnsiToWide(value->pstrVal);
        return true;
    }
    if (value->vt == VTYPE_PWSTR) {
        const WCHAR_T* p = value->pwstrVal;
        if (!p) return true;
        // wstrLen counts the characters; a terminator before it ends the text.
        for (uint32_t i = 0; i < value->wstrLen && p[i]; ++i) text += static_cast<char16_t>(p[i]);
        return true;
    }
    return false;
}

bool CAddInNative::DeviceIdArgument(tVariant* params, long count, std::string& id) {
    std::u16string text;
    if (!VariantToText(Param(params, count, 0), text)) return false;
    id = zel::WideTo1251(text.data(), text.size());
    return true;
}

// ---- Method table ---------------------------------------------------------

long ADDIN_API CAddInNative::GetNMethods() { return kMethodCount; }

long ADDIN_API CAddInNative::FindMethod(const WCHAR_T* name) {
    if (!name) return -1;
    for (long i = 0; i < kMethodCount; ++i)
        if (SameName(name, kMethods[i].english)) return i;
    for (long i = 0; i < kMethodCount; ++i)
        if (SameName(name, kMethods[i].russian)) return i;
    return -1;
}

const WCHAR_T* ADDIN_API CAddInNative::GetMethodName(const long num, const long alias) {
    if (!InTable(num)) return nullptr;
    const char16_t* name = alias == 0 ? kMethods[num].english : alias == 1 ? kMethods[num].russian : nullptr;
    if (!name) return nullptr;
    try {
        return AllocText(name, zel::WideLength(name));
    } catch (...) {
        return nullptr;
    }
}

long ADDIN_API CAddInNative::GetNParams(const long num) { return InTable(num) ? kMethods[num].params : 0; }

bool ADDIN_API CAddInNative::GetParamDefValue(const long, const long, tVariant* value) {
    if (value) {
        Clear(value);
        value->vt = VTYPE_EMPTY;
    }
    return false;
}

bool ADDIN_API CAddInNative::HasRetVal(const long num) { return InTable(num); }

bool ADDIN_API CAddInNative::CallAsProc(const long, tVariant*, const long) { return false; }

bool ADDIN_API CAddInNative::CallAsFunc(const long num, tVariant* ret, tVariant* params, const long count) {
    // Nothing may escape into the platform's frames.
    try {
        return Dispatch(num, ret, params, count < 0 ? 0 : count);
    } catch (...) {
        return false;
    }
}

// ---- The methods ----------------------------------------------------------

bool CAddInNative::Dispatch(long num, tVariant* ret, tVariant* params, long count) {
    switch (num) {
        case kGetVersion:
            // The version text is the whole answer: without it the call fails.
            return ret && SetStringResult(kVersion, ret);

        case kGetDescription: {
            SetStringResult(kDriverName, Param(params, count, 0));
            SetStringResult(kDescription, Param(params, count, 1));
            SetStringResult(kEquipmentType, Param(params, count, 2));
            SetUInt(Param(params, count, 3), kInterfaceRevision);
            SetBool(Param(params, count, 4), false);
            SetBool(Param(params, count, 5), true);
            SetStringResult(u"", Param(params, count, 6));
            SetBool(ret, true);
            return true;
        }

        case kGetLastError:
            SetStringResult(manager.ResultText(), Param(params, count, 0));
            SetUInt(ret, static_cast<uint32_t>(manager.lastResult));
            return true;

        case kGetParameters:
            SetStringResult(ParameterSchema(), Param(params, count, 0));
            SetBool(ret, true);
            return true;

        case kSetParameter:
            if (!SetParameter(params, count)) return false;
            SetBool(ret, true);
            return true;

        case kOpen: {
            std::string id;
            manager.OpenDevice(id);
            SetStringResult(Widen(id), Param(params, count, 0));
            SetBool(ret, true);
            return true;
        }

        case kClose: {
            std::string id;
            if (!DeviceIdArgument(params, count, id)) return false;
            manager.CloseDevice(id.c_str());
            SetBool(ret, true);
            return true;
        }

        case kDeviceTest:
            DeviceTest(params, count);
            SetBool(ret, true);
            return true;

        case kGetAdditionalActions:
        case kDoAdditionalAction:
            SetBool(ret, true);
            return true;

        case kCalibrate: {
            std::string id;
            if (!DeviceIdArgument(params, count, id)) return false;
            IScalesObject* device = manager.FindDevice(id.c_str());
            manager.lastResult = device ? device->Tare(0.0) : zel::kDeviceNotFound;
            SetBool(ret, manager.lastResult == zel::kOk);
            return true;
        }

        case kGetWeight:
            return ReadWeight(ret, params, count, false);

        case kSetPrice: {
            std::string id;
            if (!DeviceIdArgument(params, count, id)) return false;
            tVariant* value = Param(params, count, 1);
            if (!value) return false;  // no price given at all
            int32_t price = 0;
            if (!PriceOf(value, &price)) {
                manager.lastResult = zel::kBadPrice;
            } else {
                IScalesObject* device = manager.FindDevice(id.c_str());
                manager.lastResult = device ? device->SendPrice(price) : zel::kDeviceNotFound;
            }
            SetBool(ret, manager.lastResult == zel::kOk);
            return true;
        }

        case kGetWeightPriceCost:
            return ReadWeight(ret, params, count, true);

        default:
            return false;
    }
}

bool CAddInNative::SetParameter(tVariant* params, long count) {
    std::u16string name;
    if (!VariantToText(Param(params, count, 0), name)) return false;
    const tVariant* value = Param(params, count, 1);

    int32_t* number = name == u"model"       ? &manager.model
                      : name == u"conntype"  ? &manager.connType
                      : name == u"cbaudrate" ? &manager.baudRate
                      : name == u"eport"     ? &manager.tcpPort
                                             : nullptr;
    if (number) {
        if (!value) return false;
        *number = IntegerOf(value);
        return true;
    }
    if (name == u"conleave") {
        if (!value) return false;
        // A Number is read by value, as for the other number keys (the first
        // byte of 1.0 is 0); otherwise the boolean's byte, read as a byte so a
        // foreign tag cannot give an invalid bool.
        if (value->vt == VTYPE_R8)
            manager.leaveConnect = IntegerOf(value) != 0 ? 1 : 0;
        else
            manager.leaveConnect = value->ui8Val != 0 ? 1 : 0;
        return true;
    }
    std::u16string* text = name == u"cport" ? &manager.comPortName : name == u"ehost" ? &manager.host : nullptr;
    if (text || name == u"coeff") {
        std::u16string valueText;
        if (!VariantToText(value, valueText)) return false;
        if (text)
            *text = valueText;
        else
            manager.coeff = CoefficientOf(valueText);
        return true;
    }
    return true;  // unknown keys are accepted and ignored
}

void CAddInNative::DeviceTest(tVariant* params, long count) {
    std::string id;
    manager.OpenDevice(id);
    double weight = 0.0, price = 0.0, cost = 0.0;
    int32_t stable = 0;
    manager.ReadDeviceWeight(id.c_str(), weight, price, cost, stable);
    std::u16string text;
    if (manager.lastResult == zel::kOk)
        text = u"Вес: " + Widen(zel::FormatFixed(weight, 6, 3)) + u"; ";
    else
        text = manager.ResultText();
    manager.CloseDevice(id.c_str());
    SetStringResult(text, Param(params, count, 0));
}

bool CAddInNative::ReadWeight(tVariant* ret, tVariant* params, long count, bool withPriceAndCost) {
    std::string id;
    if (!DeviceIdArgument(params, count, id)) return false;
    double weight = 0.0, price = 0.0, cost = 0.0;
    int32_t stable = 0;
    int32_t result = manager.ReadDeviceWeight(id.c_str(), weight, price, cost, stable);
    SetDouble(Param(params, count, 1), weight);
    if (withPriceAndCost) {
        SetDouble(Param(params, count, 2), price);
        SetDouble(Param(params, count, 3), cost);
        SetInt(Param(params, count, 4), stable);
    }
    SetBool(ret, result == zel::kOk);
    return true;
}
