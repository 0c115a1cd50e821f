#include "scales/listener/Vn220Events.h"

#include <cmath>
#include <cstdlib>

#include "core/ResultCodes.h"
#include "core/Text.h"

namespace zel {
namespace vn220 {

const uint8_t kAck[kAckLength] = {0x3C, 0x00, 0x41, 0x3E};

namespace {
const uint8_t kTareValueHead[] = {0x3C, 0x00, 0x62};  // "<", address, "b"
const uint8_t kTareValueEnd = 0x3E;
const int kTareDigitBytes = 3;                        // six packed digits
}  // namespace

exchange::CommandList Vn220Commands() { return {exchange::CommandPattern("acknowledgement").Then(kAck).AnyAt(1)}; }

exchange::CommandList TaraCommands() {
    exchange::CommandPattern tare("tare value");
    tare.Then(kTareValueHead).AnyAt(1).Any(kTareDigitBytes).Then(kTareValueEnd);
    return {Vn220Commands()[0], tare};
}

namespace {
const int kStatusByte = 5;
const uint8_t kMinus = 0x20;
const uint8_t kFrameStart = 0x3C;  // '<'
const uint8_t kFrameEnd = 0x3E;    // '>'
const uint8_t kTareStart = 0x3D;   // '='


char NibbleDigit(unsigned nibble) { return static_cast<char>('0' + (nibble > 9 ? 0 : nibble)); }

double DigitsValue(const uint8_t* frame) { return ParseNumberText(FrameDigits(frame).c_str()); }
}  // namespace

bool WeightMarkersOk(const uint8_t* frame) { return frame[0] == kFrameStart && frame[6] == kFrameEnd; }

bool TaraFrameOk(const uint8_t* frame, int count) {
    if (count != kWeightFrameLength && count != kTareFrameLength) return false;
    if (!WeightMarkersOk(frame)) return false;
    return count == kWeightFrameLength || (frame[7] == kTareStart && frame[13] == kFrameEnd);
}

int NextFrameStart(const uint8_t* frame, int count) {
    for (int s = 1; s < count; ++s) {
        if (frame[s] == kFrameStart && (s + 6 >= count || frame[s + 6] == kFrameEnd)) return s;
    }
    return count;
}

std::string FrameDigits(const uint8_t* frame) {
    std::string digits;
    for (int i = 2; i <= 4; ++i) {
        digits += NibbleDigit(frame[i] >> 4);
        digits += NibbleDigit(frame[i] & 0x0F);
    }
    return digits;
}

bool WeightDigitsOk(const uint8_t* frame) {
    bool begun = false;
    for (int i = 2; i <= 4; ++i) {
        for (unsigned nibble : {static_cast<unsigned>(frame[i] >> 4), static_cast<unsigned>(frame[i] & 0x0F)}) {
            if (nibble <= 9) {
                begun = true;
            } else if (begun) {
                return false;
            }
        }
    }
    return begun;
}

double Vn220WeightKg(const uint8_t* frame) {
    static const double kScale[4] = {1000.0, 100.0, 10.0, 1.0};
    const uint8_t status = frame[kStatusByte];
    // Six digits at most: the products stay exact integers.
    int64_t grams = static_cast<int64_t>(std::trunc(DigitsValue(frame) * kScale[status & 3]));
    if (status & kMinus) grams = -grams;
    return static_cast<double>(grams) / 1000.0;
}

int64_t TaraRawWeight(const uint8_t* frame) {
    int64_t raw = static_cast<int64_t>(std::trunc(DigitsValue(frame)));
    return (frame[kStatusByte] & kMinus) ? -raw : raw;
}

int32_t TaraRawTare(const uint8_t* frame, int count) {
    if (count != kTareFrameLength || frame[7] != kTareStart || frame[13] != kFrameEnd) return 0;
    return frame[10] * 256 + frame[11];
}

int32_t TareInScaleUnits(int32_t tareGrams, double coeff) {
    if (coeff > 0.000999999 && coeff < 0.0010001) return tareGrams;
    if (coeff > 0.00999999 && coeff < 0.010001) return tareGrams / 10;
    if (coeff > 0.0999999 && coeff < 0.10001) return tareGrams / 100;
    if (coeff > 0.999999 && coeff < 1.001) return tareGrams / 1000;
    return tareGrams;
}

void BuildTareCommand(int32_t value, uint8_t out[kTareCommandLength]) {
    int64_t magnitude = std::llabs(static_cast<int64_t>(value)) % 1000000;
    uint8_t digits[6];
    for (int i = 5; i >= 0; --i) {
        digits[i] = static_cast<uint8_t>(magnitude % 10);
        magnitude /= 10;
    }
    static_assert(sizeof kTareValueHead + kTareDigitBytes + 1 == kTareCommandLength, "head, digits, end");
    for (size_t i = 0; i < sizeof kTareValueHead; ++i) out[i] = kTareValueHead[i];
    for (int i = 0; i < kTareDigitBytes; ++i)
        out[sizeof kTareValueHead + i] = static_cast<uint8_t>(digits[2 * i] << 4 | digits[2 * i + 1]);
    out[kTareCommandLength - 1] = kTareValueEnd;
}

namespace {
const listener::EventField kVn220Fields[] = {{"weight", true}, {nullptr, true}, {nullptr, true}, {"device", false}};
const listener::EventField kTaraFields[] = {{"weight", true}, {"tare", true}, {nullptr, true}, {"device", false}};
}  // namespace
const listener::EventLine kVn220EventLine = {kVn220Fields, 4};
const listener::EventLine kTaraEventLine = {kTaraFields, 4};

std::string Vn220Line(double weightKg, const char* deviceId) {
    return listener::BoundedLine(listener::FixedField(weightKg, 6, 3) + ";" + FormatFixed(0.0, 6, 2) + ";" +
                                 FormatFixed(0.0, 6, 2) + ";" + deviceId + ";");
}

std::string TaraLine(double weight, double tare, const char* deviceId) {
    return listener::BoundedLine(listener::FixedField(weight, 6, 3) + ";" + listener::FixedField(tare, 6, 3) + ";" +
                                 FormatFixed(0.0, 6, 2) + ";" + deviceId + ";");
}

namespace {
const char kNoWeightNumber[] = "the weight digits hold no number";
}  // namespace

listener::EventJudgement JudgeVn220Frame(const uint8_t* frame, int count) {
    listener::EventJudgement j;
    if (count < kWeightFrameLength) {
        j.why = "fewer than 7 bytes";
        return j;
    }
    if (!WeightMarkersOk(frame)) {
        j.verdict = listener::EventVerdict::kResync;
        j.why = "the frame markers are not in their places";
        return j;
    }
    // Not acknowledged, so the scale may send it again.
    if (!WeightDigitsOk(frame)) {
        j.verdict = listener::EventVerdict::kNoNumber;
        j.why = kNoWeightNumber;
        return j;
    }
    j.verdict = listener::EventVerdict::kReading;
    j.reading.weight = Vn220WeightKg(frame);
    j.acknowledge = true;
    return j;
}

listener::EventJudgement JudgeTaraFrame(const uint8_t* frame, int count) {
    listener::EventJudgement j;
    if (count != kWeightFrameLength && count != kTareFrameLength) {
        j.why = "neither 7 nor 14 bytes";
        return j;
    }
    if (!TaraFrameOk(frame, count)) {
        j.verdict = listener::EventVerdict::kResync;
        j.why = "the frame markers are not in their places";
        return j;
    }
    if (!WeightDigitsOk(frame)) {
        j.verdict = listener::EventVerdict::kNoNumber;
        j.why = kNoWeightNumber;
        return j;
    }
    // A weight frame alone is read but not published, and not acknowledged.
    j.verdict = count == kTareFrameLength ? listener::EventVerdict::kReading : listener::EventVerdict::kWithheld;
    j.reading.weight = static_cast<double>(TaraRawWeight(frame));
    j.reading.tare = TaraRawTare(frame, count);
    j.acknowledge = count == kTareFrameLength;
    if (count == kWeightFrameLength) j.why = "a weight frame without its tare extension";
    return j;
}

namespace {

int BuildAck(int32_t, double, uint8_t* out) {
    for (int i = 0; i < kAckLength; ++i) out[i] = kAck[i];
    return kAckLength;
}

// The tare in grams, in the unit the coefficient implies.
int BuildTareValue(int32_t grams, double coeff, uint8_t* out) {
    BuildTareCommand(TareInScaleUnits(grams, coeff), out);
    return kTareCommandLength;
}

listener::EventOutput Vn220Output(const listener::EventReading& r, const char* deviceId) {
    return {Vn220Line(r.weight, deviceId), listener::WeightMessageParam(r.weight), 0};
}

listener::EventOutput TaraOutput(const listener::EventReading& r, const char* deviceId) {
    return {TaraLine(r.weight, r.tare, deviceId), listener::WeightMessageParam(r.weight),
            listener::TareMessageParam(r.tare)};
}

const listener::EventCommand kVn220Sent[] = {
    {.what = "acknowledgement", .when = listener::CommandTime::kBeforeRead, .build = BuildAck},
};
const listener::EventCommand kTaraSent[] = {
    {.what = "tare value", .when = listener::CommandTime::kBeforeCycle, .build = BuildTareValue},
    {.what = "acknowledgement", .when = listener::CommandTime::kBeforeCycle, .build = BuildAck},
};

}  // namespace

const listener::EventProtocol kVn220Protocol = {
    .name = "vn220",
    .length = kWeightFrameLength,
    .nextStart = NextFrameStart,
    .judge = JudgeVn220Frame,
    .format = Vn220Output,
    .line = &kVn220EventLine,
    .commands = kVn220Sent,
    .commandCount = 1,
    .ackCommand = 0,
    .ack = listener::AckRule::kAfterReading,
    .priceCommand = 0,  // SendPrice asks for the acknowledgement; its value is ignored
    .patterns = Vn220Commands,
};

const listener::EventProtocol kTaraProtocol = {
    .name = "vn220-tare",
    .length = kTareFrameLength,
    .nextStart = NextFrameStart,
    .judge = JudgeTaraFrame,
    .format = TaraOutput,
    .line = &kTaraEventLine,
    .commands = kTaraSent,
    .commandCount = 2,
    .ackCommand = 1,
    .ack = listener::AckRule::kByFrame,
    .priceCommand = 0,
    .tare = listener::TareRule::kAsPrice,
    .patterns = TaraCommands,
};

}  // namespace vn220
}  // namespace zel
