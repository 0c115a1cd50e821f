#include "scales/Indicators.h"

#include <cmath>
#include <cstring>

#include "core/ResultCodes.h"
#include "core/Text.h"

namespace zel {
namespace indicators {

using exchange::CommandSpec;
using exchange::Decoded;
using exchange::HeaderPolicy;
using exchange::PolledProtocol;
using exchange::Reading;
using exchange::Verdict;

namespace {

const uint8_t kCr = 0x0D;
const uint8_t kLf = 0x0A;

// Frame bytes [from, to) as NUL-terminated text, so a conversion stops at
// the frame's end whatever the bytes are. `text` holds to - from + 1 bytes.
void FieldText(const uint8_t* frame, size_t from, size_t to, char* text) {
    size_t w = 0;
    for (size_t i = from; i < to; ++i) text[w++] = static_cast<char>(frame[i]);
    text[w] = '\0';
}

// Kilograms as whole grams, cut toward zero ("32.3" is 32300 g, although
// 32.3 x 1000 is a hair below it in binary).
double Thousandths(double kg) { return WholeTowardZero(kg * 1000.0); }

bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }

const uint8_t kTbeRequest[] = {'G', '1', kCr, kLf};
const uint8_t kTbeTareBytes[] = {'S', 'T', kCr, kLf};
const uint8_t kTb1Request[] = {'G', '0', '1', 'W', kCr, kLf};
const uint8_t kTb1TareBytes[] = {'S', '0', '1', 'T', kCr, kLf};
const uint8_t kVnOldRequest[] = {'<', kVnOldAddress, '!', '>'};
const uint8_t kVnOldTareBytes[] = {'<', kVnOldAddress, 'T', '>'};
const uint8_t kAxisRequest[] = {'S', 'I', kCr, kLf};
const uint8_t kAxisTareBytes[] = {'S', 'T', kCr, kLf};
const uint8_t kIqRequest[] = {'X', 'N', kCr, kLf};
const uint8_t kIqTareBytes[] = {'K', 'T', 'A', 'R', 'E', kCr, kLf};
const uint8_t kEsitRequest[] = {'W', kCr};
const uint8_t kEsitTareBytes[] = {'T', kCr};

const uint8_t kIqStreamOff[] = {'S', 'T', 'R', 'E', 'A', 'M', '=', 'O', 'F', 'F', kCr, kLf};
const uint8_t kIqEx[] = {'E', 'X', kCr, kLf};
const uint8_t kIqSx[] = {'S', 'X', kCr, kLf};

const CommandSpec kIqStreamOffCommand = {.bytes = kIqStreamOff, .length = sizeof(kIqStreamOff)};
const CommandSpec kIqExCommand = {.bytes = kIqEx, .length = sizeof(kIqEx)};
const CommandSpec kIqSxCommand = {.bytes = kIqSx, .length = sizeof(kIqSx)};

}  // namespace

// --- TBE ---------------------------------------------------------------------

bool AcceptsTbe(const uint8_t* frame, size_t length) {
    return frame && length == kTbeReplyLength && ((frame[12] == kCr && frame[13] == kLf) || frame[13] == kCr);
}

Decoded DecodeTbe(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kTbeReplyLength) return kNoAnswer;
    size_t at = 1;
    while (at < kTbeReplyLength && frame[at] == ' ') ++at;
    // Nothing but spaces before the frame's ending: the display is blank.
    // That is no reading (not 0 g), and asking again would bring the same.
    if (at == kTbeReplyLength || frame[at] == kCr) return Decoded(kNoAnswer, Verdict::kEndCycle);
    char text[kTbeReplyLength + 1];
    FieldText(frame, at, kTbeReplyLength, text);
    out.weight = Thousandths(ParseNumberText(text));
    out.stable = 0;
    return kOk;
}

// --- TB1 ---------------------------------------------------------------------

bool AcceptsTb1(const uint8_t* frame, size_t length) {
    return frame && length == kTb1ReplyLength && (frame[10] == kCr || frame[11] == kCr);
}

Decoded DecodeTb1(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kTb1ReplyLength) return kNoAnswer;
    char text[kTb1ReplyLength - 4 + 1];
    FieldText(frame, 4, kTb1ReplyLength, text);
    int32_t result = kOk;
    switch (frame[3]) {
        case 'W':
            out.weight = frame[4] == '-' ? -ParseNumberText(text + 1) : ParseNumberText(text);
            break;
        case 'N':
            out.weight = -ParseNumberText(text);
            break;
        case 'E':
            out.weight = ParseNumberText(text);
            result = kNothingDone;
            break;
        default:
            out.weight = 0.0;
            result = kNothingDone;
            break;
    }
    if (out.weight == 0.0) out.weight = 0.0;  // no minus zero
    out.stable = 0;
    return result;
}

// --- ВН-220 (ІЕ03) on request -----------------------------------------------

bool AcceptsVnOld(const uint8_t* frame, size_t length) {
    return frame && length == kVnOldReplyLength && frame[0] == '<' && frame[6] == '>';
}

void PeekVnOld(const uint8_t* frame, size_t count, Reading& out) {
    if (frame && count >= kVnOldReplyLength) out.stable = (frame[5] & 0x04) ? 1 : 0;
}

Decoded DecodeVnOld(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kVnOldReplyLength) return kNoAnswer;
    PeekVnOld(frame, length, out);
    char digits[7];
    for (int k = 0; k < 6; ++k) {
        const uint8_t byte = frame[2 + k / 2];
        const uint8_t nibble = (k % 2 == 0) ? (byte >> 4) : (byte & 0x0F);
        if (nibble <= 9) {
            digits[k] = static_cast<char>('0' + nibble);
        } else if (nibble == 0x0D || nibble == 0x0F) {
            digits[k] = '0';
        } else {
            // A, B, C, E: not a reading. The line is closed and opened anew
            // by the next call.
            out.weight = 0.0;
            return Decoded(kNoAnswer, Verdict::kEndCycleClosed);
        }
    }
    digits[6] = '\0';
    static const double kFactor[4] = {1000.0, 100.0, 10.0, 1.0};
    const uint8_t status = frame[5];
    const double value = std::trunc(ParseNumberText(digits) * kFactor[status & 0x03]);
    out.weight = value == 0.0 ? 0.0 : ((status & 0x20) ? -value : value);
    return kOk;
}

// --- Axis ----------------------------------------------------------------------

bool AcceptsAxis(const uint8_t* frame, size_t length) {
    return frame && length == kAxisReplyLength && frame[14] == kCr && frame[15] == kLf;
}

Decoded DecodeAxis(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kAxisReplyLength) return kNoAnswer;
    char text[11];
    size_t w = 0;
    for (size_t i = 0; i < 10; ++i) {
        const uint8_t c = frame[i];
        if (IsDigit(c) || c == '.') {
            text[w++] = static_cast<char>(c);
        } else if (c == '-') {
            w = 0;
            text[w++] = '-';
        } else {
            text[w++] = '0';
        }
    }
    text[w] = '\0';
    out.weight = Thousandths(ParseNumberText(text));
    out.stable = 1;
    return kOk;
}

// --- IQ plus 355 -----------------------------------------------------------------

bool AcceptsIqPlus(const uint8_t* frame, size_t length) {
    return frame && length == kIqReplyLength && frame[1] == 'N' && frame[2] == kCr && frame[3] == kLf &&
           frame[6] == kLf && frame[15] == kCr && frame[16] == kLf;
}

Decoded DecodeIqPlus(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kIqReplyLength) return kNoAnswer;
    static const size_t kOffsets[8] = {4, 5, 7, 8, 9, 10, 11, 12};
    char text[9];
    for (size_t i = 0; i < 8; ++i) {
        const uint8_t c = frame[kOffsets[i]];
        text[i] = (IsDigit(c) || c == '-' || c == '.') ? static_cast<char>(c) : '0';
    }
    text[8] = '\0';
    out.weight = ParseNumberText(text);
    if (out.weight == 0.0) out.weight = 0.0;
    out.stable = 1;
    return kOk;
}

// --- ESIT ECI STATIC ---------------------------------------------------------------

bool AcceptsEsit(const uint8_t* frame, size_t length) {
    return frame && length == kEsitReplyLength && frame[10] == kCr && frame[11] == kLf;
}

Decoded DecodeEsit(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kEsitReplyLength) return kNoAnswer;
    char text[11];
    FieldText(frame, 0, 10, text);
    out.weight = ParseNumberText(text);
    if (out.weight == 0.0) out.weight = 0.0;
    out.stable = 0;
    return kOk;
}

// --- descriptions ----------------------------------------------------------------

const PolledProtocol kTbeProtocol = {.request = kTbeRequest,
                                     .requestLength = sizeof(kTbeRequest),
                                     .replyLength = kTbeReplyLength,
                                     .header = {' ', 0},
                                     .headerCount = 1,
                                     .policy = HeaderPolicy::kStrict,
                                     .accepts = AcceptsTbe,
                                     .decode = DecodeTbe};

const PolledProtocol kTb1Protocol = {.request = kTb1Request,
                                     .requestLength = sizeof(kTb1Request),
                                     .replyLength = kTb1ReplyLength,
                                     .header = {'R', 0},
                                     .headerCount = 1,
                                     .policy = HeaderPolicy::kStrict,
                                     .accepts = AcceptsTb1,
                                     .decode = DecodeTb1};

const PolledProtocol kVnOldProtocol = {.request = kVnOldRequest,
                                       .requestLength = sizeof(kVnOldRequest),
                                       .replyLength = kVnOldReplyLength,
                                       .header = {'<', 0},
                                       .headerCount = 1,
                                       .policy = HeaderPolicy::kStrict,
                                       .peek = PeekVnOld,
                                       .accepts = AcceptsVnOld,
                                       .decode = DecodeVnOld};

const PolledProtocol kAxisProtocol = {.request = kAxisRequest,
                                      .requestLength = sizeof(kAxisRequest),
                                      .replyLength = kAxisReplyLength,
                                      .header = {' ', '-'},
                                      .headerCount = 2,
                                      .policy = HeaderPolicy::kStrict,
                                      .attempts = 2,
                                      .accepts = AcceptsAxis,
                                      .decode = DecodeAxis};

const PolledProtocol kIqPlusProtocol = {.request = kIqRequest,
                                        .requestLength = sizeof(kIqRequest),
                                        .replyMayStartWithRequest = true,
                                        .replyLength = kIqReplyLength,
                                        .header = {'X', 0},
                                        .headerCount = 1,
                                        .policy = HeaderPolicy::kStrict,
                                        .accepts = AcceptsIqPlus,
                                        .decode = DecodeIqPlus};

const PolledProtocol kEsitProtocol = {.request = kEsitRequest,
                                      .requestLength = sizeof(kEsitRequest),
                                      .replyLength = kEsitReplyLength,
                                      .policy = HeaderPolicy::kNone,
                                      .accepts = AcceptsEsit,
                                      .decode = DecodeEsit};

const CommandSpec kTbeTare = {.bytes = kTbeTareBytes, .length = sizeof(kTbeTareBytes)};
const CommandSpec kTb1Tare = {.bytes = kTb1TareBytes, .length = sizeof(kTb1TareBytes)};
const CommandSpec kVnOldTare = {.bytes = kVnOldTareBytes, .length = sizeof(kVnOldTareBytes)};
const CommandSpec kAxisTare = {.bytes = kAxisTareBytes, .length = sizeof(kAxisTareBytes)};
const CommandSpec kIqPlusTare = {.bytes = kIqTareBytes, .length = sizeof(kIqTareBytes)};
const CommandSpec kEsitTare = {.bytes = kEsitTareBytes, .length = sizeof(kEsitTareBytes)};

// --- IQ plus commands behind SendPrice ----------------------------------------------

const CommandSpec* IqPlusPriceCommand(int32_t value) {
    switch (value) {
        case 12345: return &kIqStreamOffCommand;
        case 1: return &kIqExCommand;
        case 2: return &kIqSxCommand;
        default: return nullptr;
    }
}

int32_t RunIqPlusPrice(exchange::IByteLine& line, exchange::IExchangeSession& session, int32_t value) {
    if (const CommandSpec* command = IqPlusPriceCommand(value)) return exchange::RunCommand(line, session, *command);
    // No command for this value: nothing is written, but the line is still
    // connected and released as for any command, so a device that does not
    // keep its line leaves the port free for the next call and for other
    // programs.
    CommandSpec nothing;
    nothing.pauseMs = 0;
    const int32_t r = exchange::RunCommand(line, session, nothing);
    return r != kOk ? r : kNotSupported;
}

}  // namespace indicators
}  // namespace zel

int32_t ScalesIQplus355::SendPrice(int32_t value) {
    zel::exchange::PortByteLine line(port);
    zel::exchange::ScaleSession session(*this);
    return zel::indicators::RunIqPlusPrice(line, session, value);
}
