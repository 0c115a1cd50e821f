#include "scales/Cas.h"

#include "core/ResultCodes.h"

namespace zel {
namespace cas {

using exchange::ByteClass;
using exchange::Field;
using exchange::FrameLayout;
using exchange::HeaderPolicy;
using exchange::PolledProtocol;
using exchange::Reading;
using exchange::Refuse;
using exchange::Unit;

namespace {

const size_t kStatusOffset = 3;
const size_t kWeightOffset = 4;
const size_t kWeightLength = 7;
const size_t kUnitOffset = 11;
const size_t kCheckOffset = 13;

const uint8_t kWeightGrammar =
    exchange::kSignFirst | exchange::kLeadingPad | exchange::kSign | exchange::kPoint;

bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }
bool IsLetter(uint8_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The weight field's number: sign, padding, digits and one point, the
// first of them a digit (" .234" is no weight).
bool ReadWeightField(const uint8_t* frame, double& value) {
    const uint8_t* f = frame + kWeightOffset;
    size_t i = 0;
    while (i < kWeightLength && (f[i] == ' ' || f[i] == '-' || f[i] == '+')) ++i;
    if (i == kWeightLength || !IsDigit(f[i])) return false;
    return exchange::ReadNumberField(f, kWeightLength, kWeightGrammar, value);
}

// What the SDL-07 sends for an overload: no digit, space, sign or point.
bool HasNumberCharacter(const uint8_t* frame) {
    for (size_t i = kWeightOffset; i < kWeightOffset + kWeightLength; ++i) {
        const uint8_t c = frame[i];
        if (IsDigit(c) || c == ' ' || c == '-' || c == '.') return true;
    }
    return false;
}

// The unit bytes spell a word (letters, maybe a space), not a blank or a
// byte of some other use.
bool SpellsWord(const uint8_t* text, size_t length) {
    bool letter = false;
    for (size_t i = 0; i < length; ++i) {
        if (IsLetter(text[i]))
            letter = true;
        else if (text[i] != ' ')
            return false;
    }
    return letter;
}

exchange::Decoded DecodeText(const uint8_t* frame, size_t length, Reading& out, bool sdl07) {
    if (!frame || length < kTextFrameLength) return kNoAnswer;
    const uint8_t check = frame[kCheckOffset];
    const bool holds = check == TextFrameCheck(frame);
    exchange::LineMemory* line = exchange::LentLineMemory();
    if (line && line->Of<CheckLock>().Refuses(holds, check)) return Refuse(exchange::kWhyCheck);

    const uint8_t status = frame[kStatusOffset];
    if (status == 'F' || frame[kWeightOffset] == 'F') {
        out.weight = 0.0;
        out.stable = 0;
        return kOverload;
    }
    const int32_t stable = status == 'S' ? 1 : 0;

    // The unit sits in two bytes before the check; a scale that sends no
    // check may spell it in three (" kg").
    Unit unit = exchange::UnitOf(frame + kUnitOffset, 2);
    if (unit == Unit::kUnknown) unit = exchange::UnitOf(frame + kUnitOffset, 3);
    if (unit == Unit::kUnknown && SpellsWord(frame + kUnitOffset, 2)) return Refuse(exchange::kWhyUnknownUnit);
    if (unit != Unit::kUnknown && !exchange::IsMetric(unit)) return Refuse(exchange::kWhyNotMetric);

    double value = 0.0;
    if (!ReadWeightField(frame, value)) {
        if (sdl07 && !HasNumberCharacter(frame)) {
            out.weight = 0.0;
            out.stable = stable;
            return kOverload;
        }
        return Refuse(exchange::kWhyNoNumber);
    }
    // A unit that is not spelled is the kilogram the scale weighs in.
    out.weight = unit == Unit::kUnknown ? value : exchange::ConvertWeight(value, unit, Unit::kKilogram);
    out.stable = stable;
    return kOk;
}

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

int32_t Signed32(uint32_t v) {
    // Two's complement without relying on the implementation's conversion.
    return v <= 0x7FFFFFFFu ? static_cast<int32_t>(v) : -static_cast<int32_t>(~v) - 1;
}

const uint8_t kCasRequest[] = {0x05, 0x11};
const uint8_t kLpRequest[] = {0x01, 0x89};

const uint8_t kTextStart[] = {0x06, 0x01, 0x02};
const uint8_t kTextEnd[] = {0x03, 0x04};
const Field kTextFields[] = {
    {0, 3, ByteClass::kFixed, kTextStart},
    {3, 1, ByteClass::kStatus},
    {4, 7, ByteClass::kNumber, nullptr, kWeightGrammar},
    {11, 2, ByteClass::kUnit},
    {13, 1, ByteClass::kCheck},
    {14, 2, ByteClass::kFixed, kTextEnd},
};
const FrameLayout kTextLayout = {kTextFields, sizeof kTextFields / sizeof kTextFields[0]};

const uint8_t kLpStart[] = {0x01, 0x80, 0xAA};
const Field kLpFields[] = {
    {0, 3, ByteClass::kFixed, kLpStart},
    {3, 1, ByteClass::kBinary},  // stable and overload bits, and the weight's sign
    {4, 2, ByteClass::kBinary},
    {6, 4, ByteClass::kBinary},
    {10, 4, ByteClass::kBinary},
    {14, 4, ByteClass::kFree},
};
const FrameLayout kLpLayout = {kLpFields, sizeof kLpFields / sizeof kLpFields[0]};

}  // namespace

bool CheckLock::Refuses(bool holds, uint8_t check) {
    if (locked_) return !holds;
    if (!holds) {
        seen_ = false;
        return false;
    }
    if (seen_ && check != first_) {
        locked_ = true;
    } else if (!seen_) {
        seen_ = true;
        first_ = check;
    }
    return false;
}

uint8_t TextFrameCheck(const uint8_t* frame) {
    uint8_t x = 0;
    for (size_t i = kStatusOffset; i < kCheckOffset; ++i) x ^= frame[i];
    return x;
}

bool AcceptsTextFrame(const uint8_t* frame, size_t length) {
    return frame && length == kTextFrameLength && frame[0] == 0x06 && frame[1] == 0x01 && frame[2] == 0x02 &&
           frame[14] == 0x03 && frame[15] == 0x04;
}

exchange::Decoded DecodeCasText(const uint8_t* frame, size_t length, Reading& out) {
    return DecodeText(frame, length, out, false);
}

exchange::Decoded DecodeSdl07Text(const uint8_t* frame, size_t length, Reading& out) {
    return DecodeText(frame, length, out, true);
}

bool AcceptsLpFrame(const uint8_t* frame, size_t length) {
    return frame && length == kLpFrameLength && frame[0] == 0x01 && frame[1] == 0x80 && frame[2] == 0xAA;
}

exchange::Decoded DecodeLp16(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kLpFrameLength) return kNoAnswer;
    const uint8_t status = frame[3];
    if (status & 0x01) return kOverload;
    double magnitude = static_cast<double>(frame[4] | frame[5] << 8);
    // A negative zero is zero.
    out.weight = exchange::NoMinusZero((status & 0x80) ? -magnitude : magnitude);
    out.price = static_cast<double>(Signed32(Le32(frame + 6)));
    out.cost = static_cast<double>(Signed32(Le32(frame + 10)));
    out.stable = (status & 0x40) ? 1 : 0;
    return kOk;
}

const PolledProtocol kCasProtocol = {.request = kCasRequest,
                                     .requestLength = 2,
                                     .splitSend = true,
                                     .replyLength = 16,
                                     .header = {0x06, 0},
                                     .headerCount = 1,
                                     .policy = HeaderPolicy::kStrict,
                                     .accepts = AcceptsTextFrame,
                                     .decode = DecodeCasText,
                                     .layout = &kTextLayout};

const PolledProtocol kSdl07Protocol = {.request = kCasRequest,
                                       .requestLength = 2,
                                       .splitSend = true,
                                       .replyLength = 16,
                                       .header = {0x06, 0},
                                       .headerCount = 1,
                                       .policy = HeaderPolicy::kStrict,
                                       .accepts = AcceptsTextFrame,
                                       .decode = DecodeSdl07Text,
                                       .layout = &kTextLayout};

const PolledProtocol kLp16Protocol = {.request = kLpRequest,
                                      .requestLength = 2,
                                      .splitSend = true,
                                      .replyMayStartWithRequest = true,
                                      .replyLength = 18,
                                      .header = {0x01, 0},
                                      .headerCount = 1,
                                      .policy = HeaderPolicy::kStrict,
                                      .accepts = AcceptsLpFrame,
                                      .decode = DecodeLp16,
                                      .layout = &kLpLayout};

}  // namespace cas
}  // namespace zel
