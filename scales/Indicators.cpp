#include "scales/Indicators.h"

#include <cmath>
#include <cstring>
#include <utility>

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

// Kilograms as whole grams, cut toward zero ("32.3" is 32300 g, although
// 32.3 x 1000 is a hair below it in binary).
double Thousandths(double kg) { return WholeTowardZero(kg * 1000.0); }

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

// The commands SendPrice selects on the IQ plus.
const struct {
    int32_t value;
    const CommandSpec* command;
    const char* what;
} kIqPlusPriceCommands[] = {
    {12345, &kIqStreamOffCommand, "price 12345: STREAM=OFF"},
    {1, &kIqExCommand, "price 1: EX"},
    {2, &kIqSxCommand, "price 2: SX"},
};

}  // namespace

// --- TBE ---------------------------------------------------------------------

namespace {

// The end of the weight text: CR LF at 12 and 13 close offsets 1 to 11, a
// CR at 13 alone closes 1 to 12; 0 for neither ending.
size_t TbeTextEnd(const uint8_t* frame) {
    if (frame[12] == kCr && frame[13] == kLf) return 12;
    if (frame[13] == kCr) return 13;
    return 0;
}

bool Blank(const uint8_t* frame, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i)
        if (frame[i] != ' ') return false;
    return true;
}

// The weight text, perhaps with its unit after it; or a blank display.
bool TbeText(const uint8_t* frame, bool& blank, double& kg) {
    const size_t end = TbeTextEnd(frame);
    if (end == 0) return false;
    blank = Blank(frame, 1, end);
    return blank || ReadNumberField(frame + 1, end - 1, true, kg);
}

}  // namespace

bool AcceptsTbe(const uint8_t* frame, size_t length) {
    bool blank;
    double kg;
    return frame && length == kTbeReplyLength && TbeText(frame, blank, kg);
}

Decoded DecodeTbe(const uint8_t* frame, size_t length, Reading& out) {
    bool blank = false;
    double kg = 0.0;
    if (!frame || length < kTbeReplyLength || !TbeText(frame, blank, kg)) return kNoAnswer;
    // Nothing but spaces before the frame's ending: the display is blank.
    // That is no reading (not 0 g), and asking again would bring the same.
    if (blank) return Decoded(kNoAnswer, Verdict::kEndCycle);
    out.weight = Thousandths(kg);
    out.stable = 0;
    return kOk;
}

// --- TB1 ---------------------------------------------------------------------

namespace {

// The weight text runs from 4 up to the CR at 10 or 11 (a LF just before
// a CR at 11 is the line end too). The states of a reading ('W', 'N') must
// hold a number there, perhaps with its unit; the others fail the call
// whatever the text shows ('E' passes on the number when there is one).
bool Tb1Text(const uint8_t* frame, double& kg) {
    size_t end = 0;
    if (frame[10] == kCr) end = 10;
    else if (frame[11] == kCr) end = frame[10] == kLf ? 10 : 11;
    if (end == 0) return false;
    const bool number = ReadNumberField(frame + 4, end - 4, true, kg);
    return number || (frame[3] != 'W' && frame[3] != 'N');
}

}  // namespace

bool AcceptsTb1(const uint8_t* frame, size_t length) {
    double kg;
    return frame && length == kTb1ReplyLength && Tb1Text(frame, kg);
}

Decoded DecodeTb1(const uint8_t* frame, size_t length, Reading& out) {
    double kg = 0.0;
    if (!frame || length < kTb1ReplyLength || !Tb1Text(frame, kg)) return kNoAnswer;
    int32_t result = kOk;
    switch (frame[3]) {
        case 'W':
            out.weight = kg;
            break;
        case 'N':
            out.weight = -kg;
            break;
        case 'E':
            out.weight = kg;
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

// The weight text, 0 to 9: the sign or a space, the number, perhaps its
// unit.
bool AcceptsAxis(const uint8_t* frame, size_t length) {
    double kg;
    return frame && length == kAxisReplyLength && frame[14] == kCr && frame[15] == kLf &&
           ReadNumberField(frame, 10, true, kg);
}

Decoded DecodeAxis(const uint8_t* frame, size_t length, Reading& out) {
    double kg = 0.0;
    if (!frame || length < kAxisReplyLength || !ReadNumberField(frame, 10, true, kg)) return kNoAnswer;
    out.weight = Thousandths(kg);
    out.stable = 1;
    return kOk;
}

// --- IQ plus 355 -----------------------------------------------------------------

namespace {

// The eight weight characters (4, 5, then 7 to 12, around the LF at 6): a
// number among spaces, its sign in any place before the digits.
bool IqPlusWeight(const uint8_t* frame, double& kg) {
    static const size_t kOffsets[8] = {4, 5, 7, 8, 9, 10, 11, 12};
    uint8_t chars[8];
    for (size_t i = 0; i < 8; ++i) chars[i] = frame[kOffsets[i]];
    return ReadNumberField(chars, sizeof chars, false, kg);
}

}  // namespace

// The first byte is the engine's header 'X'.
bool AcceptsIqPlus(const uint8_t* frame, size_t length) {
    double kg;
    return frame && length == kIqReplyLength && frame[1] == 'N' && frame[2] == kCr && frame[3] == kLf &&
           frame[6] == kLf && frame[15] == kCr && frame[16] == kLf && IqPlusWeight(frame, kg);
}

Decoded DecodeIqPlus(const uint8_t* frame, size_t length, Reading& out) {
    double kg = 0.0;
    if (!frame || length < kIqReplyLength || !IqPlusWeight(frame, kg)) return kNoAnswer;
    out.weight = kg == 0.0 ? 0.0 : kg;
    out.stable = 1;
    return kOk;
}

// --- ESIT ECI STATIC ---------------------------------------------------------------

// The weight text, 0 to 9: the number, perhaps its unit.
bool AcceptsEsit(const uint8_t* frame, size_t length) {
    double kg;
    return frame && length == kEsitReplyLength && frame[10] == kCr && frame[11] == kLf &&
           ReadNumberField(frame, 10, true, kg);
}

Decoded DecodeEsit(const uint8_t* frame, size_t length, Reading& out) {
    double kg = 0.0;
    if (!frame || length < kEsitReplyLength || !ReadNumberField(frame, 10, true, kg)) return kNoAnswer;
    out.weight = kg == 0.0 ? 0.0 : kg;
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
    for (const auto& c : kIqPlusPriceCommands)
        if (c.value == value) return c.command;
    return nullptr;
}

exchange::CommandList IqPlusCommands() {
    exchange::CommandList list = {exchange::CommandPattern("tare").Then(kIqPlusTare)};
    for (const auto& c : kIqPlusPriceCommands) list.push_back(std::move(exchange::CommandPattern(c.what).Then(*c.command)));
    return list;
}

// The scale's address (byte 1) is any: a scale set to another one takes it too.
exchange::CommandList VnOldCommands() { return {exchange::CommandPattern("tare").Then(kVnOldTare).AnyAt(1)}; }

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
