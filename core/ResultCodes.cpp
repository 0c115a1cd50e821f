#include "core/ResultCodes.h"

#include <cmath>

namespace zel {

const char16_t* ResultText(int32_t code) {
    switch (code) {
        case kOk:
            return u"OK";
        case kNoConnection:
            return u"Ошибка_1: Не возможно установить соединение. Убедитесь в правильности имени СОМ порта, "
                   u"возможно, он занят другим приложением.";
        case kPortError:
            return u"Ошибка_2: Ошибка СОМ-порта.";
        case kNoAnswer:
            return u"Ошибка_3: Нет ответа от весов.";
        case kBadPrice:
            return u"Ошибка_4: Ошибка в формате цены.";
        case kNotSupported:
            return u"Ошибка_5: Текущий тип весов не поддерживает этой команды.";
        case kOverload:
            return u"Ошибка_7: На весах ПЕРЕГРУЗ.";
        case kDeviceNotFound:
            return u"Ошибка_8: DeviceID не найден.";
        default:
            return u"UnknownError";
    }
}

}  // namespace zel

double ParseNumberText(const char* text) {
    if (!text) return 0.0;
    double integer = 0.0;
    double fraction = 0.0;
    double scale = 1.0;
    bool haveInteger = false;
    bool inFraction = false;
    bool negative = false;
    for (int i = 0; i < 50; ++i) {
        char c = text[i];
        if (c >= '0' && c <= '9') {
            if (inFraction) {
                fraction = fraction * 10.0 + (c - '0');
                scale *= 10.0;
            } else {
                integer = integer * 10.0 + (c - '0');
                haveInteger = true;
            }
        } else if (c == '.' || c == ',') {
            if (inFraction) break;
            inFraction = true;
        } else if (c == ' ' || c == '-') {
            if (haveInteger) break;
            if (c == '-') negative = true;
        } else {
            break;
        }
    }
    double value = integer;
    if (scale > 1.0) value += fraction / scale;
    return negative ? -value : value;
}
