#include "scales/AsciiIndicators.h"

#include <cfloat>
#include <cmath>

#include "core/ResultCodes.h"
#include "core/Text.h"

namespace zel {
namespace ascii {

using exchange::Decoded;
using exchange::HeaderPolicy;
using exchange::PolledProtocol;
using exchange::Reading;
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
const size_t kR320MaxChars = 19;

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
bool RadwagWeight(const uint8_t* frame, double& value) { return ReadNumberField(frame + 6, 9, false, value); }

}  // namespace

bool AcceptsRadwag(const uint8_t* frame, size_t length) {
    double v;
    return frame && length == kRadwagLength && frame[0] == 'S' && frame[1] == 'U' && frame[2] == 'I' &&
           frame[19] == kCr && frame[20] == kLf && RadwagWeight(frame, v);
}

Decoded DecodeRadwag(const uint8_t* frame, size_t length, Reading& out) {
    double v;
    if (!frame || length < kRadwagLength || !RadwagWeight(frame, v)) return kNoAnswer;
    out.weight = frame[5] == '-' ? Negated(v) : (v == 0.0 ? 0.0 : v);
    out.stable = frame[3] == '?' ? 0 : 1;
    return kOk;
}

// --- DIGI --------------------------------------------------------------------

bool DigiComplete(const uint8_t* frame, size_t count) {
    return frame && count > kShortest && frame[count - 1] == kLf;
}

namespace {

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
            point = true;
        } else if (c != '-') {
            return false;
        }
    }
    while (i < 10 && frame[i] == ' ') ++i;
    return i == 10 && digits > 0;
}

}  // namespace

bool AcceptsDigi(const uint8_t* frame, size_t length) {
    return DigiComplete(frame, length) && frame[2] == kCr && frame[3] == '0' && frame[10] == kCr &&
           DigiWeightField(frame);
}

Decoded DecodeDigi(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length <= kShortest || !DigiWeightField(frame)) return kNoAnswer;
    char text[7];
    CopyText(frame, 4, 10, text, 6);
    for (char& c : text)
        if (c == '-') c = '0';
    const uint8_t status = frame[1];
    const double v = ParseNumberText(text);
    out.weight = (status & 0x04) ? Negated(v) : v;
    out.stable = (status & 0x02) ? 1 : 0;
    return kOk;
}

// --- HBM ---------------------------------------------------------------------

bool HbmComplete(const uint8_t* frame, size_t count) {
    return frame && count >= kHbmShortest && (frame[count - 1] == kCr || frame[count - 1] == kLf);
}

namespace {

// The reply is one number and the line end: spaces, a sign, the digits with
// at most one point, spaces, then CR and/or LF to the end. A space after the
// digits ends the number; it is never a digit.
bool HbmWeight(const uint8_t* frame, size_t length, double& value) {
    size_t end = length;
    while (end > 0 && (frame[end - 1] == kCr || frame[end - 1] == kLf)) --end;
    return end < length && ReadNumberField(frame, end, false, value);
}

}  // namespace

bool AcceptsHbm(const uint8_t* frame, size_t length) {
    double v;
    return frame && length >= kHbmShortest && HbmWeight(frame, length, v);
}

Decoded DecodeHbm(const uint8_t* frame, size_t length, Reading& out) {
    double v;
    if (!frame || length < kHbmShortest || !HbmWeight(frame, length, v)) return kNoAnswer;
    out.weight = v == 0.0 ? 0.0 : v;
    out.stable = 0;
    return kOk;
}

// --- KELI --------------------------------------------------------------------

bool KeliComplete(const uint8_t* frame, size_t count) {
    return frame && count > kShortest && frame[count - 1] == kEtx;
}

namespace {

// The weight text runs from byte 4 up to the closing ETX: the number, then
// perhaps its unit.
bool KeliWeight(const uint8_t* frame, size_t length, double& value) {
    return frame[length - 1] == kEtx && ReadNumberField(frame + 4, length - 5, true, value);
}

}  // namespace

bool AcceptsKeli(const uint8_t* frame, size_t length) {
    double v;
    return KeliComplete(frame, length) && frame[0] == kStx && frame[1] == 'N' && frame[2] == 'W' &&
           frame[3] == ':' && KeliWeight(frame, length, v);
}

Decoded DecodeKeli(const uint8_t* frame, size_t length, Reading& out) {
    double v;
    if (!frame || length <= kShortest || !KeliWeight(frame, length, v)) return kNoAnswer;
    out.weight = v == 0.0 ? 0.0 : v;
    out.stable = 1;
    return kOk;
}

// --- R320 --------------------------------------------------------------------

bool R320Complete(const uint8_t* frame, size_t count) {
    return frame && count > kShortest && frame[count - 2] == kCr && frame[count - 1] == kLf;
}

bool AcceptsR320(const uint8_t* frame, size_t length) { return R320Complete(frame, length); }

double Thousandths(double value) { return WholeTowardZero(value * 1000.0); }

Decoded DecodeR320(const uint8_t* frame, size_t length, Reading& out) {
    out.weight = 0.0;
    out.stable = 0;
    if (!frame) return Decoded(kNoAnswer, Verdict::kEndCycle);
    char text[kR320MaxChars + 1];
    size_t w = 0;
    for (size_t i = kR320WeightOffset; i < length && w < kR320MaxChars; ++i) {
        const char c = static_cast<char>(frame[i]);
        if ((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+')
            text[w++] = c;
        else if (c != ' ')
            break;
    }
    text[w] = '\0';
    // A reply with no number is an answer all the same: asking again would
    // bring the same one.
    if (w == 0) return Decoded(kNoAnswer, Verdict::kEndCycle);
    out.weight = Thousandths(ParseNumberText(text));
    return kOk;
}

// --- descriptions ------------------------------------------------------------

const PolledProtocol kRadwagProtocol = {.request = kRadwagRequest,
                                        .requestLength = sizeof(kRadwagRequest),
                                        .replyLength = static_cast<int>(kRadwagLength),
                                        .header = {'S', 0},
                                        .headerCount = 1,
                                        .policy = HeaderPolicy::kStrict,
                                        .budgetMs = 500,
                                        .attempts = 3,
                                        .accepts = AcceptsRadwag,
                                        .decode = DecodeRadwag};

const PolledProtocol kDigiProtocol = {.request = kDigiRequest,
                                      .requestLength = sizeof(kDigiRequest),
                                      .replyMayStartWithRequest = true,
                                      .replyLength = kLongReply,
                                      .complete = DigiComplete,
                                      .budgetMs = 500,
                                      .attempts = 2,
                                      .accepts = AcceptsDigi,
                                      .decode = DecodeDigi};

const PolledProtocol kHbmProtocol = {.request = kHbmRequest,
                                     .requestLength = sizeof(kHbmRequest),
                                     .replyLength = kLongReply,
                                     .complete = HbmComplete,
                                     .budgetMs = 500,
                                     .attempts = 2,
                                     .accepts = AcceptsHbm,
                                     .decode = DecodeHbm};

const PolledProtocol kKeliProtocol = {.request = kKeliRequest,
                                      .requestLength = sizeof(kKeliRequest),
                                      .replyLength = kLongReply,
                                      .complete = KeliComplete,
                                      .budgetMs = 500,
                                      .attempts = 2,
                                      .accepts = AcceptsKeli,
                                      .decode = DecodeKeli};

const PolledProtocol kR320Protocol = {.request = kR320Request,
                                      .requestLength = sizeof(kR320Request),
                                      .replyLength = kR320Reply,
                                      .complete = R320Complete,
                                      .budgetMs = 500,
                                      .attempts = 3,
                                      .accepts = AcceptsR320,
                                      .decode = DecodeR320};

const exchange::CommandSpec kRadwagTare = {.bytes = kRadwagTareBytes,
                                           .length = sizeof(kRadwagTareBytes),
                                           .pauseMs = 600,
                                           .drainAfter = true};

const exchange::CommandSpec kHbmTare = {.bytes = kHbmTareBytes, .length = sizeof(kHbmTareBytes), .pauseMs = 150};

const exchange::CommandSpec kKeliZero = {.bytes = kKeliZeroBytes, .length = sizeof(kKeliZeroBytes), .pauseMs = 0};

}  // namespace ascii
}  // namespace zel
