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

// The weight field of the CR-headed frames: spaces (and a plus) before the
// number are skipped, digits and '.' taken, and anything else (a space
// after the number too) ends it. `out` holds count + 1 bytes.
void TakeNumber(const uint8_t* field, size_t count, char* out) {
    size_t w = 0;
    bool plus = false;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t c = field[i];
        if (c == ' ' && w == 0) continue;
        if (c == '+' && w == 0 && !plus) {
            plus = true;
            continue;
        }
        if (!IsDigit(c) && c != '.') break;
        out[w++] = static_cast<char>(c);
    }
    out[w] = '\0';
}

// Frames of 20 and 23 bytes that open with CR and close with CR LF: in a
// stream the CR that ends one frame comes two bytes before the header of
// the next. The engine moves on to that header when a frame taken from the
// earlier CR fails its check.
void CrFramed(const uint8_t* frame, size_t textAt, size_t textLength, size_t signAt, Reading& out) {
    char text[16];
    TakeNumber(frame + textAt, textLength, text);
    out.weight = Negated(ParseNumberText(text), frame[signAt] == '-');
    out.stable = frame[2] == 'S' ? 1 : 0;
}

}  // namespace

bool AcceptsCertus(const uint8_t* frame, size_t length) {
    return frame && length == kCertusLength && frame[18] == kCr && frame[19] == kLf;
}

exchange::Decoded DecodeCertus(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kCertusLength) return kNoAnswer;
    CrFramed(frame, 8, 7, 7, out);
    return kOk;
}

bool AcceptsJadever(const uint8_t* frame, size_t length) {
    return frame && length == kJadeverLength && frame[21] == kCr && frame[22] == kLf && frame[4] == ' ' &&
           frame[7] == ' ';
}

exchange::Decoded DecodeJadever(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kJadeverLength) return kNoAnswer;
    CrFramed(frame, 10, 11, 8, out);
    return kOk;
}

bool AcceptsSmart(const uint8_t* frame, size_t length) {
    return frame && length == kSmartLength && frame[0] == kStx && frame[12] == kCr;
}

exchange::Decoded DecodeSmart(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kSmartLength) return kNoAnswer;
    char text[8];
    FieldText(frame, 2, 7, text);
    out.weight = Negated(ParseNumberText(text), frame[1] == '-');
    out.stable = frame[11] == ' ' ? 1 : 0;
    return kOk;
}

bool AcceptsVis(const uint8_t* frame, size_t length) {
    return frame && length == kVisLength && frame[0] == kLf && frame[17] == kCr;
}

exchange::Decoded DecodeVis(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kVisLength) return kNoAnswer;
    char text[9];
    FieldText(frame, 7, 8, text);
    out.weight = ParseNumberText(text);
    out.stable = frame[1] == 'S' && frame[2] == 'T' ? 1 : 0;
    return kOk;
}

bool AcceptsT7e(const uint8_t* frame, size_t length) {
    return frame && length == kT7eLength && frame[0] == '=';
}

exchange::Decoded DecodeT7e(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kT7eLength) return kNoAnswer;
    char text[8];
    exchange::ReversedFieldText(frame, length, 1, 7, text);
    out.weight = ParseNumberText(text);
    out.stable = 0;
    return kOk;
}

bool AcceptsEsit(const uint8_t* frame, size_t length) {
    return frame && length == kEsitLength && (frame[0] == '+' || frame[0] == '-') && frame[6] == kCr;
}

exchange::Decoded DecodeEsit(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kEsitLength) return kNoAnswer;
    char text[11];
    size_t w = 0;
    for (size_t i = 1; i <= 5; ++i) {
        const uint8_t b = frame[i];
        if (b >= 0xB0) {
            text[w++] = static_cast<char>(b - 0x80);
            text[w++] = '.';
        } else {
            text[w++] = static_cast<char>(b);
        }
    }
    text[w] = '\0';
    out.weight = Negated(ParseNumberText(text), frame[0] == '-');
    out.stable = 1;
    return kOk;
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
    char text[11];
    size_t w = 0;
    for (size_t i = 6; i >= 2; --i) {
        const uint8_t c = frame[i];
        if (IsDigit(c) || c == '-') {
            text[w++] = static_cast<char>(c);
        } else if (char d = OcsPointDigit(c)) {
            text[w++] = d;
            text[w++] = '.';
        }
    }
    text[w] = '\0';
    out.weight = ParseNumberText(text);
    out.stable = frame[7] & 0x01;
    return kOk;
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

// No request: the scale talks all the time. A wrong byte while hunting for
// the header costs 1 ms of budget and no pause.
const PolledProtocol kCertusProtocol = {.replyLength = 20,
                                        .header = {kCr, 0},
                                        .headerCount = 1,
                                        .policy = HeaderPolicy::kHunted,
                                        .budgetMs = 500,
                                        .scope = BudgetScope::kPerCall,
                                        .attempts = 3,
                                        .accepts = AcceptsCertus,
                                        .decode = DecodeCertus,
                                        .stream = &kCertusStream};

const PolledProtocol kJadeverProtocol = {.replyLength = 23,
                                         .header = {kCr, 0},
                                         .headerCount = 1,
                                         .policy = HeaderPolicy::kHunted,
                                         .budgetMs = 500,
                                         .scope = BudgetScope::kPerCall,
                                         .attempts = 3,
                                         .accepts = AcceptsJadever,
                                         .decode = DecodeJadever,
                                         .stream = &kJadeverStream};

const PolledProtocol kSmartProtocol = {.replyLength = 13,
                                       .header = {kStx, 0},
                                       .headerCount = 1,
                                       .policy = HeaderPolicy::kHunted,
                                       .budgetMs = 500,
                                       .scope = BudgetScope::kPerAttempt,
                                       .attempts = 3,
                                       .accepts = AcceptsSmart,
                                       .decode = DecodeSmart,
                                       .stream = &kSmartStream};

const PolledProtocol kVisProtocol = {.replyLength = 18,
                                     .header = {kLf, 0},
                                     .headerCount = 1,
                                     .policy = HeaderPolicy::kHunted,
                                     .budgetMs = 500,
                                     .scope = BudgetScope::kPerAttempt,
                                     .attempts = 3,
                                     .accepts = AcceptsVis,
                                     .decode = DecodeVis,
                                     .stream = &kVisStream};

const PolledProtocol kT7eProtocol = {.replyLength = 8,
                                     .header = {'=', 0},
                                     .headerCount = 1,
                                     .policy = HeaderPolicy::kHunted,
                                     .budgetMs = 500,
                                     .scope = BudgetScope::kPerCall,
                                     .attempts = 3,
                                     .accepts = AcceptsT7e,
                                     .decode = DecodeT7e,
                                     .stream = &kT7eStream};

const PolledProtocol kEsitProtocol = {.replyLength = 7,
                                      .header = {'+', '-'},
                                      .headerCount = 2,
                                      .policy = HeaderPolicy::kHunted,
                                      .budgetMs = 500,
                                      .scope = BudgetScope::kPerAttempt,
                                      .attempts = 3,
                                      .accepts = AcceptsEsit,
                                      .decode = DecodeEsit,
                                      .stream = &kEsitStream};

const PolledProtocol kOcsProtocol = {.replyLength = 9,
                                     .header = {kOcsHeader, 0},
                                     .headerCount = 1,
                                     .policy = HeaderPolicy::kHunted,
                                     .budgetMs = 500,
                                     .scope = BudgetScope::kPerAttempt,
                                     .attempts = 3,
                                     .accepts = AcceptsOcs,
                                     .decode = DecodeOcs,
                                     .stream = &kOcsStream};

}  // namespace continuous
}  // namespace zel
