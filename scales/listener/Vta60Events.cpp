#include "scales/listener/Vta60Events.h"

#include "core/ResultCodes.h"
#include "core/Text.h"

namespace zel {
namespace vta60 {

const uint8_t kTareCommand[kTareCommandLength] = {0x00, 0x00, 0x01};

exchange::CommandList Vta60Commands() {
    return {exchange::CommandPattern("tare").Then(kTareCommand), exchange::CommandPattern("price").Then(prompribor::kVtaPrice)};
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

listener::EventJudgement JudgeTextFrame(const uint8_t* frame, int count) {
    listener::EventJudgement j;
    if (count < kTextFrameLength) {
        j.why = "fewer than 25 bytes";
        return j;
    }
    if (!TextFrameOk(frame)) {
        j.verdict = listener::EventVerdict::kResync;
        j.why = "the separators are not in their places";
        return j;
    }
    // In its place, but a field holds no number: no reading.
    if (!TextFieldsOk(frame)) {
        j.verdict = listener::EventVerdict::kNoNumber;
        j.why = "a field holds no number";
        return j;
    }
    j.verdict = listener::EventVerdict::kReading;
    // A blank price or cost reads 0.
    ReadNumberField(frame, kTextFieldLength, false, j.reading.weight);
    ReadNumberField(frame + 8, kTextFieldLength, false, j.reading.price);
    ReadNumberField(frame + 16, kTextFieldLength, false, j.reading.cost);
    j.reading.text = TextFrameLine(frame);
    return j;
}

listener::EventJudgement JudgeDigitFrame(const uint8_t* frame, int count) {
    listener::EventJudgement j;
    if (count < kDigitFrameLength) {
        j.why = "fewer than 18 bytes";
        return j;
    }
    // No marker tells where a frame begins: a refused one is dropped whole.
    if (!DigitFrameOk(frame)) {
        j.verdict = listener::EventVerdict::kDropped;
        j.why = "a byte holds no digit value";
        return j;
    }
    const DigitReading r = DecodeDigitFrame(frame);
    j.verdict = listener::EventVerdict::kReading;
    j.reading.weight = r.grams / 1000.0;
    j.reading.price = r.price / 100.0;
    j.reading.cost = r.cost / 100.0;
    return j;
}

namespace {

listener::EventOutput TextOutput(const listener::EventReading& r, const char*) { return {r.text, 0, 0}; }

listener::EventOutput DigitOutput(const listener::EventReading& r, const char* deviceId) {
    // lParam: the price as received, in hundredths.
    return {DigitFrameLine(r.weight, r.price, r.cost, deviceId), listener::WeightMessageParam(r.weight),
            listener::MessageValue(r.price * 100.0)};
}

int BuildPrice(int32_t price, double, uint8_t* out) {
    BuildVtaPriceCommand(price, out);
    return kPriceCommandLength;
}

int BuildTare(int32_t, double, uint8_t* out) {
    for (int i = 0; i < kTareCommandLength; ++i) out[i] = kTareCommand[i];
    return kTareCommandLength;
}

// The scale takes the price reliably only when it comes twice.
const listener::EventCommand kDigitSent[] = {
    {.what = "price", .when = listener::CommandTime::kBeforeRead, .build = BuildPrice, .repeats = 2,
     .repeatPauseMs = kPriceRepeatPauseMs},
    {.what = "tare", .when = listener::CommandTime::kBeforeRead, .build = BuildTare},
};

}  // namespace

const listener::EventProtocol kTextProtocol = {
    .name = "vta60-text",
    .length = kTextFrameLength,
    .nextStart = TextFrameNextStart,
    .judge = JudgeTextFrame,
    .format = TextOutput,
    .scaled = false,
    .broadcast = false,
    .line = &kTextEventLine,
    .noPriceResult = kNotSupported,
};

const listener::EventProtocol kDigitProtocol = {
    .name = "vta60-digits",
    .length = kDigitFrameLength,
    .judge = JudgeDigitFrame,
    .format = DigitOutput,
    .line = &kDigitEventLine,
    .commands = kDigitSent,
    .commandCount = 2,
    .priceCommand = 0,
    .maxPrice = kMaxPrice,
    .tare = listener::TareRule::kFlag,
    .tareCommand = 1,
    .patterns = Vta60Commands,
};

}  // namespace vta60
}  // namespace zel
