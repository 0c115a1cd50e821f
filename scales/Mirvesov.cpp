#include "scales/Mirvesov.h"

#include <cmath>

#include "core/ResultCodes.h"
#include "core/Text.h"

namespace zel {
namespace mirvesov {

using exchange::ByteClass;
using exchange::CommandSpec;
using exchange::Decoded;
using exchange::Field;
using exchange::FrameLayout;
using exchange::HeaderPolicy;
using exchange::PolledProtocol;
using exchange::Reading;
using exchange::Refuse;

namespace {

const uint8_t kStx = 0x02;
const uint8_t kEtx = 0x03;
const uint8_t kCr = 0x0D;
const uint8_t kLf = 0x0A;

const uint8_t kA9Request[] = {0x02, 0x40, 0x44, 0x00, 0x04, 0x03};
const uint8_t kDs2Request[] = {0x02, 0x41, 0x44, 0x30, 0x35, 0x03};  // the K9 is asked alike
const uint8_t kA12Request[] = {'R'};
const uint8_t kA12TareByte[] = {'T'};
const uint8_t kA12ZeroByte[] = {'Z'};

// 'D' frame: the address the request named at 1, sign at 3, weight field
// at 4..10, check characters at 11 and 12.
const size_t kDAddress = 1;
const size_t kDField = 4;
const size_t kDFieldLength = 7;
const size_t kDCheck = 11;
const size_t kA9Code = 10;

// А9 continuous frame: sign at 1, weight at 2..7, decimal code at 8, check
// characters at 9 and 10.
const size_t kContinCode = 8;
const size_t kContinCheck = 9;

// А12EH status words: A (offset 1) and C (offset 3) have bit 5 always set
// and bit 6 always clear, B (offset 2) bit 5 always set. A byte of another
// shape in B or C (older indicators send 00, 02, 04, 08) says nothing of
// the unit.
const uint8_t kA12ehNegative = 0x02;
const uint8_t kA12ehOutOfRange = 0x04;
const uint8_t kA12ehMoving = 0x08;
const uint8_t kA12ehKilograms = 0x10;
const uint8_t kStatusWordShape = 0x60;  // bits 5 and 6 (bit 7 is parity)
const uint8_t kStatusWordBits = 0x20;   // ... as a status word has them

bool StatusWordShaped(uint8_t b) { return (b & kStatusWordShape) == kStatusWordBits; }

// True when frame[from .. to] are all printable characters.
bool PrintableField(const uint8_t* frame, size_t from, size_t to) {
    for (size_t i = from; i <= to; ++i)
        if (frame[i] < 0x20 || frame[i] > 0x7E) return false;
    return true;
}

// Byte kinds of the streamed frames beyond their own checks: the weight
// (and sign) positions hold characters, never a line-control byte or the
// next frame's header.
bool A12ehKinds(const uint8_t* frame, size_t length) {
    return frame && length == kA12ehFrameLength && PrintableField(frame, 4, 9);
}

bool A9ContinKinds(const uint8_t* frame, size_t length) {
    return frame && length == kA9ContinFrameLength && PrintableField(frame, 1, 7);
}

const exchange::StreamFraming kA12ehStream = {.kinds = A12ehKinds};
const exchange::StreamFraming kA9ContinStream = {.kinds = A9ContinKinds};

// value x 10^exponent, dividing for negative exponents so the result is the
// double nearest to the decimal the scale shows.
double Scaled(double value, int exponent) {
    double f = 1.0;
    for (int k = exponent < 0 ? -exponent : exponent; k > 0; --k) f *= 10.0;
    return exponent < 0 ? value / f : value * f;
}

bool IsSign(uint8_t b) { return b == '+' || b == '-' || b == ' '; }

int HexValue(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Whether a frame with this check may be read, given what the line has
// sent so far, and what it teaches. Without a line (a frame judged on its
// own): a wrong check is refused, a frame without one is read.
//   unknown   a valid check counts toward the lock; two in a row lock the
//             line. A wrong one is refused, unless the scale has sent three
//             wrong ones in a row with no valid one: those two bytes are
//             then something else on this scale, and are not read.
//   locked    only a valid check is read.
bool AdmitCheck(CheckSeen seen) {
    exchange::LineMemory* line = exchange::LentLineMemory();
    if (!line) return seen != CheckSeen::kWrong;
    CheckMemory* m = &line->Of<CheckMemory>();
    if (m->locked) return seen == CheckSeen::kValid;
    switch (seen) {
        case CheckSeen::kValid:
            m->wrong = 0;
            if (++m->valid >= kLockAfter) m->locked = true;
            return true;
        case CheckSeen::kWrong:
            m->valid = 0;
            if (m->absent) return true;
            if (++m->wrong >= kAbsentAfter) m->absent = true;
            return m->absent;
        case CheckSeen::kNone:
            m->valid = 0;
            return true;
    }
    return false;
}

// The number field of a layout (its first kNumber field).
const Field& NumberFieldOf(const FrameLayout& layout) {
    for (size_t i = 0; i < layout.count; ++i)
        if (layout.fields[i].cls == ByteClass::kNumber) return layout.fields[i];
    return layout.fields[0];
}

// The 'D' frames. The sign byte opens the number field: '+', '-' or a
// space, then the weight.
const uint8_t kStxByte[] = {kStx};
const uint8_t kEtxByte[] = {kEtx};
const uint8_t kDByte[] = {'D'};
const uint8_t kCrByte[] = {kCr};
const uint8_t kCrLf[] = {kCr, kLf};
const uint8_t kWByte[] = {'w'};

// А9: six digits (right-aligned), then the decimal code.
const Field kA9Fields[] = {
    {0, 1, ByteClass::kFixed, kStxByte},
    {1, 1, ByteClass::kAddress},
    {2, 1, ByteClass::kFixed, kDByte},
    {3, 7, ByteClass::kNumber, nullptr, exchange::kSignFirst | exchange::kLeadingPad},
    {10, 1, ByteClass::kDecimals},
    {11, 2, ByteClass::kCheck},
    {13, 1, ByteClass::kFixed, kEtxByte},
};
// DS2: zero-padded with its point ("001.234"); a shorter text may be
// followed by spaces.
const Field kDs2Fields[] = {
    {0, 1, ByteClass::kFixed, kStxByte},
    {1, 1, ByteClass::kFree},
    {2, 1, ByteClass::kFixed, kDByte},
    {3, 8, ByteClass::kNumber, nullptr, exchange::kSignFirst | exchange::kTrailingPad | exchange::kPoint},
    {11, 2, ByteClass::kCheck},
    {13, 1, ByteClass::kFixed, kEtxByte},
};
// K9: right-aligned text with its point.
const Field kK9Fields[] = {
    {0, 1, ByteClass::kFixed, kStxByte},
    {1, 1, ByteClass::kAddress},
    {2, 1, ByteClass::kFixed, kDByte},
    {3, 8, ByteClass::kNumber, nullptr,
     exchange::kSignFirst | exchange::kLeadingPad | exchange::kTrailingPad | exchange::kPoint | exchange::kComma},
    {11, 2, ByteClass::kCheck},
    {13, 1, ByteClass::kFixed, kEtxByte},
};
const Field kA12Fields[] = {
    {0, 1, ByteClass::kFixed, kWByte},
    {1, 1, ByteClass::kStatus},
    {2, 9, ByteClass::kNumber, nullptr,
     exchange::kLeadingPad | exchange::kTrailingPad | exchange::kSign | exchange::kPoint | exchange::kComma},
    {11, 2, ByteClass::kFixed, kCrLf},
};
const Field kA12ehFields[] = {
    {0, 1, ByteClass::kFixed, kStxByte},
    {1, 1, ByteClass::kDecimals},
    {2, 1, ByteClass::kStatus},
    {3, 1, ByteClass::kUnit},
    {4, 6, ByteClass::kNumber, nullptr, exchange::kLeadingPad},
    {10, 6, ByteClass::kFree},  // the tare
    {16, 1, ByteClass::kFixed, kCrByte},
};
const Field kA9ContinFields[] = {
    {0, 1, ByteClass::kFixed, kStxByte},
    {1, 7, ByteClass::kNumber, nullptr,
     exchange::kSignFirst | exchange::kLeadingPad | exchange::kTrailingPad | exchange::kPoint},
    {8, 1, ByteClass::kDecimals},
    {9, 2, ByteClass::kCheck},
    {11, 1, ByteClass::kFixed, kEtxByte},
};

const FrameLayout kA9Layout = {kA9Fields, sizeof kA9Fields / sizeof kA9Fields[0]};
const FrameLayout kDs2Layout = {kDs2Fields, sizeof kDs2Fields / sizeof kDs2Fields[0]};
const FrameLayout kK9Layout = {kK9Fields, sizeof kK9Fields / sizeof kK9Fields[0]};
const FrameLayout kA12Layout = {kA12Fields, sizeof kA12Fields / sizeof kA12Fields[0]};
const FrameLayout kA12ehLayout = {kA12ehFields, sizeof kA12ehFields / sizeof kA12ehFields[0]};
const FrameLayout kA9ContinLayout = {kA9ContinFields, sizeof kA9ContinFields / sizeof kA9ContinFields[0]};

// True unless a point (or comma) in the text follows something other than a
// digit: ".234" and "-.234" are no weights a scale shows.
bool DigitBeforePoint(const uint8_t* text, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if ((text[i] == '.' || text[i] == ',') && (i == 0 || !IsDigit(text[i - 1]))) return false;
    return true;
}

// The signed number of a 'D' or А9 continuous frame, its sign byte first.
bool ReadSigned(const uint8_t* frame, size_t length, const FrameLayout& layout, double& value) {
    const Field& f = NumberFieldOf(layout);
    if (f.length == 0 || f.offset + f.length > length || f.length > 16 || !IsSign(frame[f.offset])) return false;
    uint8_t text[16] = {};
    for (size_t i = 0; i < f.length; ++i) text[i] = frame[f.offset + i];
    if (text[0] == ' ') text[0] = '+';  // a space in the sign's place
    return DigitBeforePoint(text, f.length) && exchange::ReadNumberField(text, f.length, f.grammar, value);
}

// The check of a 'D' frame (offsets 1..10) or an А9 continuous frame (1..8).
Decoded CheckOrRefuse(const uint8_t* frame, size_t checkAt) {
    return AdmitCheck(CheckOf(frame, checkAt)) ? Decoded(kOk) : Refuse(exchange::kWhyCheck);
}

}  // namespace

CheckSeen CheckOf(const uint8_t* frame, size_t checkAt) {
    const int hi = HexValue(frame[checkAt]);
    const int lo = HexValue(frame[checkAt + 1]);
    if (hi < 0 || lo < 0) return CheckSeen::kNone;
    uint8_t x = 0;
    for (size_t i = 1; i < checkAt; ++i) x ^= frame[i];
    return x == ((hi << 4) | lo) ? CheckSeen::kValid : CheckSeen::kWrong;
}

bool AcceptsDFrame(const uint8_t* frame, size_t length) {
    return frame && length == kDFrameLength && frame[0] == kStx && frame[2] == 'D' && frame[13] == kEtx;
}

exchange::Decoded DecodeA9(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kDFrameLength) return kNoAnswer;
    const Decoded checked = CheckOrRefuse(frame, kDCheck);
    if (checked.result != kOk) return checked;
    if (frame[kDAddress] != kA9Request[1]) return Refuse(exchange::kWhyAddress);
    // The count of decimals the scale shows: the weight is in thousandths
    // of its unit ('3' as shown, '0' x1000, '4' a tenth of one).
    const uint8_t code = frame[kA9Code];
    if (code < '0' || code > '4') return Refuse(exchange::kWhyDecimals);
    double value = 0.0;
    if (!ReadSigned(frame, length, kA9Layout, value)) return Refuse(exchange::kWhyNoNumber);
    const int exponent = 3 - (code - '0');
    out.weight = exchange::NoMinusZero(exponent >= 0 ? WholeTowardZero(Scaled(value, exponent)) : Scaled(value, exponent));
    out.stable = 0;
    return kOk;
}

// The field as DS2 sends it holds three decimals: its digits are grams. A
// point elsewhere places the decimals itself; with no point the digits are
// taken as grams.
exchange::Decoded DecodeDs2(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kDFrameLength) return kNoAnswer;
    const Decoded checked = CheckOrRefuse(frame, kDCheck);
    if (checked.result != kOk) return checked;
    double value = 0.0;
    if (!ReadSigned(frame, length, kDs2Layout, value)) return Refuse(exchange::kWhyNoNumber);
    bool point = false;
    for (size_t i = kDField; i < kDField + kDFieldLength; ++i) point = point || frame[i] == '.';
    // At most six decimals fit the field: rounding gives the whole milligrams.
    const double mg = point ? std::round(Scaled(value, 6)) : Scaled(value, 3);
    out.weight = exchange::NoMinusZero(mg);
    out.stable = 0;
    return kOk;
}

exchange::Decoded DecodeK9(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kDFrameLength) return kNoAnswer;
    const Decoded checked = CheckOrRefuse(frame, kDCheck);
    if (checked.result != kOk) return checked;
    if (frame[kDAddress] != kDs2Request[1]) return Refuse(exchange::kWhyAddress);
    double value = 0.0;
    if (!ReadSigned(frame, length, kK9Layout, value)) return Refuse(exchange::kWhyNoNumber);
    out.weight = exchange::NoMinusZero(value);
    out.stable = 0;
    return kOk;
}

bool AcceptsA12Reply(const uint8_t* frame, size_t length) {
    return frame && length == kA12ReplyLength && frame[0] == 'w' && frame[11] == kCr && frame[12] == kLf;
}

exchange::Decoded DecodeA12(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kA12ReplyLength) return kNoAnswer;
    double value = 0.0;
    if (!DigitBeforePoint(frame + 2, 9) || !exchange::ReadNumberField(frame, length, kA12Fields[2], value))
        return Refuse(exchange::kWhyNoNumber);
    out.weight = exchange::NoMinusZero(WholeTowardZero(value * 1000.0));
    out.stable = frame[1] == 'U' ? 0 : 1;  // 'S' settled, 'U' moving
    return kOk;
}

bool AcceptsA12ehFrame(const uint8_t* frame, size_t length) {
    return frame && length == kA12ehFrameLength && frame[0] == kStx && frame[16] == kCr;
}

exchange::Decoded DecodeA12eh(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kA12ehFrameLength) return kNoAnswer;
    // Status word A: bits 0..2 place the point (000 x100, 001 x10, 010 x1,
    // 011..111 one to five decimals), bits 3 and 4 the increment.
    const uint8_t a = frame[1] & 0x7F;
    if (!StatusWordShaped(a)) return Refuse(exchange::kWhyDecimals);
    const int exponent = 2 - (a & 0x07);
    const uint8_t status = frame[2];
    // Status word C: bits 0..2 the unit (000 as status word B says, 001 g,
    // 010 t, 011 oz, 100 ozt, 101 dwt, 110 short tons, 111 a custom one).
    exchange::Unit unit = exchange::Unit::kKilogram;
    const uint8_t c = frame[3] & 0x7F;
    const int code = StatusWordShaped(c) ? (c & 0x07) : 0;
    switch (code) {
        case 0:
            if ((status & kStatusWordBits) && !(status & kA12ehKilograms))
                return Refuse(exchange::kWhyNotMetric);
            break;
        case 1: unit = exchange::Unit::kGram; break;
        case 2: unit = exchange::Unit::kTonne; break;
        case 7: return Refuse(exchange::kWhyUnknownUnit);
        default: return Refuse(exchange::kWhyNotMetric);
    }
    if (status & kA12ehOutOfRange) {
        out.weight = 0.0;
        out.stable = 0;
        return kOverload;
    }
    double value = 0.0;
    if (!exchange::ReadNumberField(frame, length, kA12ehFields[4], value)) return Refuse(exchange::kWhyNoNumber);
    const double shown = Negated(Scaled(value, exponent), (status & kA12ehNegative) != 0);
    out.weight = exchange::ConvertWeight(shown, unit, exchange::Unit::kKilogram);
    out.stable = (status & kA12ehMoving) ? 0 : 1;
    return kOk;
}

bool AcceptsA9ContinFrame(const uint8_t* frame, size_t length) {
    return frame && length == kA9ContinFrameLength && frame[0] == kStx && frame[11] == kEtx;
}

exchange::Decoded DecodeA9Contin(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kA9ContinFrameLength) return kNoAnswer;
    const Decoded checked = CheckOrRefuse(frame, kContinCheck);
    if (checked.result != kOk) return checked;
    const uint8_t code = frame[kContinCode];
    if (code < '0' || code > '4') return Refuse(exchange::kWhyDecimals);
    double value = 0.0;
    if (!ReadSigned(frame, length, kA9ContinLayout, value)) return Refuse(exchange::kWhyNoNumber);
    // A text with its own point says its decimals; with a decimal code as
    // well it would say them twice.
    for (size_t i = 2; i < 8; ++i)
        if (frame[i] == '.' && code != '0') return Refuse(exchange::kWhyDecimals);
    out.weight = exchange::NoMinusZero(Scaled(value, -(code - '0')));
    out.stable = 0;
    return kOk;
}

const PolledProtocol kA9Protocol = {.request = kA9Request,
                                    .requestLength = 6,
                                    .replyLength = 14,
                                    .header = {kStx, 0},
                                    .headerCount = 1,
                                    .policy = HeaderPolicy::kStrict,
                                    .accepts = AcceptsDFrame,
                                    .decode = DecodeA9,
                                    .layout = &kA9Layout};

const PolledProtocol kA12Protocol = {.request = kA12Request,
                                     .requestLength = 1,
                                     .replyLength = 13,
                                     .header = {'w', 0},
                                     .headerCount = 1,
                                     .policy = HeaderPolicy::kStrict,
                                     .accepts = AcceptsA12Reply,
                                     .decode = DecodeA12,
                                     .layout = &kA12Layout};

const PolledProtocol kDs2Protocol = {.request = kDs2Request,
                                     .requestLength = 6,
                                     .replyLength = 14,
                                     .header = {kStx, 0},
                                     .headerCount = 1,
                                     .policy = HeaderPolicy::kStrict,
                                     .accepts = AcceptsDFrame,
                                     .decode = DecodeDs2,
                                     .layout = &kDs2Layout};

const PolledProtocol kK9Protocol = {.request = kDs2Request,
                                    .requestLength = 6,
                                    .replyLength = 14,
                                    .header = {kStx, 0},
                                    .headerCount = 1,
                                    .policy = HeaderPolicy::kStrict,
                                    .accepts = AcceptsDFrame,
                                    .decode = DecodeK9,
                                    .layout = &kK9Layout};

// The status byte of a negative А12EH reading may be 02, the header's
// value: the stream's framing refuses a window that starts there.
const PolledProtocol kA12ehProtocol = {.replyLength = 17,
                                       .header = {kStx, 0},
                                       .headerCount = 1,
                                       .policy = HeaderPolicy::kHunted,
                                       .accepts = AcceptsA12ehFrame,
                                       .decode = DecodeA12eh,
                                       .stream = &kA12ehStream,
                                       .layout = &kA12ehLayout};

const PolledProtocol kA9ContinProtocol = {.replyLength = 12,
                                          .header = {kStx, 0},
                                          .headerCount = 1,
                                          .policy = HeaderPolicy::kHunted,
                                          .accepts = AcceptsA9ContinFrame,
                                          .decode = DecodeA9Contin,
                                          .stream = &kA9ContinStream,
                                          .layout = &kA9ContinLayout};

const CommandSpec kA12Tare = {.bytes = kA12TareByte, .length = 1, .pauseMs = 0};
const CommandSpec kA12Zero = {.bytes = kA12ZeroByte, .length = 1, .pauseMs = 0};

}  // namespace mirvesov
}  // namespace zel
