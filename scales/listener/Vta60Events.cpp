#include "scales/listener/Vta60Events.h"

#include "core/Text.h"

namespace zel {
namespace vta60 {

const uint8_t kTareCommand[kTareCommandLength] = {0x00, 0x00, 0x01};

exchange::CommandList Vta60Commands() {
    return {exchange::CommandPattern("tare").Then(kTareCommand), prompribor::VtaPricePattern()};
}

namespace {
const unsigned kPriceRepeatPauseMs = 200;
}  // namespace

bool TextFrameOk(const uint8_t* frame) {
    return frame[7] == 0x0D && frame[15] == 0x0D && frame[23] == 0x0D && frame[24] == 0x0A;
}

int TextFrameNextStart(const uint8_t* frame, int count) {
    static const struct {
        int at;
        uint8_t value;
    } kMarkers[] = {{7, 0x0D}, {15, 0x0D}, {23, 0x0D}, {24, 0x0A}};
    for (int s = 1; s < count; ++s) {
        bool fits = true;
        for (const auto& m : kMarkers) fits = fits && (s + m.at >= count || frame[s + m.at] == m.value);
        if (fits) return s;
    }
    return count;
}

namespace {
const int kTextFieldLength = 7;

// Blanks, an optional '-', digits with at most one point, blanks.
bool NumberField(const uint8_t* f, bool blankAllowed) {
    int i = 0;
    while (i < kTextFieldLength && f[i] == ' ') ++i;
    if (i == kTextFieldLength) return blankAllowed;
    if (f[i] == '-') ++i;
    int digits = 0, points = 0;
    for (; i < kTextFieldLength && f[i] != ' '; ++i) {
        if (f[i] >= '0' && f[i] <= '9') {
            ++digits;
        } else if ((f[i] == '.' || f[i] == ',') && points == 0) {
            ++points;
        } else {
            return false;
        }
    }
    while (i < kTextFieldLength && f[i] == ' ') ++i;
    return i == kTextFieldLength && digits > 0;
}
}  // namespace

bool TextFieldsOk(const uint8_t* frame) {
    return NumberField(frame, false) && NumberField(frame + 8, true) && NumberField(frame + 16, true);
}

std::string TextFrameLine(const uint8_t* frame) {
    std::string line;
    for (int field = 0; field < 3; ++field) {
        std::string text;
        bool ended = false;
        for (int i = 0; i < kTextFieldLength; ++i) {
            const char c = static_cast<char>(frame[field * 8 + i]);
            if (c == '\0') {
                ended = true;
                break;
            }
            text += c;
        }
        line += listener::WithoutMinusZero(text);
        if (ended) return line;
        line += ';';
    }
    return line;
}

DigitReading DecodeDigitFrame(const uint8_t* frame) {
    return DigitReading{DigitGroupValue(frame), DigitGroupValue(frame + 6), DigitGroupValue(frame + 12)};
}

bool DigitFrameOk(const uint8_t* frame) {
    for (int i = 0; i < kDigitFrameLength; ++i)
        if (frame[i] > 9) return false;
    return true;
}

namespace {
const listener::EventField kTextFields[] = {{"weight", true}, {"price", true}, {"cost", true}};
const listener::EventField kDigitFields[] = {{"weight", true}, {"price", true}, {"cost", true}, {"device", false}};
}  // namespace
const listener::EventLine kTextEventLine = {kTextFields, 3};
const listener::EventLine kDigitEventLine = {kDigitFields, 4};

std::string DigitFrameLine(double weightKg, double price, double cost, const char* deviceId) {
    return listener::BoundedLine(listener::FixedField(weightKg, 6, 3) + ";" + listener::FixedField(price, 6, 2) +
                                 ";" + listener::FixedField(cost, 6, 2) + ";" + deviceId + ";");
}

}  // namespace vta60
}  // namespace zel

using namespace zel::vta60;

// Model 15.

ScalesVTA_Thread_Sbarco::ScalesVTA_Thread_Sbarco() : CScalesListener() {}

ScalesVTA_Thread_Sbarco::~ScalesVTA_Thread_Sbarco() { Shutdown(); }

CScalesListener::Next ScalesVTA_Thread_Sbarco::HandleFrame(const uint8_t* frame, int count) {
    if (count < kTextFrameLength) return Next::Pause;
    if (!TextFrameOk(frame)) return Next::Refused;
    // In its place, but a field holds no number: no reading.
    if (!TextFieldsOk(frame)) return Refuse(Next::Continue, "a field holds no number");
    // The scale's own text: no coefficient, no device ID, no window message.
    NotifyPlatform(TextFrameLine(frame));
    return Next::Pause;
}

// Model 22 (even parity).

ScalesVTA_Thread_Prot4::ScalesVTA_Thread_Prot4() : CScalesListener(), pricePending(0), tarePending(0), pendingPrice(0) {}

ScalesVTA_Thread_Prot4::~ScalesVTA_Thread_Prot4() { Shutdown(); }

int32_t ScalesVTA_Thread_Prot4::Tare(double) {
    CAutoLockMutex guard(lock);
    tarePending = 1;
    WakeListener();
    return 0;
}

int32_t ScalesVTA_Thread_Prot4::SendPrice(int32_t price) {
    if (static_cast<uint32_t>(price) > static_cast<uint32_t>(kMaxPrice)) return zel::kBadPrice;
    CAutoLockMutex guard(lock);
    pendingPrice = price;
    pricePending = 1;
    WakeListener();
    return 0;
}

void ScalesVTA_Thread_Prot4::BeforeReadAttempt() {
    SendPendingPrice();
    SendPendingTare();
}

int ScalesVTA_Thread_Prot4::SendPendingPrice() {
    CAutoLockMutex guard(lock);
    if (!pricePending) return 0;
    pricePending = 0;
    uint8_t command[kPriceCommandLength];
    BuildVtaPriceCommand(pendingPrice, command);
    // The scale takes the price reliably only when it comes twice.
    int first = SendCommand(command, kPriceCommandLength, kPriceRepeatPauseMs);
    int second = SendCommand(command, kPriceCommandLength, zel::exchange::kCommandPauseMs);
    return first | second;
}

int ScalesVTA_Thread_Prot4::SendPendingTare() {
    CAutoLockMutex guard(lock);
    if (!tarePending) return 0;
    tarePending = 0;
    return SendCommand(kTareCommand, kTareCommandLength, zel::exchange::kCommandPauseMs);
}

CScalesListener::Next ScalesVTA_Thread_Prot4::HandleFrame(const uint8_t* frame, int count) {
    if (count < kDigitFrameLength) return Next::Pause;
    // No marker tells where a frame begins: a refused one is dropped whole.
    if (!DigitFrameOk(frame)) return Next::Continue;
    DigitReading reading = DecodeDigitFrame(frame);
    double weight = reading.grams / 1000.0 * GetCoeff();
    double price = reading.price / 100.0;
    double cost = reading.cost / 100.0;
    Publish(DigitFrameLine(weight, price, cost, deviceId), zel::listener::WeightMessageParam(weight),
            static_cast<uint32_t>(reading.price));
    return Next::Pause;
}
