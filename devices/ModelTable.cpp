#include "devices/ModelTable.h"

#include <utility>

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

template <class T>
IScalesObject* Make() {
    return new T();
}

using exchange::CommandList;
using exchange::CommandPattern;

CommandList One(const char* what, const exchange::CommandSpec& command) {
    return {std::move(CommandPattern(what).Then(command))};
}

// One row per model. A polled row binds its protocol and the commands its
// class writes; an event-driven row binds its description. Members left out
// take ModelInfo's defaults.
const ModelInfo kModels[] = {
    {.number = 0, .className = "CScalesVTA5", .caption = "0:  ВТА-60 (Промприбор)",
     .kind = ModelKind::kPolled, .line = LineVariant::k8E1, .unit = "g", .toKilograms = 0.001, .tare = true,
     .price = true, .create = &Make<CScalesVTA5>, .frameCheck = FrameCheck::kStructure,
     .money = Money::kHundredths, .protocol = &prompribor::kVtaProtocol, .commands = &prompribor::VtaCommands},
    {.number = 1, .className = "ScalesVN_A_CI", .caption = "1:  ВН-..-а-СI (блок ІЕ04, Промприбор)",
     .kind = ModelKind::kPolled, .unit = "g", .toKilograms = 0.001, .tare = true, .create = &Make<ScalesVN_A_CI>,
     .frameCheck = FrameCheck::kStructure, .protocol = &prompribor::kVnProtocol,
     .commands = &prompribor::VnCiCommands, .reportsStable = true},
    {.number = 2, .className = "ScalesTBE", .caption = "2:  TBE  (Техноваги)",
     .kind = ModelKind::kPolled, .unit = "g", .toKilograms = 0.001, .tare = true, .create = &Make<ScalesTBE>,
     .frameCheck = FrameCheck::kStructure, .protocol = &indicators::kTbeProtocol,
     .commands = [] { return One("tare", indicators::kTbeTare); }, .unitRead = true},
    {.number = 3, .className = "ScalesTB1", .caption = "3:  TB1, TB4  (Техноваги)",
     .kind = ModelKind::kPolled, .tare = true, .create = &Make<ScalesTB1>, .frameCheck = FrameCheck::kStructure,
     .protocol = &indicators::kTb1Protocol, .commands = [] { return One("tare", indicators::kTb1Tare); }, .unitRead = true},
    {.number = 4, .className = "ScalesVN_220_CI_OLD", .caption = "4:  ВН-..- 220В (Блок ІЕ03, v1100, по запросу, Промприбор)",
     .kind = ModelKind::kPolled, .unit = "g", .toKilograms = 0.001, .tare = true,
     .create = &Make<ScalesVN_220_CI_OLD>, .frameCheck = FrameCheck::kStructure,
     .protocol = &indicators::kVnOldProtocol, .commands = &indicators::VnOldCommands, .reportsStable = true},
    {.number = 5, .className = "ScalesVN_220_Thread_v1107", .caption = "5:  ВН-..- 220В (Блок ІЕ03, v1100, событие, на весах кнопка отправки данных)",
     .kind = ModelKind::kListener, .price = true, .priceDelivery = Delivery::kNotSent,
     .events = &vn220::kVn220Protocol},
    {.number = 6, .className = "ScalesVN_a_Ci_Thread_v2603", .caption = "6:  ВН-..-а-CI  (Блок ІЕ04, + сканер штрих кодов)",
     .kind = ModelKind::kListener, .price = true, .priceDelivery = Delivery::kNotSent,
     .events = &vnaci::kVnaCiProtocol},
    {.number = 7, .className = "ScalesA9", .caption = "7:  А9, DS3M1  (Мирвесов)",
     .kind = ModelKind::kPolled, .unit = "g", .toKilograms = 0.001,
     .frameCheck = FrameCheck::kXorHeld, .protocol = &mirvesov::kA9Protocol},
    {.number = 8, .className = "ScalesA12", .caption = "8:  А12 (Мирвесов)",
     .kind = ModelKind::kPolled, .unit = "g", .toKilograms = 0.001, .tare = true, .zero = true,
     .create = &Make<ScalesA12>, .frameCheck = FrameCheck::kStructure, .protocol = &mirvesov::kA12Protocol,
     .commands = [] { return CommandList{One("tare", mirvesov::kA12Tare)[0], One("zero", mirvesov::kA12Zero)[0]}; }, .reportsStable = true},
    {.number = 9, .className = "ScalesAxis_BTU", .caption = "9:  BDU, BTU, BD, 4BDU, SE01, SE02 (Axis)",
     .kind = ModelKind::kPolled, .unit = "g", .toKilograms = 0.001, .tare = true, .create = &Make<ScalesAxis_BTU>,
     .frameCheck = FrameCheck::kStructure, .protocol = &indicators::kAxisProtocol,
     .commands = [] { return One("tare", indicators::kAxisTare); }, .unitRead = true},
    {.number = 10, .className = "ScalesMASSAK_MK_TB__MK_TH", .caption = "10: Масса-К (МК_ТВ, МК_ТН)",
     .kind = ModelKind::kPolled, .line = LineVariant::k8E1, .unit = "g", .toKilograms = 0.001,
     .frameCheck = FrameCheck::kLength, .protocol = &massak::kProtocol},
    {.number = 11, .className = "Scales_R320", .caption = "11: Rinstrum R320,R420",
     .kind = ModelKind::kPolled, .unit = "g", .toKilograms = 0.001,
     .frameCheck = FrameCheck::kStructure, .protocol = &ascii::kR320Protocol, .unitRead = true},
    {.number = 12, .className = "ScalesDS2", .caption = "12: DS2 (Мирвесов)",
     .kind = ModelKind::kPolled, .unit = "mg", .toKilograms = 0.000001,
     .frameCheck = FrameCheck::kXorHeld, .protocol = &mirvesov::kDs2Protocol},
    {.number = 13, .className = "ScalesCAS", .caption = "13: CAS (АР, AD, DB, ER, EM, SW, CS)",
     .kind = ModelKind::kPolled, .frameCheck = FrameCheck::kXorHeld,
     .protocol = &cas::kCasProtocol, .reportsStable = true, .unitRead = true},
    {.number = 14, .className = "ScalesCASLP16", .caption = "14: CAS-LP (v1.6)",
     .kind = ModelKind::kPolled, .unit = "g", .toKilograms = 0.001,
     .frameCheck = FrameCheck::kStructure, .money = Money::kAsSent, .protocol = &cas::kLp16Protocol, .reportsStable = true},
    {.number = 15, .className = "ScalesVTA_Thread_Sbarco", .caption = "15: BTA-60 (протокол 3) (прием по нажатию кнопки \"Х\" на весах)",
     .kind = ModelKind::kListener, .events = &vta60::kTextProtocol},
    {.number = 16, .className = "Scales_KELI", .caption = "16: KELI",
     .kind = ModelKind::kPolled, .zero = true, .create = &Make<Scales_KELI>, .frameCheck = FrameCheck::kStructure,
     .protocol = &ascii::kKeliProtocol, .commands = [] { return One("zero", ascii::kKeliZero); }, .unitRead = true},
    {.number = 17, .className = "CScalesCamry", .caption = "17: Camry",
     .kind = ModelKind::kPolled, .line = LineVariant::k8E2,
     .frameCheck = FrameCheck::kStructure, .money = Money::kUnits, .protocol = &pricecomp::kCamryProtocol},
    {.number = 18, .className = "CScalesOCSrc", .caption = "18: OCS, ВК ЗЕВС III с радиоканалом",
     .kind = ModelKind::kPolled, .frameCheck = FrameCheck::kXor,
     .protocol = &continuous::kOcsProtocol, .reportsStable = true},
    {.number = 19, .className = "ScalesJADEVER_SNUGII", .caption = "19: JADEVER SNUG II",
     .kind = ModelKind::kPolled, .frameCheck = FrameCheck::kStructure,
     .protocol = &continuous::kJadeverProtocol, .reportsStable = true, .unitRead = true},
    {.number = 20, .className = "ScalesEmulyator", .caption = "20: ЭМУЛЯТОР ВЕСОВ (помогает настроить работу без физического подключения весов)",
     .kind = ModelKind::kEmulator, .tare = true, .price = true, .create = &Make<ScalesEmulyator>,
     .tareDelivery = Delivery::kConfirmed, .zeroDelivery = Delivery::kConfirmed,
     .priceDelivery = Delivery::kConfirmed, .money = Money::kUnits, .reportsStable = true},
    {.number = 21, .className = "ScalesJADEVER_JPL_N", .caption = "21: JADEVER JPL, JPL-N",
     .kind = ModelKind::kPolled, .tare = true, .price = true, .create = &Make<ScalesJADEVER_JPL_N>,
     .frameCheck = FrameCheck::kStructure, .money = Money::kUnits, .protocol = &pricecomp::kJplProtocol,
     .commands = [] { return pricecomp::PatternsOf(pricecomp::kJplCommands); }},
    {.number = 22, .className = "ScalesVTA_Thread_Prot4", .caption = "22: BTA-60 (протокол 4) (прием по нажатию кнопки \"Х\" на весах, + передача цены на весы)",
     .kind = ModelKind::kListener, .line = LineVariant::k8E1, .tare = true, .price = true,
     .events = &vta60::kDigitProtocol},
    {.number = 23, .className = "Scales_DIGI788", .caption = "23: DIGI DS-788, 781, 782",
     .kind = ModelKind::kPolled, .unit = "g", .toKilograms = 0.001,
     .frameCheck = FrameCheck::kStructure, .protocol = &ascii::kDigiProtocol, .reportsStable = true},
    {.number = 24, .className = "ScalesIQplus355", .caption = "24: IQ plus 355  (www.zelscales.example)",
     .kind = ModelKind::kPolled, .tare = true, .price = true, .create = &Make<ScalesIQplus355>,
     .frameCheck = FrameCheck::kStructure, .protocol = &indicators::kIqPlusProtocol,
     .commands = &indicators::IqPlusCommands, .unitRead = true},
    {.number = 25, .className = "ScalesCertusCBA", .caption = "25: CERTUS CBA",
     .kind = ModelKind::kPolled, .frameCheck = FrameCheck::kStructure,
     .protocol = &continuous::kCertusProtocol, .reportsStable = true, .unitRead = true},
    {.number = 26, .className = "Scales_HBMWE2110", .caption = "26: HBM WE2110",
     .kind = ModelKind::kPolled, .unit = "g", .toKilograms = 0.001, .tare = true,
     .create = &Make<Scales_HBMWE2110>, .frameCheck = FrameCheck::kStructure, .protocol = &ascii::kHbmProtocol,
     .commands = [] { return One("tare", ascii::kHbmTare); }},
    {.number = 27, .className = "ScalesBTHE_SDL_07", .caption = "27: BTHE (протокол CAS, SDL-07)",
     .kind = ModelKind::kPolled, .frameCheck = FrameCheck::kXorHeld,
     .protocol = &cas::kSdl07Protocol, .reportsStable = true, .unitRead = true},
    {.number = 28, .className = "ScalesBTHE_UNS_2", .caption = "28: BTHE (протокол UNS-02)",
     .kind = ModelKind::kPolled, .tare = true, .price = true, .create = &Make<ScalesBTHE_UNS_2>,
     .frameCheck = FrameCheck::kStructure, .money = Money::kUnits, .protocol = &pricecomp::kUns2Protocol,
     .commands = [] { return pricecomp::PatternsOf(pricecomp::kUns2Commands); }},
    {.number = 29, .className = "ScalesT7E", .caption = "29: T7E",
     .kind = ModelKind::kPolled, .frameCheck = FrameCheck::kStructure,
     .protocol = &continuous::kT7eProtocol},
    {.number = 30, .className = "ScalesICS_NT", .caption = "30: ICS NT",
     .kind = ModelKind::kPolled, .line = LineVariant::k8E1, .tare = true, .price = true,
     .create = &Make<ScalesICS_NT>, .frameCheck = FrameCheck::kStructure, .money = Money::kHundredths,
     .protocol = &pricecomp::kIcsProtocol,
     .commands = [] { return pricecomp::PatternsOf(pricecomp::kIcsCommands); }},
    {.number = 31, .className = "ScalesA12EH", .caption = "31: A12EH (и некоторые модели BDU)",
     .kind = ModelKind::kPolled, .frameCheck = FrameCheck::kStructure,
     .protocol = &mirvesov::kA12ehProtocol, .reportsStable = true, .unitRead = true},
    {.number = 32, .className = "ScalesVN_220_Th_TARA", .caption = "32: ВН-..- 220В, ввод Тары (1С-Cобытие, на весах кнопка отправки данных)",
     .kind = ModelKind::kListener, .unit = "g", .toKilograms = 0.001, .tare = true, .price = true,
     .events = &vn220::kTaraProtocol},
    {.number = 33, .className = "CScalesSMART", .caption = "33: SMART",
     .kind = ModelKind::kPolled, .frameCheck = FrameCheck::kStructure,
     .protocol = &continuous::kSmartProtocol, .reportsStable = true, .unitRead = true},
    {.number = 34, .className = "CScalesA9Contin", .caption = "34: А9 (непрерывный режим передачи)",
     .kind = ModelKind::kPolled, .frameCheck = FrameCheck::kXorHeld,
     .protocol = &mirvesov::kA9ContinProtocol},
    {.number = 35, .className = "CScalesWPT4Radwag", .caption = "35: WPT/4  RADWAG",
     .kind = ModelKind::kPolled, .tare = true, .create = &Make<CScalesWPT4Radwag>,
     .frameCheck = FrameCheck::kStructure, .protocol = &ascii::kRadwagProtocol,
     .commands = [] { return One("tare", ascii::kRadwagTare); }, .reportsStable = true, .unitRead = true},
    {.number = 36, .className = "CScalesESITSMART2", .caption = "36: ESIT Smart2",
     .kind = ModelKind::kPolled, .frameCheck = FrameCheck::kStructure,
     .protocol = &continuous::kEsitProtocol},
    {.number = 37, .className = "ScalesESIT_ECI_STATIC", .caption = "37: ESIT ECI STATIC",
     .kind = ModelKind::kPolled, .tare = true, .create = &Make<ScalesESIT_ECI_STATIC>,
     .frameCheck = FrameCheck::kStructure, .protocol = &indicators::kEsitProtocol,
     .commands = [] { return One("tare", indicators::kEsitTare); }, .unitRead = true},
    {.number = 38, .className = "ScalesK9Keli", .caption = "38: KELI: K9",
     .kind = ModelKind::kPolled, .frameCheck = FrameCheck::kXorHeld,
     .protocol = &mirvesov::kK9Protocol},
    {.number = 39, .className = "ScalesVIS318L", .caption = "39: ВИС HL318L",
     .kind = ModelKind::kPolled, .frameCheck = FrameCheck::kStructure,
     .protocol = &continuous::kVisProtocol, .reportsStable = true, .unitRead = true},
    {.number = 40, .className = "ScalesD12Keli", .caption = "40: KELI D12",
     .kind = ModelKind::kPolled, .tare = true, .zero = true, .create = &Make<ScalesD12Keli>,
     .frameCheck = FrameCheck::kCrc, .tareDelivery = Delivery::kConfirmed, .zeroDelivery = Delivery::kConfirmed,
     .protocol = &modbus::kD12Protocol,
     .commands = [] { return One("zero", modbus::kD12ZeroCommand); }},  // its tare is the zero
    {.number = 41, .className = "ScalesBST106", .caption = "41: BST106 B60S(M60S)",
     .kind = ModelKind::kPolled, .unit = "g", .toKilograms = 0.001, .tare = true, .create = &Make<ScalesBST106>,
     .frameCheck = FrameCheck::kCrc, .tareDelivery = Delivery::kConfirmed, .protocol = &modbus::kBst106Protocol,
     .commands = [] { return One("tare", modbus::kBst106TareCommand); }, .reportsStable = true},
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

exchange::CommandList CommandsOf(int32_t number) {
    const ModelInfo* row = FindModel(number);
    if (!row) return {};
    if (row->commands) return row->commands();
    const listener::EventProtocol* p = EventProtocolOf(number);
    return p && p->patterns ? p->patterns() : exchange::CommandList{};
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

const char* DeliveryName(bool taken, Delivery delivery) {
    if (!taken) return "-";
    switch (delivery) {
        case Delivery::kConfirmed: return "confirmed";
        case Delivery::kNotSent: return "not sent";
        default: return "unconfirmed";
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
    const zel::devices::ModelInfo* row = zel::devices::FindModel(model);
    if (!row) return nullptr;
    // A polled model whose class would only bind its protocol is made from
    // the row; a class of its own is kept where the model behaves otherwise.
    IScalesObject* object = nullptr;
    if (row->create)
        object = row->create();
    else if (row->kind == zel::devices::ModelKind::kPolled && row->protocol)
        object = new CPolledProtocolScale(*row->protocol);
    else if (row->kind == zel::devices::ModelKind::kListener && row->events)
        object = new CEventProtocolScale(*row->events);
    if (object) object->SetLineVariant(row->line);
    return object;
}
