#include "scales/Continuous.h"

#include <cstring>

#include "core/ResultCodes.h"
#include "core/Text.h"
#include "scales/exchange/Exchange.h"

namespace zel {
namespace continuous {

using exchange::BudgetScope;
using exchange::HeaderPolicy;
using exchange::PolledProtocol;
using exchange::Reading;

namespace {

const uint8_t kCr = 0x0D;
const uint8_t kLf = 0x0A;
const uint8_t kStx = 0x02;
const uint8_t kOcsHeader = 0x7F;

bool IsPrintable(uint8_t c) { return c >= 0x20 && c <= 0x7E; }

// True when frame[from .. to] are all printable characters.
bool PrintableField(const uint8_t* frame, size_t from, size_t to) {
    for (size_t i = from; i <= to; ++i)
        if (!IsPrintable(frame[i])) return false;
    return true;
}

using exchange::ByteClass;
using exchange::Decoded;
using exchange::Field;
using exchange::FrameLayout;
using exchange::Refuse;
using exchange::Unit;

const uint8_t kCrLf[] = {kCr, kLf};
const uint8_t kSpace[] = {' '};
const uint8_t kEquals[] = {'='};

const uint8_t kPad = exchange::kLeadingPad;
const uint8_t kPoint = exchange::kPoint;
// SMART, ВИС and T7E weights were always read with ',' as the point too;
// CERTUS and JADEVER's ended at it.
const uint8_t kComma = exchange::kComma;
// A sign in the field's first byte or just before the digits.
const uint8_t kSigned = exchange::kSignFirst | exchange::kSign;

bool AllSpaces(const uint8_t* text, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (text[i] != ' ') return false;
    return true;
}

// A text number under `grammar`, and a point only after a digit: ".234"
// is a digit lost, not 0.234.
bool Number(const uint8_t* text, size_t n, uint8_t grammar, double& value) {
    for (size_t i = 0; i < n; ++i)
        if (text[i] == '.' || text[i] == ',') {
            if (i == 0 || !IsDigit(text[i - 1])) return false;
            break;
        }
    return exchange::ReadNumberField(text, n, grammar, value);
}

// The unit the frame spells, applied to a weight in kilograms: grams,
// tonnes and milligrams are converted; pounds and ounces refuse the frame
// (the why, or null). Blank, or text that names no unit, keeps kilograms:
// the formats do not define these bytes, and a scale may send anything
// there.
const char* InKilograms(const uint8_t* text, size_t n, double& weight) {
    if (AllSpaces(text, n)) return nullptr;
    const Unit u = exchange::UnitOf(text, n);
    if (u == Unit::kPound || u == Unit::kOunce) return exchange::kWhyNotMetric;
    if (exchange::IsMetric(u)) weight = exchange::ConvertWeight(weight, u, Unit::kKilogram);
    return nullptr;
}

bool Overloaded(const uint8_t* text, size_t n) {
    size_t b = 0, e = n;
    while (b < e && text[b] == ' ') ++b;
    while (e > b && text[e - 1] == ' ') --e;
    return e - b == 2 && text[b] == 'O' && text[b + 1] == 'L';
}

Decoded Overload(Reading& out) {
    out.weight = 0.0;
    out.stable = 0;
    return Decoded(kOverload);
}

// Stores the weight read from a frame, or refuses it.
Decoded Weight(bool read, double weight, int32_t stable, Reading& out) {
    if (!read) return Refuse(exchange::kWhyNoNumber);
    out.weight = exchange::NoMinusZero(weight);
    out.stable = stable;
    return kOk;
}

}  // namespace

bool AcceptsCertus(const uint8_t* frame, size_t length) {
    return frame && length == kCertusLength && frame[18] == kCr && frame[19] == kLf;
}

// The sign (offset 7) and the right-aligned weight (8..14) read as one
// field; " kg", " g" and the like at 15..17.
exchange::Decoded DecodeCertus(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kCertusLength) return kNoAnswer;
    double w = 0.0;
    if (!Number(frame + 7, 8, kSigned | kPad | kPoint, w)) return Refuse(exchange::kWhyNoNumber);
    if (const char* why = InKilograms(frame + 15, 3, w)) return Refuse(why);
    return Weight(true, w, frame[2] == 'S' ? 1 : 0, out);
}

bool AcceptsJadever(const uint8_t* frame, size_t length) {
    return frame && length == kJadeverLength && frame[21] == kCr && frame[22] == kLf && frame[4] == ' ' &&
           frame[7] == ' ';
}

// Offsets 10..20: the weight right-aligned in 10..17, a space and its unit
// ("   1.234 kg"), or a number over all eleven. The sign at 8 is '-', '+'
// or a space (the text may carry a sign of its own); "OL" at 2..3 is an
// overload.
exchange::Decoded DecodeJadever(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kJadeverLength) return kNoAnswer;
    if (Overloaded(frame + 2, 2)) return Overload(out);
    const uint8_t* text = frame + 10;
    const bool unit = frame[18] == ' ';
    const size_t end = unit ? 8 : 11;
    const uint8_t sign = frame[8];
    // The text may carry a sign of its own where offset 8 has none, or a
    // '+' that repeats it; a sign against offset 8's is no reading.
    uint8_t own = 0;
    for (size_t i = 0; i < end; ++i)
        if (text[i] == '-' || text[i] == '+') own = text[i];
    double w = 0.0;
    if ((sign != '-' && sign != '+' && sign != ' ') || (own == '-' && sign != ' ') || (own == '+' && sign == '-') ||
        !Number(text, end, kPad | exchange::kSign | kPoint, w))
        return Refuse(exchange::kWhyNoNumber);
    if (unit)
        if (const char* why = InKilograms(frame + 19, 2, w)) return Refuse(why);
    return Weight(true, Negated(w, sign == '-'), frame[2] == 'S' ? 1 : 0, out);
}

bool AcceptsSmart(const uint8_t* frame, size_t length) {
    return frame && length == kSmartLength && frame[0] == kStx && frame[12] == kCr;
}

exchange::Decoded DecodeSmart(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kSmartLength) return kNoAnswer;
    double w = 0.0;
    if (!Number(frame + 1, 8, exchange::kSignFirst | kPad | kPoint | kComma, w)) return Refuse(exchange::kWhyNoNumber);
    if (const char* why = InKilograms(frame + 9, 2, w)) return Refuse(why);
    return Weight(true, w, frame[11] == ' ' ? 1 : 0, out);
}

bool AcceptsVis(const uint8_t* frame, size_t length) {
    return frame && length == kVisLength && frame[0] == kLf && frame[17] == kCr;
}

exchange::Decoded DecodeVis(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kVisLength) return kNoAnswer;
    if (Overloaded(frame + 1, 2) || Overloaded(frame + 7, 8)) return Overload(out);
    double w = 0.0;
    if (!Number(frame + 7, 8, kSigned | kPad | kPoint | kComma, w)) return Refuse(exchange::kWhyNoNumber);
    if (const char* why = InKilograms(frame + 15, 2, w)) return Refuse(why);
    return Weight(true, w, frame[1] == 'S' && frame[2] == 'T' ? 1 : 0, out);
}

bool AcceptsT7e(const uint8_t* frame, size_t length) {
    return frame && length == kT7eLength && frame[0] == '=';
}

exchange::Decoded DecodeT7e(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kT7eLength) return kNoAnswer;
    uint8_t text[7];
    for (size_t i = 0; i < 7; ++i) text[i] = frame[7 - i];
    double w = 0.0;
    const bool read = Number(text, 7, kPad | exchange::kSign | kPoint | kComma, w);
    return Weight(read, w, 0, out);
}

bool AcceptsEsit(const uint8_t* frame, size_t length) {
    return frame && length == kEsitLength && (frame[0] == '+' || frame[0] == '-') && frame[6] == kCr;
}

exchange::Decoded DecodeEsit(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kEsitLength) return kNoAnswer;
    // A digit byte is an ASCII digit or one with its top bit set, which the
    // point follows; one point at most.
    uint8_t text[10];
    size_t w = 0;
    for (size_t i = 1; i <= 5; ++i) {
        const uint8_t b = frame[i];
        if (b >= 0xB0 && b <= 0xB9) {
            text[w++] = static_cast<uint8_t>(b - 0x80);
            text[w++] = '.';
        } else if (IsDigit(b)) {
            text[w++] = b;
        } else {
            return Refuse(exchange::kWhyNoNumber);
        }
    }
    double v = 0.0;
    const bool read = (frame[0] == '+' || frame[0] == '-') && Number(text, w, kPoint, v);
    return Weight(read, Negated(v, frame[0] == '-'), 1, out);
}

char OcsPointDigit(uint8_t c) {
    static const uint8_t kPointChars[10] = {0x29, 0x21, 0x40, 0x23, 0x24, 0x25, 0x5E, 0x26, 0x2A, 0x28};
    for (int d = 0; d < 10; ++d)
        if (kPointChars[d] == c) return static_cast<char>('0' + d);
    return 0;
}

// The check byte alone cannot find where a frame starts: on a line that
// carries frames back to back, the nine bytes from any 7F byte of the
// stream have the same XOR as a whole frame. The stream's framing decides
// (OcsKinds, OcsPreferred).
bool AcceptsOcs(const uint8_t* frame, size_t length) {
    if (!frame || length != kOcsLength || frame[0] != kOcsHeader) return false;
    uint8_t x = 0;
    for (size_t i = 1; i <= 7; ++i) x ^= frame[i];
    return x == frame[8];
}

exchange::Decoded DecodeOcs(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kOcsLength) return kNoAnswer;
    // Spaces before the number, a '-', digits and one digit with the point.
    uint8_t text[10];
    size_t w = 0;
    for (size_t i = 6; i >= 2; --i) {
        const uint8_t c = frame[i];
        if (IsDigit(c) || c == '-' || c == ' ') {
            text[w++] = c;
        } else if (char d = OcsPointDigit(c)) {
            text[w++] = static_cast<uint8_t>(d);
            text[w++] = '.';
        } else {
            return Refuse(exchange::kWhyNoNumber);
        }
    }
    double v = 0.0;
    const bool read = Number(text, w, kPad | exchange::kSign | kPoint, v);
    return Weight(read, v, frame[7] & 0x01, out);
}

// Byte kinds of the frames in a stream, beyond each frame's own check: the
// sign and weight positions hold characters, never a line-control byte or a
// header from the next frame.

bool CertusKinds(const uint8_t* frame, size_t length) {
    return frame && length == kCertusLength && PrintableField(frame, 7, 14);
}

bool JadeverKinds(const uint8_t* frame, size_t length) {
    return frame && length == kJadeverLength && IsPrintable(frame[8]) && PrintableField(frame, 10, 20);
}

bool SmartKinds(const uint8_t* frame, size_t length) {
    return frame && length == kSmartLength && PrintableField(frame, 1, 8);
}

bool VisKinds(const uint8_t* frame, size_t length) {
    return frame && length == kVisLength && PrintableField(frame, 7, 14);
}

// The reversed weight text: digits, a point or comma, a sign, spaces.
bool T7eKinds(const uint8_t* frame, size_t length) {
    if (!frame || length != kT7eLength) return false;
    for (size_t i = 1; i < kT7eLength; ++i) {
        const uint8_t c = frame[i];
        if (!IsDigit(c) && c != '.' && c != ',' && c != '-' && c != '+' && c != ' ') return false;
    }
    return true;
}

// Five digit bytes: an ASCII digit, or one with its top bit (and a point).
bool EsitKinds(const uint8_t* frame, size_t length) {
    if (!frame || length != kEsitLength) return false;
    for (size_t i = 1; i <= 5; ++i) {
        const uint8_t c = frame[i];
        if (!IsDigit(c) && !(c >= 0xB0 && c <= 0xB9)) return false;
    }
    return true;
}

bool OcsKinds(const uint8_t* frame, size_t length) {
    return frame && length == kOcsLength && PrintableField(frame, 2, 6);
}

// A check byte of 7F comes with one weight in 256; an address of 7F is rare.
// Where a stream of frames back to back reads both ways (7F 7F: the check
// byte and the header, or the header and the address), the frame whose
// second byte is no 7F is taken.
bool OcsPreferred(const uint8_t* frame, size_t length) {
    return frame && length == kOcsLength && frame[1] != kOcsHeader;
}

const exchange::StreamFraming kCertusStream = {.kinds = CertusKinds};
const exchange::StreamFraming kJadeverStream = {.kinds = JadeverKinds};
const exchange::StreamFraming kSmartStream = {.kinds = SmartKinds};
const exchange::StreamFraming kVisStream = {.kinds = VisKinds};
const exchange::StreamFraming kT7eStream = {.kinds = T7eKinds};
const exchange::StreamFraming kEsitStream = {.kinds = EsitKinds};
const exchange::StreamFraming kOcsStream = {.kinds = OcsKinds, .preferred = OcsPreferred};

// What each byte of the frames holds.
const uint8_t kCrByte[] = {kCr};
const uint8_t kLfByte[] = {kLf};
const uint8_t kStxByte[] = {kStx};
const uint8_t kOcsByte[] = {kOcsHeader};

const Field kCertusFields[] = {
    {0, 1, ByteClass::kFixed, kCrByte},  {1, 1, ByteClass::kFree},
    {2, 1, ByteClass::kStatus},          {3, 4, ByteClass::kFree},
    {7, 8, ByteClass::kNumber, nullptr, kSigned | kPad | kPoint},
    {15, 3, ByteClass::kUnit},           {18, 2, ByteClass::kFixed, kCrLf},
};
const Field kJadeverFields[] = {
    {0, 1, ByteClass::kFixed, kCrByte},  {1, 1, ByteClass::kFree},
    {2, 2, ByteClass::kStatus},          {4, 1, ByteClass::kFixed, kSpace},
    {5, 2, ByteClass::kFree},            {7, 1, ByteClass::kFixed, kSpace},
    // The sign, a byte not read, the right-aligned weight: one signed number.
    {8, 10, ByteClass::kNumber, nullptr, kSigned | kPad | kPoint},
    {18, 1, ByteClass::kFree},           {19, 2, ByteClass::kUnit},
    {21, 2, ByteClass::kFixed, kCrLf},
};
const Field kSmartFields[] = {
    {0, 1, ByteClass::kFixed, kStxByte},
    {1, 8, ByteClass::kNumber, nullptr, exchange::kSignFirst | kPad | kPoint | kComma},
    {9, 2, ByteClass::kUnit},            {11, 1, ByteClass::kStatus},
    {12, 1, ByteClass::kFixed, kCrByte},
};
const Field kVisFields[] = {
    {0, 1, ByteClass::kFixed, kLfByte},  {1, 2, ByteClass::kStatus},
    {3, 4, ByteClass::kFree},
    {7, 8, ByteClass::kNumber, nullptr, kSigned | kPad | kPoint | kComma},
    {15, 2, ByteClass::kUnit},           {17, 1, ByteClass::kFixed, kCrByte},
};
// The text last character first.
const Field kT7eFields[] = {
    {0, 1, ByteClass::kFixed, kEquals},
    {1, 7, ByteClass::kNumber, nullptr, kPad | exchange::kSign | kPoint | kComma | exchange::kReversed},
};
const Field kEsitFields[] = {
    {0, 1, ByteClass::kNumber, nullptr, exchange::kSign},  // '+' or '-', the header
    {1, 5, ByteClass::kNumber, nullptr, kPoint | exchange::kPointedDigits, true},
    {6, 1, ByteClass::kFixed, kCrByte},
};
const Field kOcsFields[] = {
    {0, 1, ByteClass::kFixed, kOcsByte}, {1, 1, ByteClass::kAddress},
    {2, 5, ByteClass::kNumber, nullptr, kPad | exchange::kSign | kPoint},
    {7, 1, ByteClass::kStatus},          {8, 1, ByteClass::kCheck},
};

template <size_t N>
constexpr FrameLayout Layout(const Field (&fields)[N]) {
    return FrameLayout{fields, N, false};
}

const FrameLayout kCertusLayout = Layout(kCertusFields);
const FrameLayout kJadeverLayout = Layout(kJadeverFields);
const FrameLayout kSmartLayout = Layout(kSmartFields);
const FrameLayout kVisLayout = Layout(kVisFields);
const FrameLayout kT7eLayout = Layout(kT7eFields);
const FrameLayout kEsitLayout = Layout(kEsitFields);
const FrameLayout kOcsLayout = Layout(kOcsFields);

// No request: the scale talks all the time. A wrong byte while hunting for
// the header costs 1 ms of budget and no pause.
const PolledProtocol kCertusProtocol = {.replyLength = 20,
                                        .header = {kCr, 0},
                                        .headerCount = 1,
                                        .policy = HeaderPolicy::kHunted,
                                        .scope = BudgetScope::kPerCall,
                                        .accepts = AcceptsCertus,
                                        .decode = DecodeCertus,
                                        .stream = &kCertusStream,
                                        .layout = &kCertusLayout};

const PolledProtocol kJadeverProtocol = {.replyLength = 23,
                                         .header = {kCr, 0},
                                         .headerCount = 1,
                                         .policy = HeaderPolicy::kHunted,
                                         .scope = BudgetScope::kPerCall,
                                         .accepts = AcceptsJadever,
                                         .decode = DecodeJadever,
                                         .stream = &kJadeverStream,
                                        .layout = &kJadeverLayout};

const PolledProtocol kSmartProtocol = {.replyLength = 13,
                                       .header = {kStx, 0},
                                       .headerCount = 1,
                                       .policy = HeaderPolicy::kHunted,
                                       .accepts = AcceptsSmart,
                                       .decode = DecodeSmart,
                                       .stream = &kSmartStream,
                                        .layout = &kSmartLayout};

const PolledProtocol kVisProtocol = {.replyLength = 18,
                                     .header = {kLf, 0},
                                     .headerCount = 1,
                                     .policy = HeaderPolicy::kHunted,
                                     .accepts = AcceptsVis,
                                     .decode = DecodeVis,
                                     .stream = &kVisStream,
                                        .layout = &kVisLayout};

const PolledProtocol kT7eProtocol = {.replyLength = 8,
                                     .header = {'=', 0},
                                     .headerCount = 1,
                                     .policy = HeaderPolicy::kHunted,
                                     .scope = BudgetScope::kPerCall,
                                     .accepts = AcceptsT7e,
                                     .decode = DecodeT7e,
                                     .stream = &kT7eStream,
                                        .layout = &kT7eLayout};

const PolledProtocol kEsitProtocol = {.replyLength = 7,
                                      .header = {'+', '-'},
                                      .headerCount = 2,
                                      .policy = HeaderPolicy::kHunted,
                                      .accepts = AcceptsEsit,
                                      .decode = DecodeEsit,
                                      .stream = &kEsitStream,
                                        .layout = &kEsitLayout};

const PolledProtocol kOcsProtocol = {.replyLength = 9,
                                     .header = {kOcsHeader, 0},
                                     .headerCount = 1,
                                     .policy = HeaderPolicy::kHunted,
                                     .accepts = AcceptsOcs,
                                     .decode = DecodeOcs,
                                     .stream = &kOcsStream,
                                        .layout = &kOcsLayout};

}  // namespace continuous
}  // namespace zel
