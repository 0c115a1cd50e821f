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
using exchange::ByteClass;
using exchange::Unit;
using exchange::Verdict;

namespace {

const uint8_t kCr = 0x0D;
const uint8_t kLf = 0x0A;

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

// --- weight texts -------------------------------------------------------------

namespace {

bool IsLetter(uint8_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

bool PointBetweenDigits(const uint8_t* text, size_t length) {
    if (!text) return false;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] != '.' && text[i] != ',') continue;
        if (i == 0 || i + 1 == length || !IsDigit(text[i - 1]) || !IsDigit(text[i + 1])) return false;
    }
    return true;
}

const char* ReadWeightText(const uint8_t* text, size_t length, uint8_t grammar, double& value, Unit& unit) {
    if (!text || length == 0) return exchange::kWhyNoNumber;
    size_t from = 0;
    while (from < length && !IsLetter(text[from])) ++from;
    if (!PointBetweenDigits(text, from)) return exchange::kWhyNoNumber;
    double v = 0.0;
    if (from == length) {
        if (!exchange::ReadNumberField(text, length, grammar, v)) return exchange::kWhyNoNumber;
        value = v;
        unit = Unit::kUnknown;
        return nullptr;
    }
    size_t to = from;
    while (to < length && IsLetter(text[to])) ++to;
    for (size_t k = to; k < length; ++k)
        if (text[k] != ' ') return exchange::kWhyNoNumber;
    if (from == 0 || !exchange::ReadNumberField(text, from, grammar | exchange::kTrailingPad, v))
        return exchange::kWhyNoNumber;
    if (to - from == 1 && IsDigit(text[from - 1])) return exchange::kWhyNoNumber;
    const Unit u = exchange::UnitOf(text + from, to - from);
    if (u == Unit::kUnknown) return exchange::kWhyUnknownUnit;
    value = v;
    unit = u;
    return nullptr;
}

Unit UnitField(const uint8_t* field, size_t length, bool& word) {
    word = false;
    if (!field) return Unit::kUnknown;
    size_t b = 0, e = length;
    while (b < e && field[b] == ' ') ++b;
    while (e > b && field[e - 1] == ' ') --e;
    if (b == e) return Unit::kUnknown;
    for (size_t k = b; k < e; ++k)
        if (!IsLetter(field[k])) return Unit::kUnknown;
    word = true;
    return exchange::UnitOf(field + b, e - b);
}

bool Deliver(double value, Unit from, Unit shown, Unit to, double& out) {
    if (from == Unit::kUnknown) from = shown;
    if (!exchange::IsMetric(from) || !exchange::IsMetric(to)) return false;
    double w = exchange::ConvertWeight(value, from, to);
    if (to == Unit::kGram && (from == Unit::kKilogram || from == Unit::kTonne)) w = WholeTowardZero(w);
    out = exchange::NoMinusZero(w);
    return true;
}

namespace {

// The why of a weight text read in `shown` and delivered in `to`; null with
// `out` set when it is a reading.
const char* TextReading(const uint8_t* text, size_t length, uint8_t grammar, Unit shown, Unit to, double& out) {
    double v = 0.0;
    Unit unit = Unit::kUnknown;
    if (const char* why = ReadWeightText(text, length, grammar, v, unit)) return why;
    if (!Deliver(v, unit, shown, to, out)) return exchange::kWhyNotMetric;
    return nullptr;
}

// Right-aligned among spaces, perhaps left-aligned, a sign before the
// digits, '.' or ',' as the point.
const uint8_t kTextGrammar = exchange::kLeadingPad | exchange::kTrailingPad | exchange::kSign | exchange::kPoint |
                             exchange::kComma;

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

// The weight in grams, or a blank display; the why of a text that is
// neither (no ending: kWhyNoNumber).
const char* TbeText(const uint8_t* frame, bool& blank, double& grams) {
    const size_t end = TbeTextEnd(frame);
    if (end == 0) return exchange::kWhyNoNumber;
    blank = Blank(frame, 1, end);
    if (blank) return nullptr;
    return TextReading(frame + 1, end - 1, kTextGrammar, Unit::kKilogram, Unit::kGram, grams);
}

const uint8_t kSpace[] = {' '};
const exchange::Field kTbeFields[] = {
    {.offset = 0, .length = 1, .cls = ByteClass::kFixed, .fixed = kSpace},
    {.offset = 1, .length = 11, .cls = ByteClass::kNumber, .grammar = kTextGrammar},
    // CR LF, or the text's last byte and a CR: the engine cannot hold them.
    {.offset = 12, .length = 2, .cls = ByteClass::kFixed},
};
const exchange::FrameLayout kTbeLayout = {kTbeFields, 3};

}  // namespace

bool AcceptsTbe(const uint8_t* frame, size_t length) {
    bool blank;
    double g;
    if (!frame || length != kTbeReplyLength) return false;
    const char* why = TbeText(frame, blank, g);
    return why != exchange::kWhyNoNumber;
}

Decoded DecodeTbe(const uint8_t* frame, size_t length, Reading& out) {
    bool blank = false;
    double g = 0.0;
    if (!frame || length < kTbeReplyLength) return kNoAnswer;
    if (const char* why = TbeText(frame, blank, g)) return exchange::Refuse(why);
    // Nothing but spaces before the frame's ending: the display is blank.
    // That is no reading (not 0 g), and asking again would bring the same.
    if (blank) return Decoded(kNoAnswer, Verdict::kEndCycle, exchange::kWhyNoNumber);
    out.weight = g;
    out.stable = 0;
    return kOk;
}

// --- TB1 ---------------------------------------------------------------------

namespace {

// The weight text runs from 4 up to the CR at 10 or 11 (a LF just before
// a CR at 11 is the line end too); 0 for neither.
size_t Tb1TextEnd(const uint8_t* frame) {
    if (frame[10] == kCr) return 10;
    if (frame[11] == kCr) return frame[10] == kLf ? 10 : 11;
    return 0;
}

// The states of a reading ('W', 'N') must hold a number, perhaps with its
// unit; the others fail the call whatever the text shows ('E' passes on the
// number when there is one).
const char* Tb1Text(const uint8_t* frame, double& kg) {
    const size_t end = Tb1TextEnd(frame);
    if (end == 0) return exchange::kWhyNoNumber;
    const char* why = TextReading(frame + 4, end - 4, kTextGrammar, Unit::kKilogram, Unit::kKilogram, kg);
    if (why && frame[3] != 'W' && frame[3] != 'N') {
        kg = 0.0;
        return nullptr;
    }
    // 'N' is the weight negated: a sign of its own makes two.
    if (!why && frame[3] == 'N') {
        for (size_t i = 4; i < end; ++i)
            if (frame[i] == '-') return exchange::kWhyNoNumber;
    }
    return why;
}

// The indicator's address, as the request names it.
const uint8_t kTb1Address[] = {'0', '1'};

const uint8_t kR[] = {'R'};
const exchange::Field kTb1Fields[] = {
    {.offset = 0, .length = 1, .cls = ByteClass::kFixed, .fixed = kR},
    {.offset = 1, .length = 2, .cls = ByteClass::kAddress},
    {.offset = 3, .length = 1, .cls = ByteClass::kStatus},
    {.offset = 4, .length = 6, .cls = ByteClass::kNumber, .grammar = kTextGrammar},
    // The CR at 10 or 11.
    {.offset = 10, .length = 2, .cls = ByteClass::kFixed},
};
const exchange::FrameLayout kTb1Layout = {kTb1Fields, 5};

}  // namespace

bool AcceptsTb1(const uint8_t* frame, size_t length) {
    double kg;
    return frame && length == kTb1ReplyLength && Tb1Text(frame, kg) != exchange::kWhyNoNumber;
}

Decoded DecodeTb1(const uint8_t* frame, size_t length, Reading& out) {
    double kg = 0.0;
    if (!frame || length < kTb1ReplyLength) return kNoAnswer;
    if (const char* why = Tb1Text(frame, kg)) return exchange::Refuse(why);
    // A reply of another indicator on the line is not this one's weight.
    if (frame[1] != kTb1Address[0] || frame[2] != kTb1Address[1]) return exchange::Refuse(exchange::kWhyAddress);
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
    out.weight = exchange::NoMinusZero(out.weight);
    out.stable = 0;
    return result;
}

// --- ВН-220 (ІЕ03) on request -----------------------------------------------

namespace {

const uint8_t kLt[] = {'<'};
const uint8_t kGt[] = {'>'};
const exchange::Field kVnOldFields[] = {
    {.offset = 0, .length = 1, .cls = ByteClass::kFixed, .fixed = kLt},
    // The unit's address; asked as 0, it may answer with its own.
    {.offset = 1, .length = 1, .cls = ByteClass::kAddress},
    {.offset = 2, .length = 3, .cls = ByteClass::kBinary},
    // Decimals code, stable and sign bits: every value is a reading.
    {.offset = 5, .length = 1, .cls = ByteClass::kBinary},
    {.offset = 6, .length = 1, .cls = ByteClass::kFixed, .fixed = kGt},
};
const exchange::FrameLayout kVnOldLayout = {kVnOldFields, 5};

}  // namespace

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
            return Decoded(kNoAnswer, Verdict::kEndCycleClosed, exchange::kWhyNoNumber);
        }
    }
    digits[6] = '\0';
    static const double kFactor[4] = {1000.0, 100.0, 10.0, 1.0};
    const uint8_t status = frame[5];
    const double value = std::trunc(ParseNumberText(digits) * kFactor[status & 0x03]);
    out.weight = exchange::NoMinusZero((status & 0x20) ? -value : value);
    return kOk;
}

// --- Axis ----------------------------------------------------------------------

namespace {

// The sign or a space in 0, the number, perhaps its unit; the unit may also
// stand in 10 to 13.
const uint8_t kAxisGrammar = kTextGrammar | exchange::kSignFirst;

const char* AxisReading(const uint8_t* frame, double& grams) {
    double v = 0.0;
    Unit unit = Unit::kUnknown;
    if (const char* why = ReadWeightText(frame, 10, kAxisGrammar, v, unit)) return why;
    bool word = false;
    const Unit field = UnitField(frame + 10, 4, word);
    if (unit == Unit::kUnknown) {
        if (word && field == Unit::kUnknown) return exchange::kWhyUnknownUnit;
        unit = field;
    } else if (field != Unit::kUnknown && field != unit) {
        return exchange::kWhyUnknownUnit;  // two units that disagree
    }
    if (!Deliver(v, unit, Unit::kKilogram, Unit::kGram, grams)) return exchange::kWhyNotMetric;
    return nullptr;
}

const uint8_t kCrLf[] = {kCr, kLf};
const exchange::Field kAxisFields[] = {
    {.offset = 0, .length = 10, .cls = ByteClass::kNumber, .grammar = kAxisGrammar},
    {.offset = 10, .length = 4, .cls = ByteClass::kUnit},
    {.offset = 14, .length = 2, .cls = ByteClass::kFixed, .fixed = kCrLf},
};
const exchange::FrameLayout kAxisLayout = {kAxisFields, 3};

}  // namespace

bool AcceptsAxis(const uint8_t* frame, size_t length) {
    double g;
    return frame && length == kAxisReplyLength && frame[14] == kCr && frame[15] == kLf &&
           AxisReading(frame, g) != exchange::kWhyNoNumber;
}

Decoded DecodeAxis(const uint8_t* frame, size_t length, Reading& out) {
    double g = 0.0;
    if (!frame || length < kAxisReplyLength) return kNoAnswer;
    if (const char* why = AxisReading(frame, g)) return exchange::Refuse(why);
    out.weight = g;
    out.stable = 1;
    return kOk;
}

// --- IQ plus 355 -----------------------------------------------------------------

namespace {

// The eight weight characters (4, 5, then 7 to 12, around the LF at 6): a
// number right-aligned among spaces, its sign in any place before the
// digits; the unit in 13 and 14.
const char* IqPlusReading(const uint8_t* frame, double& kg) {
    static const size_t kOffsets[8] = {4, 5, 7, 8, 9, 10, 11, 12};
    uint8_t chars[8];
    bool negative = false;
    bool leading = true;
    for (size_t i = 0; i < 8; ++i) {
        chars[i] = frame[kOffsets[i]];
        if (!leading) continue;
        if (chars[i] == '-' || chars[i] == '+') {
            if (negative) return exchange::kWhyNoNumber;
            negative = chars[i] == '-';
            chars[i] = ' ';
        } else if (chars[i] != ' ') {
            leading = false;
        }
    }
    double v = 0.0;
    const uint8_t grammar = exchange::kLeadingPad | exchange::kPoint | exchange::kComma;
    if (!PointBetweenDigits(chars, sizeof chars) || !exchange::ReadNumberField(chars, sizeof chars, grammar, v))
        return exchange::kWhyNoNumber;
    bool word = false;
    const Unit unit = UnitField(frame + 13, 2, word);
    if (word && unit == Unit::kUnknown) return exchange::kWhyUnknownUnit;
    if (!Deliver(Negated(v, negative), unit, Unit::kKilogram, Unit::kKilogram, kg)) return exchange::kWhyNotMetric;
    return nullptr;
}

const uint8_t kXnCrLf[] = {'X', 'N', kCr, kLf};
const uint8_t kLfOnly[] = {kLf};
const uint8_t kIqWeightGrammar = exchange::kLeadingPad | exchange::kSign | exchange::kPoint | exchange::kComma;
const exchange::Field kIqFields[] = {
    {.offset = 0, .length = 4, .cls = ByteClass::kFixed, .fixed = kXnCrLf},
    {.offset = 4, .length = 2, .cls = ByteClass::kNumber, .grammar = kIqWeightGrammar},
    {.offset = 6, .length = 1, .cls = ByteClass::kFixed, .fixed = kLfOnly},
    {.offset = 7, .length = 6, .cls = ByteClass::kNumber, .grammar = kIqWeightGrammar, .continues = true},
    {.offset = 13, .length = 2, .cls = ByteClass::kUnit},
    {.offset = 15, .length = 2, .cls = ByteClass::kFixed, .fixed = kCrLf},
};
const exchange::FrameLayout kIqLayout = {kIqFields, 6};

}  // namespace

// The first byte is the engine's header 'X'.
bool AcceptsIqPlus(const uint8_t* frame, size_t length) {
    double kg;
    return frame && length == kIqReplyLength && frame[1] == 'N' && frame[2] == kCr && frame[3] == kLf &&
           frame[6] == kLf && frame[15] == kCr && frame[16] == kLf &&
           IqPlusReading(frame, kg) != exchange::kWhyNoNumber;
}

Decoded DecodeIqPlus(const uint8_t* frame, size_t length, Reading& out) {
    double kg = 0.0;
    if (!frame || length < kIqReplyLength) return kNoAnswer;
    if (const char* why = IqPlusReading(frame, kg)) return exchange::Refuse(why);
    out.weight = kg;
    out.stable = 1;
    return kOk;
}

// --- ESIT ECI STATIC ---------------------------------------------------------------

namespace {

const exchange::Field kEsitFields[] = {
    {.offset = 0, .length = 10, .cls = ByteClass::kNumber, .grammar = kTextGrammar},
    {.offset = 10, .length = 2, .cls = ByteClass::kFixed, .fixed = kCrLf},
};
const exchange::FrameLayout kEsitLayout = {kEsitFields, 2};

const char* EsitReading(const uint8_t* frame, double& kg) {
    return TextReading(frame, 10, kTextGrammar, Unit::kKilogram, Unit::kKilogram, kg);
}

}  // namespace

// The weight text, 0 to 9: the number, perhaps its unit.
bool AcceptsEsit(const uint8_t* frame, size_t length) {
    double kg;
    return frame && length == kEsitReplyLength && frame[10] == kCr && frame[11] == kLf &&
           EsitReading(frame, kg) != exchange::kWhyNoNumber;
}

Decoded DecodeEsit(const uint8_t* frame, size_t length, Reading& out) {
    double kg = 0.0;
    if (!frame || length < kEsitReplyLength) return kNoAnswer;
    if (const char* why = EsitReading(frame, kg)) return exchange::Refuse(why);
    out.weight = kg;
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
                                     .decode = DecodeTbe,
                                     .layout = &kTbeLayout};

const PolledProtocol kTb1Protocol = {.request = kTb1Request,
                                     .requestLength = sizeof(kTb1Request),
                                     .replyLength = kTb1ReplyLength,
                                     .header = {'R', 0},
                                     .headerCount = 1,
                                     .policy = HeaderPolicy::kStrict,
                                     .accepts = AcceptsTb1,
                                     .decode = DecodeTb1,
                                     .layout = &kTb1Layout};

const PolledProtocol kVnOldProtocol = {.request = kVnOldRequest,
                                       .requestLength = sizeof(kVnOldRequest),
                                       .replyLength = kVnOldReplyLength,
                                       .header = {'<', 0},
                                       .headerCount = 1,
                                       .policy = HeaderPolicy::kStrict,
                                       .peek = PeekVnOld,
                                       .accepts = AcceptsVnOld,
                                       .decode = DecodeVnOld,
                                     .layout = &kVnOldLayout};

const PolledProtocol kAxisProtocol = {.request = kAxisRequest,
                                      .requestLength = sizeof(kAxisRequest),
                                      .replyLength = kAxisReplyLength,
                                      .header = {' ', '-'},
                                      .headerCount = 2,
                                      .policy = HeaderPolicy::kStrict,
                                      .attempts = 2,
                                      .accepts = AcceptsAxis,
                                      .decode = DecodeAxis,
                                     .layout = &kAxisLayout};

const PolledProtocol kIqPlusProtocol = {.request = kIqRequest,
                                        .requestLength = sizeof(kIqRequest),
                                        .replyMayStartWithRequest = true,
                                        .replyLength = kIqReplyLength,
                                        .header = {'X', 0},
                                        .headerCount = 1,
                                        .policy = HeaderPolicy::kStrict,
                                        .accepts = AcceptsIqPlus,
                                        .decode = DecodeIqPlus,
                                     .layout = &kIqLayout};

const PolledProtocol kEsitProtocol = {.request = kEsitRequest,
                                      .requestLength = sizeof(kEsitRequest),
                                      .replyLength = kEsitReplyLength,
                                      .accepts = AcceptsEsit,
                                      .decode = DecodeEsit,
                                     .layout = &kEsitLayout};

const CommandSpec kTbeTare = {.bytes = kTbeTareBytes, .length = sizeof(kTbeTareBytes)};
const CommandSpec kTb1Tare = {.bytes = kTb1TareBytes, .length = sizeof(kTb1TareBytes)};
// The scale's address (byte 1) is any: a scale set to another one takes it too.
const CommandSpec kVnOldTare = {.bytes = kVnOldTareBytes, .length = sizeof(kVnOldTareBytes), .anyValueAt = 1};
const CommandSpec kAxisTare = {.bytes = kAxisTareBytes, .length = sizeof(kAxisTareBytes)};
const CommandSpec kIqPlusTare = {.bytes = kIqTareBytes, .length = sizeof(kIqTareBytes)};
const CommandSpec kEsitTare = {.bytes = kEsitTareBytes, .length = sizeof(kEsitTareBytes)};

// --- IQ plus commands behind SendPrice ----------------------------------------------

const CommandSpec* IqPlusPriceCommand(int32_t value) {
    for (const auto& c : kIqPlusPriceCommands)
        if (c.value == value) return c.command;
    return nullptr;
}

exchange::CommandList IqPlusPriceCommands() {
    exchange::CommandList list;
    for (const auto& c : kIqPlusPriceCommands) list.push_back(std::move(exchange::CommandPattern(c.what).Then(*c.command)));
    return list;
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
