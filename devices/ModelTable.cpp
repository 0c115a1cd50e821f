#include "devices/ModelTable.h"

#include <type_traits>
#include <utility>

#include "core/ResultCodes.h"
#include "scales/AsciiIndicators.h"
#include "scales/Cas.h"
#include "scales/Continuous.h"
#include "scales/Indicators.h"
#include "scales/MassaK.h"
#include "scales/Mirvesov.h"
#include "scales/Modbus.h"
#include "scales/PriceComputing.h"
#include "scales/Prompribor.h"
#include "scales/ScalesEmulyator.h"
#include "scales/listener/EventProtocolScale.h"
#include "scales/listener/Vn220Events.h"
#include "scales/listener/VnaCiEvents.h"
#include "scales/listener/Vta60Events.h"

namespace zel {
namespace devices {

namespace {

// A model's own class, made from the row's binding where it takes one.
template <class T>
IScalesObject* Make(const exchange::PolledBinding& binding) {
    if constexpr (std::is_constructible<T, const exchange::PolledBinding&>::value)
        return new T(binding);
    else
        return new T();
}

// One row per model. A polled row binds its protocol and the commands its
// object sends; an event-driven row binds its description. Members left out
// take ModelInfo's defaults.
const ModelInfo kModels[] = {
    {.number = 0, .className = "CScalesVTA5", .caption = "0:  ВТА-60 (Промприбор)",
     .kind = ModelKind::kPolled, .line = LineVariant::k8E1, .unit = "g", .toKilograms = 0.001,
     .frameCheck = FrameCheck::kStructure, .money = Money::kHundredths,
     .protocol = &prompribor::kVtaProtocol, .tare = &prompribor::kVtaTare, .price = &prompribor::kVtaPrice},
    {.number = 1, .className = "ScalesVN_A_CI", .caption = "1:  ВН-..-а-СI (блок ІЕ04, Промприбор)",
     .kind = ModelKind::kPolled, .unit = "g", .toKilograms = 0.001, .frameCheck = FrameCheck::kStructure,
     .protocol = &prompribor::kVnProtocol, .tare = &prompribor::kVnTare, .reportsStable = true},
    {.number = 2, .className = "ScalesTBE", .caption = "2:  TBE  (Техноваги)",
     .kind = ModelKind::kPolled, .unit = "g", .toKilograms = 0.001, .frameCheck = FrameCheck::kStructure,
     .protocol = &indicators::kTbeProtocol, .tare = &indicators::kTbeTare, .unitRead = true},
    {.number = 3, .className = "ScalesTB1", .caption = "3:  TB1, TB4  (Техноваги)",
     .kind = ModelKind::kPolled, .frameCheck = FrameCheck::kStructure,
     .protocol = &indicators::kTb1Protocol, .tare = &indicators::kTb1Tare, .unitRead = true},
    {.number = 4, .className = "ScalesVN_220_CI_OLD", .caption = "4:  ВН-..- 220В (Блок ІЕ03, v1100, по запросу, Промприбор)",
     .kind = ModelKind::kPolled, .unit = "g", .toKilograms = 0.001, .frameCheck = FrameCheck::kStructure,
     .protocol = &indicators::kVnOldProtocol, .tare = &indicators::kVnOldTare, .reportsStable = true},
    {.number = 5, .className = "ScalesVN_220_Thread_v1107", .caption = "5:  ВН-..- 220В (Блок ІЕ03, v1100, событие, на весах кнопка отправки данных)",
     .kind = ModelKind::kListener, .events = &vn220::kVn220Protocol},
    {.number = 6, .className = "ScalesVN_a_Ci_Thread_v2603", .caption = "6:  ВН-..-а-CI  (Блок ІЕ04, + сканер штрих кодов)",
     .kind = ModelKind::kListener, .events = &vnaci::kVnaCiProtocol},
    {.number = 7, .className = "ScalesA9", .caption = "7:  А9, DS3M1  (Мирвесов)",
     .kind = ModelKind::kPolled, .unit = "g", .toKilograms = 0.001, .frameCheck = FrameCheck::kXorHeld,
     .protocol = &mirvesov::kA9Protocol},
    {.number = 8, .className = "ScalesA12", .caption = "8:  А12 (Мирвесов)",
     .kind = ModelKind::kPolled, .unit = "g", .toKilograms = 0.001, .frameCheck = FrameCheck::kStructure,
     .protocol = &mirvesov::kA12Protocol, .tare = &mirvesov::kA12Tare, .zero = &mirvesov::kA12Zero,
     .reportsStable = true},
    {.number = 9, .className = "ScalesAxis_BTU", .caption = "9:  BDU, BTU, BD, 4BDU, SE01, SE02 (Axis)",
     .kind = ModelKind::kPolled, .unit = "g", .toKilograms = 0.001, .frameCheck = FrameCheck::kStructure,
     .protocol = &indicators::kAxisProtocol, .tare = &indicators::kAxisTare, .unitRead = true},
    {.number = 10, .className = "ScalesMASSAK_MK_TB__MK_TH", .caption = "10: Масса-К (МК_ТВ, МК_ТН)",
     .kind = ModelKind::kPolled, .line = LineVariant::k8E1, .unit = "g", .toKilograms = 0.001,
     .frameCheck = FrameCheck::kLength, .protocol = &massak::kProtocol},
    {.number = 11, .className = "Scales_R320", .caption = "11: Rinstrum R320,R420",
     .kind = ModelKind::kPolled, .unit = "g", .toKilograms = 0.001, .frameCheck = FrameCheck::kStructure,
     .protocol = &ascii::kR320Protocol, .unitRead = true},
    {.number = 12, .className = "ScalesDS2", .caption = "12: DS2 (Мирвесов)",
     .kind = ModelKind::kPolled, .unit = "mg", .toKilograms = 0.000001, .frameCheck = FrameCheck::kXorHeld,
     .protocol = &mirvesov::kDs2Protocol},
    {.number = 13, .className = "ScalesCAS", .caption = "13: CAS (АР, AD, DB, ER, EM, SW, CS)",
     .kind = ModelKind::kPolled, .frameCheck = FrameCheck::kXorHeld,
     .protocol = &cas::kCasProtocol, .reportsStable = true, .unitRead = true},
    {.number = 14, .className = "ScalesCASLP16", .caption = "14: CAS-LP (v1.6)",
     .kind = ModelKind::kPolled, .unit = "g", .toKilograms = 0.001, .frameCheck = FrameCheck::kStructure,
     .money = Money::kAsSent, .protocol = &cas::kLp16Protocol, .reportsStable = true},
    {.number = 15, .className = "ScalesVTA_Thread_Sbarco", .caption = "15: BTA-60 (протокол 3) (прием по нажатию кнопки \"Х\" на весах)",
     .kind = ModelKind::kListener, .events = &vta60::kTextProtocol},
    {.number = 16, .className = "Scales_KELI", .caption = "16: KELI",
     .kind = ModelKind::kPolled, .frameCheck = FrameCheck::kStructure,
     .protocol = &ascii::kKeliProtocol, .zero = &ascii::kKeliZero, .unitRead = true},
    {.number = 17, .className = "CScalesCamry", .caption = "17: Camry",
     .kind = ModelKind::kPolled, .line = LineVariant::k8E2, .frameCheck = FrameCheck::kStructure,
     .money = Money::kUnits, .protocol = &pricecomp::kCamryProtocol},
    {.number = 18, .className = "CScalesOCSrc", .caption = "18: OCS, ВК ЗЕВС III с радиоканалом",
     .kind = ModelKind::kPolled, .frameCheck = FrameCheck::kXor,
     .protocol = &continuous::kOcsProtocol, .reportsStable = true},
    {.number = 19, .className = "ScalesJADEVER_SNUGII", .caption = "19: JADEVER SNUG II",
     .kind = ModelKind::kPolled, .frameCheck = FrameCheck::kStructure,
     .protocol = &continuous::kJadeverProtocol, .reportsStable = true, .unitRead = true},
    {.number = 20, .className = "ScalesEmulyator", .caption = "20: ЭМУЛЯТОР ВЕСОВ (помогает настроить работу без физического подключения весов)",
     .kind = ModelKind::kEmulator, .money = Money::kUnits, .create = &Make<ScalesEmulyator>,
     .own = {.tare = Delivery::kConfirmed, .price = Delivery::kConfirmed}, .reportsStable = true},
    {.number = 21, .className = "ScalesJADEVER_JPL_N", .caption = "21: JADEVER JPL, JPL-N",
     .kind = ModelKind::kPolled, .frameCheck = FrameCheck::kStructure, .money = Money::kUnits,
     .protocol = &pricecomp::kJplProtocol, .tare = &pricecomp::kTare, .price = &pricecomp::kJplPrice},
    {.number = 22, .className = "ScalesVTA_Thread_Prot4", .caption = "22: BTA-60 (протокол 4) (прием по нажатию кнопки \"Х\" на весах, + передача цены на весы)",
     .kind = ModelKind::kListener, .line = LineVariant::k8E1, .events = &vta60::kDigitProtocol},
    {.number = 23, .className = "Scales_DIGI788", .caption = "23: DIGI DS-788, 781, 782",
     .kind = ModelKind::kPolled, .unit = "g", .toKilograms = 0.001, .frameCheck = FrameCheck::kStructure,
     .protocol = &ascii::kDigiProtocol, .reportsStable = true},
    {.number = 24, .className = "ScalesIQplus355", .caption = "24: IQ plus 355  (www.zelscales.example)",
     .kind = ModelKind::kPolled, .frameCheck = FrameCheck::kStructure,
     .protocol = &indicators::kIqPlusProtocol, .tare = &indicators::kIqPlusTare,
     .create = &Make<ScalesIQplus355>,
     .own = {.price = Delivery::kUnconfirmed, .patterns = &indicators::IqPlusPriceCommands}, .unitRead = true},
    {.number = 25, .className = "ScalesCertusCBA", .caption = "25: CERTUS CBA",
     .kind = ModelKind::kPolled, .frameCheck = FrameCheck::kStructure,
     .protocol = &continuous::kCertusProtocol, .reportsStable = true, .unitRead = true},
    {.number = 26, .className = "Scales_HBMWE2110", .caption = "26: HBM WE2110",
     .kind = ModelKind::kPolled, .unit = "g", .toKilograms = 0.001, .frameCheck = FrameCheck::kStructure,
     .protocol = &ascii::kHbmProtocol, .tare = &ascii::kHbmTare},
    {.number = 27, .className = "ScalesBTHE_SDL_07", .caption = "27: BTHE (протокол CAS, SDL-07)",
     .kind = ModelKind::kPolled, .frameCheck = FrameCheck::kXorHeld,
     .protocol = &cas::kSdl07Protocol, .reportsStable = true, .unitRead = true},
    {.number = 28, .className = "ScalesBTHE_UNS_2", .caption = "28: BTHE (протокол UNS-02)",
     .kind = ModelKind::kPolled, .frameCheck = FrameCheck::kStructure, .money = Money::kUnits,
     .protocol = &pricecomp::kUns2Protocol, .tare = &pricecomp::kUns2Tare, .price = &pricecomp::kUns2Price},
    {.number = 29, .className = "ScalesT7E", .caption = "29: T7E",
     .kind = ModelKind::kPolled, .frameCheck = FrameCheck::kStructure, .protocol = &continuous::kT7eProtocol},
    {.number = 30, .className = "ScalesICS_NT", .caption = "30: ICS NT",
     .kind = ModelKind::kPolled, .line = LineVariant::k8E1, .frameCheck = FrameCheck::kStructure,
     .money = Money::kHundredths, .protocol = &pricecomp::kIcsProtocol, .tare = &pricecomp::kTare,
     .price = &pricecomp::kIcsPrice},
    {.number = 31, .className = "ScalesA12EH", .caption = "31: A12EH (и некоторые модели BDU)",
     .kind = ModelKind::kPolled, .frameCheck = FrameCheck::kStructure,
     .protocol = &mirvesov::kA12ehProtocol, .reportsStable = true, .unitRead = true},
    {.number = 32, .className = "ScalesVN_220_Th_TARA", .caption = "32: ВН-..- 220В, ввод Тары (1С-Cобытие, на весах кнопка отправки данных)",
     .kind = ModelKind::kListener, .unit = "g", .toKilograms = 0.001, .events = &vn220::kTaraProtocol},
    {.number = 33, .className = "CScalesSMART", .caption = "33: SMART",
     .kind = ModelKind::kPolled, .frameCheck = FrameCheck::kStructure,
     .protocol = &continuous::kSmartProtocol, .reportsStable = true, .unitRead = true},
    {.number = 34, .className = "CScalesA9Contin", .caption = "34: А9 (непрерывный режим передачи)",
     .kind = ModelKind::kPolled, .frameCheck = FrameCheck::kXorHeld, .protocol = &mirvesov::kA9ContinProtocol},
    {.number = 35, .className = "CScalesWPT4Radwag", .caption = "35: WPT/4  RADWAG",
     .kind = ModelKind::kPolled, .frameCheck = FrameCheck::kStructure,
     .protocol = &ascii::kRadwagProtocol, .tare = &ascii::kRadwagTare, .reportsStable = true, .unitRead = true},
    {.number = 36, .className = "CScalesESITSMART2", .caption = "36: ESIT Smart2",
     .kind = ModelKind::kPolled, .frameCheck = FrameCheck::kStructure, .protocol = &continuous::kEsitProtocol},
    {.number = 37, .className = "ScalesESIT_ECI_STATIC", .caption = "37: ESIT ECI STATIC",
     .kind = ModelKind::kPolled, .frameCheck = FrameCheck::kStructure,
     .protocol = &indicators::kEsitProtocol, .tare = &indicators::kEsitTare, .unitRead = true},
    {.number = 38, .className = "ScalesK9Keli", .caption = "38: KELI: K9",
     .kind = ModelKind::kPolled, .frameCheck = FrameCheck::kXorHeld, .protocol = &mirvesov::kK9Protocol},
    {.number = 39, .className = "ScalesVIS318L", .caption = "39: ВИС HL318L",
     .kind = ModelKind::kPolled, .frameCheck = FrameCheck::kStructure,
     .protocol = &continuous::kVisProtocol, .reportsStable = true, .unitRead = true},
    // The D12 has no tare of its own: its tare zeroes it.
    {.number = 40, .className = "ScalesD12Keli", .caption = "40: KELI D12",
     .kind = ModelKind::kPolled, .frameCheck = FrameCheck::kCrc, .protocol = &modbus::kD12Protocol,
     .tare = &modbus::kD12ZeroCommand, .zero = &modbus::kD12ZeroCommand},
    {.number = 41, .className = "ScalesBST106", .caption = "41: BST106 B60S(M60S)",
     .kind = ModelKind::kPolled, .unit = "g", .toKilograms = 0.001, .frameCheck = FrameCheck::kCrc,
     .protocol = &modbus::kBst106Protocol, .tare = &modbus::kBst106TareCommand, .reportsStable = true},
#ifdef ZEL_SCRATCH_EVENT_ROW
    ZEL_SCRATCH_EVENT_ROW,  // a test build's scratch event model in the placeholder's place
#else
    {.number = 42, .caption = "42: Резерв", .kind = ModelKind::kReserved, .unit = "", .toKilograms = 0.0},
#endif
    {.number = 43, .caption = "43: Резерв", .kind = ModelKind::kReserved, .unit = "", .toKilograms = 0.0},
    {.number = 44, .caption = "44: Резерв", .kind = ModelKind::kReserved, .unit = "", .toKilograms = 0.0},
    {.number = 45, .caption = "45: Резерв", .kind = ModelKind::kReserved, .unit = "", .toKilograms = 0.0},
};

const size_t kModelCount = sizeof(kModels) / sizeof(kModels[0]);

}  // namespace

const ModelInfo* AllModels(size_t* count) {
    if (count) *count = kModelCount;
    return kModels;
}

const listener::EventProtocol* EventProtocolOf(int32_t number) {
    const ModelInfo* row = FindModel(number);
    return row && row->kind == ModelKind::kListener ? row->events : nullptr;
}

listener::EventLine EventLineOf(int32_t number) {
    const listener::EventProtocol* p = EventProtocolOf(number);
    return p && p->line ? *p->line : listener::EventLine{};
}

namespace {

// What an event-driven description does with the platform's command.
Delivery EventDelivery(const listener::EventProtocol& p, Command command) {
    switch (command) {
        case Command::kTare: return p.tare == listener::TareRule::kNotSupported ? Delivery::kNotTaken : Delivery::kUnconfirmed;
        case Command::kPrice:
            // A price that only asks for the acknowledgement sends no price.
            if (p.priceCommand >= 0) return p.priceCommand == p.ackCommand ? Delivery::kNotSent : Delivery::kUnconfirmed;
            return p.noPriceResult == kOk ? Delivery::kNotSent : Delivery::kNotTaken;
        default: return Delivery::kNotTaken;
    }
}

Delivery Sends(const exchange::CommandSpec* command) {
    if (!command) return Delivery::kNotTaken;
    return command->replyLength > 0 ? Delivery::kConfirmed : Delivery::kUnconfirmed;
}

Delivery Own(Delivery bound, Delivery own) { return bound != Delivery::kNotTaken ? bound : own; }

}  // namespace

Delivery DeliveryOf(int32_t number, Command command) {
    const ModelInfo* row = FindModel(number);
    if (!row) return Delivery::kNotTaken;
    if (row->kind == ModelKind::kListener) return row->events ? EventDelivery(*row->events, command) : Delivery::kNotTaken;
    switch (command) {
        case Command::kTare: return Own(Sends(row->tare), row->own.tare);
        case Command::kZero: return Own(Sends(row->zero), row->own.zero);
        case Command::kPrice: return Own(row->price ? Delivery::kUnconfirmed : Delivery::kNotTaken, row->own.price);
    }
    return Delivery::kNotTaken;
}

exchange::CommandList CommandsOf(int32_t number) {
    const ModelInfo* row = FindModel(number);
    if (!row) return {};
    if (row->kind == ModelKind::kListener) {
        const listener::EventProtocol* p = row->events;
        return p && p->patterns ? p->patterns() : exchange::CommandList{};
    }
    exchange::CommandList list;
    if (row->tare) list.push_back(std::move(exchange::CommandPattern("tare").Then(*row->tare)));
    if (row->zero && row->zero != row->tare) list.push_back(std::move(exchange::CommandPattern("zero").Then(*row->zero)));
    if (row->price) list.push_back(std::move(exchange::CommandPattern("price").Then(*row->price)));
    if (row->own.patterns)
        for (exchange::CommandPattern& p : row->own.patterns()) list.push_back(std::move(p));
    return list;
}

const exchange::PolledProtocol* PolledProtocolOf(int32_t number) {
    const ModelInfo* row = FindModel(number);
    return row && row->kind == ModelKind::kPolled ? row->protocol : nullptr;
}

const ModelInfo* FindModel(int32_t number) {
    if (number < 0 || static_cast<size_t>(number) >= kModelCount) return nullptr;
    return &kModels[number];
}

const char* KindName(ModelKind kind) {
    switch (kind) {
        case ModelKind::kPolled: return "polled";
        case ModelKind::kListener: return "event-driven";
        case ModelKind::kEmulator: return "emulator";
        default: return "reserved";
    }
}

const char* FrameCheckName(FrameCheck check) {
    switch (check) {
        case FrameCheck::kCrc: return "CRC";
        case FrameCheck::kXor: return "XOR";
        case FrameCheck::kXorHeld: return "XOR, held per line";
        case FrameCheck::kStructure: return "structure only";
        case FrameCheck::kLength: return "length only";
        default: return "-";
    }
}

const char* DeliveryName(Delivery delivery) {
    switch (delivery) {
        case Delivery::kConfirmed: return "confirmed";
        case Delivery::kUnconfirmed: return "unconfirmed";
        case Delivery::kNotSent: return "not sent";
        default: return "-";
    }
}

const char* MoneyName(Money money) {
    switch (money) {
        case Money::kUnits: return "currency units";
        case Money::kHundredths: return "hundredths";
        case Money::kAsSent: return "as the scale sends";
        default: return "-";
    }
}

}  // namespace devices
}  // namespace zel

IScalesObject* CreateScalesObject(int32_t model) {
    using zel::devices::ModelKind;
    const zel::devices::ModelInfo* row = zel::devices::FindModel(model);
    if (!row) return nullptr;
    // A polled model is the engine bound to what its row binds; a class of
    // its own only where the model behaves otherwise.
    const zel::exchange::PolledBinding binding{row->protocol, row->tare, row->zero, row->price};
    IScalesObject* object = nullptr;
    if (row->create)
        object = row->create(binding);
    else if (row->kind == ModelKind::kPolled && row->protocol)
        object = new CPolledProtocolScale(binding);
    else if (row->kind == ModelKind::kListener && row->events)
        object = new CEventProtocolScale(*row->events);
    if (object) object->SetLineVariant(row->line);
    return object;
}
