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

// number, class, caption, kind, line, unit, to kilograms, tare, zero, price,
// creator, frame check; then, where it is not "unconfirmed", what becomes of
// tare, zero and price; then the unit of price and cost where a reading
// carries them
const ModelInfo kModels[] = {
    {0, "CScalesVTA5", "0:  ВТА-60 (Промприбор)", ModelKind::kPolled, LineVariant::k8E1, "g", 0.001, true, false, true,
     &Make<CScalesVTA5>, FrameCheck::kStructure,
     Delivery::kUnconfirmed, Delivery::kUnconfirmed, Delivery::kUnconfirmed, Money::kHundredths},
    {1, "ScalesVN_A_CI", "1:  ВН-..-а-СI (блок ІЕ04, Промприбор)", ModelKind::kPolled, LineVariant::k8N1, "g", 0.001, true, false, false,
     &Make<ScalesVN_A_CI>, FrameCheck::kStructure},
    {2, "ScalesTBE", "2:  TBE  (Техноваги)", ModelKind::kPolled, LineVariant::k8N1, "g", 0.001, true, false, false,
     &Make<ScalesTBE>, FrameCheck::kStructure},
    {3, "ScalesTB1", "3:  TB1, TB4  (Техноваги)", ModelKind::kPolled, LineVariant::k8N1, "kg", 1.0, true, false, false,
     &Make<ScalesTB1>, FrameCheck::kStructure},
    {4, "ScalesVN_220_CI_OLD", "4:  ВН-..- 220В (Блок ІЕ03, v1100, по запросу, Промприбор)", ModelKind::kPolled, LineVariant::k8N1, "g", 0.001, true, false, false,
     &Make<ScalesVN_220_CI_OLD>, FrameCheck::kStructure},
    {5, "ScalesVN_220_Thread_v1107", "5:  ВН-..- 220В (Блок ІЕ03, v1100, событие, на весах кнопка отправки данных)", ModelKind::kListener, LineVariant::k8N1, "kg", 1.0, false, false, true,
     &Make<ScalesVN_220_Thread_v1107>, FrameCheck::kNone,
     Delivery::kUnconfirmed, Delivery::kUnconfirmed, Delivery::kNotSent},
    {6, "ScalesVN_a_Ci_Thread_v2603", "6:  ВН-..-а-CI  (Блок ІЕ04, + сканер штрих кодов)", ModelKind::kListener, LineVariant::k8N1, "kg", 1.0, false, false, true,
     &Make<ScalesVN_a_Ci_Thread_v2603>, FrameCheck::kNone,
     Delivery::kUnconfirmed, Delivery::kUnconfirmed, Delivery::kNotSent},
    {7, "ScalesA9", "7:  А9, DS3M1  (Мирвесов)", ModelKind::kPolled, LineVariant::k8N1, "g", 0.001, false, false, false,
     &Make<ScalesA9>, FrameCheck::kXor},
    {8, "ScalesA12", "8:  А12 (Мирвесов)", ModelKind::kPolled, LineVariant::k8N1, "g", 0.001, true, true, false,
     &Make<ScalesA12>, FrameCheck::kStructure},
    {9, "ScalesAxis_BTU", "9:  BDU, BTU, BD, 4BDU, SE01, SE02 (Axis)", ModelKind::kPolled, LineVariant::k8N1, "g", 0.001, true, false, false,
     &Make<ScalesAxis_BTU>, FrameCheck::kStructure},
    {10, "ScalesMASSAK_MK_TB__MK_TH", "10: Масса-К (МК_ТВ, МК_ТН)", ModelKind::kPolled, LineVariant::k8E1, "g", 0.001, false, false, false,
     &Make<ScalesMASSAK_MK_TB__MK_TH>, FrameCheck::kLength},
    {11, "Scales_R320", "11: Rinstrum R320,R420", ModelKind::kPolled, LineVariant::k8N1, "g", 0.001, false, false, false,
     &Make<Scales_R320>, FrameCheck::kStructure},
    {12, "ScalesDS2", "12: DS2 (Мирвесов)", ModelKind::kPolled, LineVariant::k8N1, "mg", 0.000001, false, false, false,
     &Make<ScalesDS2>, FrameCheck::kXor},
    {13, "ScalesCAS", "13: CAS (АР, AD, DB, ER, EM, SW, CS)", ModelKind::kPolled, LineVariant::k8N1, "kg", 1.0, false, false, false,
     &Make<ScalesCAS>, FrameCheck::kStructure},
    {14, "ScalesCASLP16", "14: CAS-LP (v1.6)", ModelKind::kPolled, LineVariant::k8N1, "g", 0.001, false, false, false,
     &Make<ScalesCASLP16>, FrameCheck::kStructure,
     Delivery::kUnconfirmed, Delivery::kUnconfirmed, Delivery::kUnconfirmed, Money::kAsSent},
    {15, "ScalesVTA_Thread_Sbarco", "15: BTA-60 (протокол 3) (прием по нажатию кнопки \"Х\" на весах)", ModelKind::kListener, LineVariant::k8N1, "kg", 1.0, false, false, false,
     &Make<ScalesVTA_Thread_Sbarco>, FrameCheck::kNone},
    {16, "Scales_KELI", "16: KELI", ModelKind::kPolled, LineVariant::k8N1, "kg", 1.0, false, true, false,
     &Make<Scales_KELI>, FrameCheck::kStructure},
    {17, "CScalesCamry", "17: Camry", ModelKind::kPolled, LineVariant::k8E2, "kg", 1.0, false, false, false,
     &Make<CScalesCamry>, FrameCheck::kStructure,
     Delivery::kUnconfirmed, Delivery::kUnconfirmed, Delivery::kUnconfirmed, Money::kUnits},
    {18, "CScalesOCSrc", "18: OCS, ВК ЗЕВС III с радиоканалом", ModelKind::kPolled, LineVariant::k8N1, "kg", 1.0, false, false, false,
     &Make<CScalesOCSrc>, FrameCheck::kXor},
    {19, "ScalesJADEVER_SNUGII", "19: JADEVER SNUG II", ModelKind::kPolled, LineVariant::k8N1, "kg", 1.0, false, false, false,
     &Make<ScalesJADEVER_SNUGII>, FrameCheck::kStructure},
    {20, "ScalesEmulyator", "20: ЭМУЛЯТОР ВЕСОВ (помогает настроить работу без физического подключения весов)", ModelKind::kEmulator, LineVariant::k8N1, "kg", 1.0, true, false, true,
     &Make<ScalesEmulyator>, FrameCheck::kNone,
     Delivery::kConfirmed, Delivery::kConfirmed, Delivery::kConfirmed, Money::kUnits},
    {21, "ScalesJADEVER_JPL_N", "21: JADEVER JPL, JPL-N", ModelKind::kPolled, LineVariant::k8N1, "kg", 1.0, true, false, true,
     &Make<ScalesJADEVER_JPL_N>, FrameCheck::kStructure,
     Delivery::kUnconfirmed, Delivery::kUnconfirmed, Delivery::kUnconfirmed, Money::kUnits},
    {22, "ScalesVTA_Thread_Prot4", "22: BTA-60 (протокол 4) (прием по нажатию кнопки \"Х\" на весах, + передача цены на весы)", ModelKind::kListener, LineVariant::k8E1, "kg", 1.0, true, false, true,
     &Make<ScalesVTA_Thread_Prot4>, FrameCheck::kNone},
    {23, "Scales_DIGI788", "23: DIGI DS-788, 781, 782", ModelKind::kPolled, LineVariant::k8N1, "g", 0.001, false, false, false,
     &Make<Scales_DIGI788>, FrameCheck::kStructure},
    {24, "ScalesIQplus355", "24: IQ plus 355  (www.zelscales.example)", ModelKind::kPolled, LineVariant::k8N1, "kg", 1.0, true, false, true,
     &Make<ScalesIQplus355>, FrameCheck::kStructure},
    {25, "ScalesCertusCBA", "25: CERTUS CBA", ModelKind::kPolled, LineVariant::k8N1, "kg", 1.0, false, false, false,
     &Make<ScalesCertusCBA>, FrameCheck::kStructure},
    {26, "Scales_HBMWE2110", "26: HBM WE2110", ModelKind::kPolled, LineVariant::k8N1, "g", 0.001, true, false, false,
     &Make<Scales_HBMWE2110>, FrameCheck::kStructure},
    {27, "ScalesBTHE_SDL_07", "27: BTHE (протокол CAS, SDL-07)", ModelKind::kPolled, LineVariant::k8N1, "kg", 1.0, false, false, false,
     &Make<ScalesBTHE_SDL_07>, FrameCheck::kStructure},
    {28, "ScalesBTHE_UNS_2", "28: BTHE (протокол UNS-02)", ModelKind::kPolled, LineVariant::k8N1, "kg", 1.0, true, false, true,
     &Make<ScalesBTHE_UNS_2>, FrameCheck::kStructure,
     Delivery::kUnconfirmed, Delivery::kUnconfirmed, Delivery::kUnconfirmed, Money::kUnits},
    {29, "ScalesT7E", "29: T7E", ModelKind::kPolled, LineVariant::k8N1, "kg", 1.0, false, false, false,
     &Make<ScalesT7E>, FrameCheck::kStructure},
    {30, "ScalesICS_NT", "30: ICS NT", ModelKind::kPolled, LineVariant::k8E1, "kg", 1.0, true, false, true,
     &Make<ScalesICS_NT>, FrameCheck::kStructure,
     Delivery::kUnconfirmed, Delivery::kUnconfirmed, Delivery::kUnconfirmed, Money::kHundredths},
    {31, "ScalesA12EH", "31: A12EH (и некоторые модели BDU)", ModelKind::kPolled, LineVariant::k8N1, "kg", 1.0, false, false, false,
     &Make<ScalesA12EH>, FrameCheck::kStructure},
    {32, "ScalesVN_220_Th_TARA", "32: ВН-..- 220В, ввод Тары (1С-Cобытие, на весах кнопка отправки данных)", ModelKind::kListener, LineVariant::k8N1, "g", 0.001, true, false, true,
     &Make<ScalesVN_220_Th_TARA>, FrameCheck::kNone},
    {33, "CScalesSMART", "33: SMART", ModelKind::kPolled, LineVariant::k8N1, "kg", 1.0, false, false, false,
     &Make<CScalesSMART>, FrameCheck::kStructure},
    {34, "CScalesA9Contin", "34: А9 (непрерывный режим передачи)", ModelKind::kPolled, LineVariant::k8N1, "kg", 1.0, false, false, false,
     &Make<CScalesA9Contin>, FrameCheck::kXor},
    {35, "CScalesWPT4Radwag", "35: WPT/4  RADWAG", ModelKind::kPolled, LineVariant::k8N1, "kg", 1.0, true, false, false,
     &Make<CScalesWPT4Radwag>, FrameCheck::kStructure},
    {36, "CScalesESITSMART2", "36: ESIT Smart2", ModelKind::kPolled, LineVariant::k8N1, "kg", 1.0, false, false, false,
     &Make<CScalesESITSMART2>, FrameCheck::kStructure},
    {37, "ScalesESIT_ECI_STATIC", "37: ESIT ECI STATIC", ModelKind::kPolled, LineVariant::k8N1, "kg", 1.0, true, false, false,
     &Make<ScalesESIT_ECI_STATIC>, FrameCheck::kStructure},
    {38, "ScalesK9Keli", "38: KELI: K9", ModelKind::kPolled, LineVariant::k8N1, "kg", 1.0, false, false, false,
     &Make<ScalesK9Keli>, FrameCheck::kXor},
    {39, "ScalesVIS318L", "39: ВИС HL318L", ModelKind::kPolled, LineVariant::k8N1, "kg", 1.0, false, false, false,
     &Make<ScalesVIS318L>, FrameCheck::kStructure},
    {40, "ScalesD12Keli", "40: KELI D12", ModelKind::kPolled, LineVariant::k8N1, "kg", 1.0, true, true, false,
     &Make<ScalesD12Keli>, FrameCheck::kCrc,
     Delivery::kConfirmed, Delivery::kConfirmed, Delivery::kUnconfirmed},
    {41, "ScalesBST106", "41: BST106 B60S(M60S)", ModelKind::kPolled, LineVariant::k8N1, "g", 0.001, true, false, false,
     &Make<ScalesBST106>, FrameCheck::kCrc,
     Delivery::kConfirmed, Delivery::kUnconfirmed, Delivery::kUnconfirmed},
    {42, "", "42: Резерв", ModelKind::kReserved, LineVariant::k8N1, "", 0.0, false, false, false,
     nullptr, FrameCheck::kNone},
    {43, "", "43: Резерв", ModelKind::kReserved, LineVariant::k8N1, "", 0.0, false, false, false,
     nullptr, FrameCheck::kNone},
    {44, "", "44: Резерв", ModelKind::kReserved, LineVariant::k8N1, "", 0.0, false, false, false,
     nullptr, FrameCheck::kNone},
    {45, "", "45: Резерв", ModelKind::kReserved, LineVariant::k8N1, "", 0.0, false, false, false,
     nullptr, FrameCheck::kNone},
};

const size_t kModelCount = sizeof(kModels) / sizeof(kModels[0]);

}  // namespace

const ModelInfo* AllModels(size_t* count) {
    if (count) *count = kModelCount;
    return kModels;
}

namespace {

// The wire description of each polled model, by number.
struct PolledRow {
    int number;
    const exchange::PolledProtocol* protocol;
};
const PolledRow kPolled[] = {
    {0, &prompribor::kVtaProtocol},
    {1, &prompribor::kVnProtocol},
    {2, &indicators::kTbeProtocol},
    {3, &indicators::kTb1Protocol},
    {4, &indicators::kVnOldProtocol},
    {7, &mirvesov::kA9Protocol},
    {8, &mirvesov::kA12Protocol},
    {9, &indicators::kAxisProtocol},
    {10, &massak::kProtocol},
    {11, &ascii::kR320Protocol},
    {12, &mirvesov::kDs2Protocol},
    {13, &cas::kCasProtocol},
    {14, &cas::kLp16Protocol},
    {16, &ascii::kKeliProtocol},
    {17, &pricecomp::kCamryProtocol},
    {18, &continuous::kOcsProtocol},
    {19, &continuous::kJadeverProtocol},
    {21, &pricecomp::kJplProtocol},
    {23, &ascii::kDigiProtocol},
    {24, &indicators::kIqPlusProtocol},
    {25, &continuous::kCertusProtocol},
    {26, &ascii::kHbmProtocol},
    {27, &cas::kSdl07Protocol},
    {28, &pricecomp::kUns2Protocol},
    {29, &continuous::kT7eProtocol},
    {30, &pricecomp::kIcsProtocol},
    {31, &mirvesov::kA12ehProtocol},
    {33, &continuous::kSmartProtocol},
    {34, &mirvesov::kA9ContinProtocol},
    {35, &ascii::kRadwagProtocol},
    {36, &continuous::kEsitProtocol},
    {37, &indicators::kEsitProtocol},
    {38, &mirvesov::kK9Protocol},
    {39, &continuous::kVisProtocol},
    {40, &modbus::kD12Protocol},
    {41, &modbus::kBst106Protocol},
};

using exchange::CommandList;
using exchange::CommandPattern;

CommandList One(const char* what, const exchange::CommandSpec& command) {
    return {std::move(CommandPattern(what).Then(command))};
}

// What each model sends besides its read request, by number: the very bytes
// its class writes.
struct CommandsRow {
    int number;
    CommandList (*list)();
};
const CommandsRow kCommands[] = {
    {0, &prompribor::VtaCommands},
    {1, &prompribor::VnCiCommands},
    {2, [] { return One("tare", indicators::kTbeTare); }},
    {3, [] { return One("tare", indicators::kTb1Tare); }},
    {4, &indicators::VnOldCommands},
    {5, &vn220::Vn220Commands},
    {8, [] { return CommandList{One("tare", mirvesov::kA12Tare)[0], One("zero", mirvesov::kA12Zero)[0]}; }},
    {9, [] { return One("tare", indicators::kAxisTare); }},
    {16, [] { return One("zero", ascii::kKeliZero); }},
    {21, [] { return pricecomp::PatternsOf(pricecomp::kJplCommands); }},
    {22, &vta60::Vta60Commands},
    {24, &indicators::IqPlusCommands},
    {26, [] { return One("tare", ascii::kHbmTare); }},
    {28, [] { return pricecomp::PatternsOf(pricecomp::kUns2Commands); }},
    {30, [] { return pricecomp::PatternsOf(pricecomp::kIcsCommands); }},
    {32, &vn220::TaraCommands},
    {35, [] { return One("tare", ascii::kRadwagTare); }},
    {37, [] { return One("tare", indicators::kEsitTare); }},
    {40, [] { return One("zero", modbus::kD12ZeroCommand); }},  // its tare is the zero
    {41, [] { return One("tare", modbus::kBst106TareCommand); }},
};

// The data line of each event-driven model, by number.
struct EventLineRow {
    int number;
    const listener::EventLine* line;
};
const EventLineRow kEventLines[] = {
    {5, &vn220::kVn220EventLine},  {6, &vnaci::kVnaCiEventLine},  {15, &vta60::kTextEventLine},
    {22, &vta60::kDigitEventLine}, {32, &vn220::kTaraEventLine},
};

}  // namespace

listener::EventLine EventLineOf(int32_t number) {
    for (const EventLineRow& r : kEventLines)
        if (r.number == number) return *r.line;
    return {};
}

exchange::CommandList CommandsOf(int32_t number) {
    for (const CommandsRow& r : kCommands)
        if (r.number == number) return r.list();
    return {};
}

const exchange::PolledProtocol* PolledProtocolOf(int32_t number) {
    for (const PolledRow& r : kPolled)
        if (r.number == number) return r.protocol;
    return nullptr;
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
    if (!row || !row->create) return nullptr;
    IScalesObject* object = row->create();
    if (object) object->SetLineVariant(row->line);
    return object;
}
