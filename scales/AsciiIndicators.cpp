#include "scales/AsciiIndicators.h"

#include <cfloat>
#include <cmath>

#include "core/ResultCodes.h"
#include "core/Text.h"
#include "scales/Indicators.h"

namespace zel {
namespace ascii {

using exchange::Decoded;
using exchange::HeaderPolicy;
using exchange::PolledProtocol;
using exchange::Reading;
using exchange::ByteClass;
using exchange::Unit;
using exchange::Verdict;

namespace {

const uint8_t kCr = 0x0D;
const uint8_t kLf = 0x0A;
const uint8_t kStx = 0x02;
const uint8_t kEtx = 0x03;

// The replies of variable length are collected into this much.
const int kLongReply = PolledProtocol::kMaxReply;
const int kR320Reply = 30;
// DIGI, KELI and R320 replies hold more than this many bytes.
const size_t kShortest = 10;
const size_t kHbmShortest = 6;

const size_t kR320WeightOffset = 9;

const uint8_t kRadwagRequest[] = {'S', 'U', 'I', kCr, kLf};
const uint8_t kRadwagTareBytes[] = {'I', kCr, kLf};
const uint8_t kDigiRequest[] = {0x05};
const uint8_t kHbmRequest[] = {'S', '1', ';', 'M', 'S', 'V', '?', ';'};
const uint8_t kHbmTareBytes[] = {'S', '1', ';', 'T', 'A', 'R', ';'};
const uint8_t kKeliRequest[] = {kStx, 'B', kEtx};
const uint8_t kKeliZeroBytes[] = {kStx, 'E', kEtx};
const uint8_t kR320Request[] = {'2', '0', '0', '5', '0', '0', '2', '7', ':', kCr, kLf};

// Copies frame[from, to) as text, at most `max` bytes, and terminates it.
void CopyText(const uint8_t* frame, size_t from, size_t to, char* text, size_t max) {
    size_t w = 0;
    for (size_t i = from; i < to && w < max; ++i) text[w++] = static_cast<char>(frame[i]);
    text[w] = '\0';
}

}  // namespace

// --- Radwag ------------------------------------------------------------------

namespace {

// The weight text, bytes 6 to 14: right- or left-aligned among spaces; the
// sign has its own byte (5) and the unit its own bytes (15 to 18).
const uint8_t kRadwagGrammar = exchange::kLeadingPad | exchange::kTrailingPad | exchange::kSign | exchange::kPoint |
                               exchange::kComma;

bool RadwagWeight(const uint8_t* frame, double& value) {
    return indicators::PointBetweenDigits(frame + 6, 9) && exchange::ReadNumberField(frame + 6, 9, kRadwagGrammar, value);
}

// The marks the indicator puts where the stability mark stands.
const uint8_t kRadwagOver = '^';
const uint8_t kRadwagUnder = 'v';
const uint8_t kRadwagError = 'E';

bool RadwagMarksRange(uint8_t status) { return status == kRadwagOver || status == kRadwagUnder; }

const uint8_t kSui[] = {'S', 'U', 'I'};
const uint8_t kCrLf[] = {kCr, kLf};
const exchange::Field kRadwagFields[] = {
    {.offset = 0, .length = 3, .cls = ByteClass::kFixed, .fixed = kSui},
    {.offset = 3, .length = 1, .cls = ByteClass::kStatus},
    {.offset = 4, .length = 1, .cls = ByteClass::kFree},
    {.offset = 5, .length = 1, .cls = ByteClass::kNumber, .grammar = exchange::kSign},
    {.offset = 6, .length = 9, .cls = ByteClass::kNumber, .grammar = kRadwagGrammar, .continues = true},
    {.offset = 15, .length = 4, .cls = ByteClass::kUnit},
    {.offset = 19, .length = 2, .cls = ByteClass::kFixed, .fixed = kCrLf},
};
const exchange::FrameLayout kRadwagLayout = {kRadwagFields, 7};

}  // namespace

bool AcceptsRadwag(const uint8_t* frame, size_t length) {
    double v;
    return frame && length == kRadwagLength && frame[0] == 'S' && frame[1] == 'U' && frame[2] == 'I' &&
           frame[19] == kCr && frame[20] == kLf && (RadwagMarksRange(frame[3]) || RadwagWeight(frame, v));
}

Decoded DecodeRadwag(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kRadwagLength) return kNoAnswer;
    // Over or under the weighing range: no weight, whatever the field shows.
    if (RadwagMarksRange(frame[3])) {
        out.weight = 0.0;
        out.stable = 0;
        return kOverload;
    }
    if (frame[3] == kRadwagError) return exchange::Refuse(exchange::kWhyErrorMark);
    double v;
    if (!RadwagWeight(frame, v)) return exchange::Refuse(exchange::kWhyNoNumber);
    const uint8_t sign = frame[5];
    if (sign != ' ' && sign != '-' && sign != '+') return exchange::Refuse(exchange::kWhyNoNumber);
    // A sign in its own byte and another in the field make two.
    for (size_t i = 6; sign != ' ' && i < 15; ++i)
        if (frame[i] == '-' || frame[i] == '+') return exchange::Refuse(exchange::kWhyNoNumber);
    bool word = false;
    const Unit unit = indicators::UnitField(frame + 15, 4, word);
    if (word && unit == Unit::kUnknown) return exchange::Refuse(exchange::kWhyUnknownUnit);
    double kg;
    if (!indicators::Deliver(Negated(v, sign == '-'), unit, Unit::kKilogram, Unit::kKilogram, kg))
        return exchange::Refuse(exchange::kWhyNotMetric);
    out.weight = kg;
    out.stable = frame[3] == '?' ? 0 : 1;
    return kOk;
}

// --- DIGI --------------------------------------------------------------------

bool DigiComplete(const uint8_t* frame, size_t count) {
    return frame && count > kShortest && frame[count - 1] == kLf;
}

namespace {

const uint8_t kDigiStable = 0x02;
const uint8_t kDigiNegative = 0x04;
// Over and under the range; the weight field then shows no number.
const uint8_t kDigiOutOfRange = 0x01 | 0x08;

// Bytes 4 to 9: spaces, then digits, at most one decimal point and the
// dashes the display shows for a digit it does not light (read as '0');
// spaces may close the field. A field without a digit is no weight.
bool DigiWeightField(const uint8_t* frame) {
    size_t i = 4, digits = 0;
    bool point = false;
    while (i < 10 && frame[i] == ' ') ++i;
    for (; i < 10 && frame[i] != ' '; ++i) {
        const uint8_t c = frame[i];
        if (c >= '0' && c <= '9') {
            ++digits;
        } else if ((c == '.' || c == ',') && !point) {
            // Between two digits (or dashes, which stand for digits).
            auto digit = [](uint8_t b) { return (b >= '0' && b <= '9') || b == '-'; };
            if (i == 4 || i == 9 || !digit(frame[i - 1]) || !digit(frame[i + 1])) return false;
            point = true;
        } else if (c != '-') {
            return false;
        }
    }
    while (i < 10 && frame[i] == ' ') ++i;
    return i == 10 && digits > 0;
}

bool DigiOverload(const uint8_t* frame) { return (frame[1] & kDigiOutOfRange) && !DigiWeightField(frame); }

const uint8_t kCrZero[] = {kCr, '0'};
const uint8_t kCrOnly[] = {kCr};
const exchange::Field kDigiFields[] = {
    {.offset = 0, .length = 1, .cls = ByteClass::kFree},
    // Stable, sign and range bits: every value with a number is a reading.
    {.offset = 1, .length = 1, .cls = ByteClass::kBinary},
    {.offset = 2, .length = 2, .cls = ByteClass::kFixed, .fixed = kCrZero},
    {.offset = 4, .length = 6, .cls = ByteClass::kNumber,
     .grammar = exchange::kLeadingPad | exchange::kTrailingPad | exchange::kPoint | exchange::kComma |
                exchange::kDashDigit},
    {.offset = 10, .length = 1, .cls = ByteClass::kFixed, .fixed = kCrOnly},
};
const exchange::FrameLayout kDigiLayout = {kDigiFields, 5, true};

}  // namespace

bool AcceptsDigi(const uint8_t* frame, size_t length) {
    return DigiComplete(frame, length) && frame[2] == kCr && frame[3] == '0' && frame[10] == kCr &&
           (DigiWeightField(frame) || DigiOverload(frame));
}

Decoded DecodeDigi(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length <= kShortest) return kNoAnswer;
    if (DigiOverload(frame)) {
        out.weight = 0.0;
        out.stable = 0;
        return kOverload;
    }
    if (!DigiWeightField(frame)) return exchange::Refuse(exchange::kWhyNoNumber);
    char text[7];
    CopyText(frame, 4, 10, text, 6);
    for (char& c : text)
        if (c == '-') c = '0';
    const uint8_t status = frame[1];
    const double v = ParseNumberText(text);
    out.weight = Negated(v, (status & kDigiNegative) != 0);
    out.stable = (status & kDigiStable) ? 1 : 0;
    return kOk;
}

// --- HBM ---------------------------------------------------------------------

bool HbmComplete(const uint8_t* frame, size_t count) {
    return frame && count >= kHbmShortest && (frame[count - 1] == kCr || frame[count - 1] == kLf);
}

namespace {

const uint8_t kHbmGrammar = exchange::kLeadingPad | exchange::kTrailingPad | exchange::kSign | exchange::kSignFirst |
                            exchange::kPoint;

// The reply is one number and the line end: spaces, a sign, the digits with
// at most one point, spaces, then CR and/or LF to the end. A space after the
// digits ends the number; it is never a digit.
bool HbmWeight(const uint8_t* frame, size_t length, double& value) {
    size_t end = length;
    while (end > 0 && (frame[end - 1] == kCr || frame[end - 1] == kLf)) --end;
    if (end == length) return false;
    // The padding of a long reply is no part of the number.
    size_t from = 0;
    while (from < end && frame[from] == ' ') ++from;
    while (end > from && frame[end - 1] == ' ') --end;
    return indicators::PointBetweenDigits(frame + from, end - from) &&
           exchange::ReadNumberField(frame + from, end - from, kHbmGrammar, value);
}

// As the indicator sends it: the number right-aligned in 7, CR LF. Longer
// numbers widen it.
const exchange::Field kHbmFields[] = {
    {.offset = 0, .length = 7, .cls = ByteClass::kNumber, .grammar = kHbmGrammar},
};
const exchange::FrameLayout kHbmLayout = {kHbmFields, 1, true};

}  // namespace

bool AcceptsHbm(const uint8_t* frame, size_t length) {
    double v;
    return frame && length >= kHbmShortest && HbmWeight(frame, length, v);
}

Decoded DecodeHbm(const uint8_t* frame, size_t length, Reading& out) {
    double v;
    if (!frame || length < kHbmShortest || !HbmWeight(frame, length, v))
        return exchange::Refuse(exchange::kWhyNoNumber);
    out.weight = exchange::NoMinusZero(v);
    out.stable = 0;
    return kOk;
}

// --- KELI --------------------------------------------------------------------

bool KeliComplete(const uint8_t* frame, size_t count) {
    return frame && count > kShortest && frame[count - 1] == kEtx;
}

namespace {

const uint8_t kKeliGrammar = exchange::kLeadingPad | exchange::kTrailingPad | exchange::kSign | exchange::kPoint |
                             exchange::kComma;

// The weight text runs from byte 4 up to the closing ETX: the number, then
// perhaps its unit.
const char* KeliReading(const uint8_t* frame, size_t length, double& kg) {
    if (frame[length - 1] != kEtx) return exchange::kWhyNoNumber;
    double v = 0.0;
    Unit unit = Unit::kUnknown;
    if (const char* why = indicators::ReadWeightText(frame + 4, length - 5, kKeliGrammar, v, unit)) return why;
    if (!indicators::Deliver(v, unit, Unit::kKilogram, Unit::kKilogram, kg)) return exchange::kWhyNotMetric;
    return nullptr;
}

const uint8_t kStxNw[] = {kStx, 'N', 'W', ':'};
// As the simulated indicator sends it: the number right-aligned in 8, " kg",
// ETX; the text is of any length.
const exchange::Field kKeliFields[] = {
    {.offset = 0, .length = 4, .cls = ByteClass::kFixed, .fixed = kStxNw},
    // The number's width varies: the space before the unit may close it.
    {.offset = 4, .length = 9, .cls = ByteClass::kNumber, .grammar = kKeliGrammar},
    {.offset = 13, .length = 2, .cls = ByteClass::kUnit},
};
const exchange::FrameLayout kKeliLayout = {kKeliFields, 3, true};

}  // namespace

bool AcceptsKeli(const uint8_t* frame, size_t length) {
    double v;
    return KeliComplete(frame, length) && frame[0] == kStx && frame[1] == 'N' && frame[2] == 'W' &&
           frame[3] == ':' && KeliReading(frame, length, v) != exchange::kWhyNoNumber;
}

Decoded DecodeKeli(const uint8_t* frame, size_t length, Reading& out) {
    double kg;
    if (!frame || length <= kShortest) return kNoAnswer;
    if (const char* why = KeliReading(frame, length, kg)) return exchange::Refuse(why);
    out.weight = kg;
    out.stable = 1;
    return kOk;
}

// --- R320 --------------------------------------------------------------------

bool R320Complete(const uint8_t* frame, size_t count) {
    return frame && count > kShortest && frame[count - 2] == kCr && frame[count - 1] == kLf;
}

bool AcceptsR320(const uint8_t* frame, size_t length) { return R320Complete(frame, length); }

double Thousandths(double value) { return WholeTowardZero(value * 1000.0); }

namespace {

// The reply's header: two hexadecimal digits of flags and address (bit 7 a
// reply, bit 6 an error, bits 0 to 4 the replying indicator, which the
// request leaves open), the command and the register asked for, ':'.
const uint8_t kR320ReplyFlag = 0x80;
const uint8_t kR320ErrorFlag = 0x40;
const uint8_t kR320CommandRegister[] = {'0', '5', '0', '0', '2', '7', ':'};

int HexDigit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Null for a weight reply to the request; else the why.
const char* R320Header(const uint8_t* frame, size_t length) {
    if (length < kR320WeightOffset) return exchange::kWhyHeader;
    const int hi = HexDigit(frame[0]), lo = HexDigit(frame[1]);
    if (hi < 0 || lo < 0) return exchange::kWhyHeader;
    const int flags = hi * 16 + lo;
    if (!(flags & kR320ReplyFlag)) return exchange::kWhyHeader;
    if (flags & kR320ErrorFlag) return exchange::kWhyErrorMark;
    for (size_t i = 0; i < sizeof kR320CommandRegister; ++i)
        if (frame[2 + i] != kR320CommandRegister[i]) return exchange::kWhyHeader;
    return nullptr;
}

const uint8_t kR320Grammar = exchange::kLeadingPad | exchange::kTrailingPad | exchange::kSign | exchange::kSignFirst |
                             exchange::kPoint | exchange::kComma;

const exchange::Field kR320Fields[] = {
    {.offset = 0, .length = 2, .cls = ByteClass::kAddress},
    {.offset = 2, .length = 7, .cls = ByteClass::kFixed, .fixed = kR320CommandRegister},
    // As the simulated indicator sends it: right-aligned in 8, CR LF; the
    // text is of any length, perhaps with its unit.
    {.offset = 9, .length = 8, .cls = ByteClass::kNumber, .grammar = kR320Grammar},
};
const exchange::FrameLayout kR320Layout = {kR320Fields, 3, true};

bool HasDigit(const uint8_t* text, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (IsDigit(text[i])) return true;
    return false;
}

}  // namespace

Decoded DecodeR320(const uint8_t* frame, size_t length, Reading& out) {
    out.weight = 0.0;
    out.stable = 0;
    if (!frame || length < kR320WeightOffset + 2 || length > static_cast<size_t>(kR320Reply))
        return Decoded(kNoAnswer, Verdict::kEndCycle, exchange::kWhyNoNumber);
    if (const char* why = R320Header(frame, length)) return exchange::Refuse(why);
    const uint8_t* text = frame + kR320WeightOffset;
    const size_t chars = length - 2 - kR320WeightOffset;
    // A reply with no digit is an answer all the same (the indicator shows
    // letters or dashes): asking again would bring the same one.
    if (!HasDigit(text, chars)) return Decoded(kNoAnswer, Verdict::kEndCycle, exchange::kWhyNoNumber);
    double v = 0.0;
    Unit unit = Unit::kUnknown;
    if (const char* why = indicators::ReadWeightText(text, chars, kR320Grammar, v, unit)) return exchange::Refuse(why);
    // Thousandths of the unit shown; grams.
    double g;
    if (!indicators::Deliver(v, unit, Unit::kKilogram, Unit::kGram, g)) return exchange::Refuse(exchange::kWhyNotMetric);
    out.weight = g;
    return kOk;
}

// --- descriptions ------------------------------------------------------------

const PolledProtocol kRadwagProtocol = {.request = kRadwagRequest,
                                        .requestLength = sizeof(kRadwagRequest),
                                        .replyLength = static_cast<int>(kRadwagLength),
                                        .header = {'S', 0},
                                        .headerCount = 1,
                                        .policy = HeaderPolicy::kStrict,
                                        .accepts = AcceptsRadwag,
                                        .decode = DecodeRadwag,
                                      .layout = &kRadwagLayout};

const PolledProtocol kDigiProtocol = {.request = kDigiRequest,
                                      .requestLength = sizeof(kDigiRequest),
                                      .replyMayStartWithRequest = true,
                                      .replyLength = kLongReply,
                                      .complete = DigiComplete,
                                      .attempts = 2,
                                      .accepts = AcceptsDigi,
                                      .decode = DecodeDigi,
                                      .layout = &kDigiLayout};

const PolledProtocol kHbmProtocol = {.request = kHbmRequest,
                                     .requestLength = sizeof(kHbmRequest),
                                     .replyLength = kLongReply,
                                     .complete = HbmComplete,
                                     .attempts = 2,
                                     .accepts = AcceptsHbm,
                                     .decode = DecodeHbm,
                                      .layout = &kHbmLayout};

const PolledProtocol kKeliProtocol = {.request = kKeliRequest,
                                      .requestLength = sizeof(kKeliRequest),
                                      .replyLength = kLongReply,
                                      .complete = KeliComplete,
                                      .attempts = 2,
                                      .accepts = AcceptsKeli,
                                      .decode = DecodeKeli,
                                      .layout = &kKeliLayout};

const PolledProtocol kR320Protocol = {.request = kR320Request,
                                      .requestLength = sizeof(kR320Request),
                                      .replyLength = kR320Reply,
                                      .complete = R320Complete,
                                      .accepts = AcceptsR320,
                                      .decode = DecodeR320,
                                      .layout = &kR320Layout};

const exchange::CommandSpec kRadwagTare = {.bytes = kRadwagTareBytes,
                                           .length = sizeof(kRadwagTareBytes),
                                           .pauseMs = 600,
                                           .drainAfter = true};

const exchange::CommandSpec kHbmTare = {.bytes = kHbmTareBytes, .length = sizeof(kHbmTareBytes)};

const exchange::CommandSpec kKeliZero = {.bytes = kKeliZeroBytes, .length = sizeof(kKeliZeroBytes), .pauseMs = 0};

}  // namespace ascii
}  // namespace zel
