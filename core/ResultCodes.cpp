#include "core/ResultCodes.h"

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
