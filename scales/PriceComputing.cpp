#include "scales/PriceComputing.h"

#include <climits>

#include "core/ResultCodes.h"

namespace zel {
namespace pricecomp {

using exchange::OutputInit;
using exchange::PolledProtocol;
using exchange::Reading;

namespace {

const size_t kFieldMax = 6;

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// atoi over a short text, without its undefined overflow: the value
// saturates instead.
int32_t TextToInt(const char* s) {
    while (IsSpace(*s)) ++s;
    bool negative = false;
    if (*s == '+' || *s == '-') negative = *s++ == '-';
    int64_t v = 0;
    for (; *s >= '0' && *s <= '9'; ++s) {
        v = v * 10 + (*s - '0');
        if (v > INT32_MAX) {
            v = INT32_MAX;
            break;
        }
    }
    return static_cast<int32_t>(negative ? -v : v);
}

// Weight (grams) and two money fields, scaled by `money` (100 for
// hundredths, 1 for values taken as they are).
void DecodeFields(const uint8_t* frame, size_t length, size_t priceDigits, double money, uint8_t add,
                  Reading& out) {
    const size_t priceAt = 6, costAt = priceAt + priceDigits;
    out.weight = DigitField(frame, length, 0, 6, add) / 1000.0;
    out.price = DigitField(frame, length, priceAt, priceDigits, add) / money;
    out.cost = DigitField(frame, length, costAt, 6, add) / money;
}

const uint8_t kLongRequest[] = {0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00};
const uint8_t kIcsRequest[] = {0x00, 0x00, 0x03};
const uint8_t kUns2Request[] = {0x2A, 0x03};

const uint8_t kTareBytes[] = {0x00, 0x00, 0x01};
const uint8_t kUns2TareBytes[] = {0x2A, 0x01};
const uint8_t kPriceHead[] = {0x00, 0x00, 0x02};
const uint8_t kUns2PriceHead[] = {0x2A, 0x02};

}  // namespace

int32_t DigitField(const uint8_t* frame, size_t length, size_t offset, size_t k, uint8_t add) {
    if (!frame || k > kFieldMax || offset >= length) return 0;
    // Each byte is shifted before the text is cut at a zero byte, so a
    // digit value 0 reads as '0', not as the end.
    char text[kFieldMax + 1];
    size_t w = 0;
    for (size_t i = k; i > 0; --i) {
        const size_t at = offset + i - 1;
        if (at >= length) continue;
        text[w++] = static_cast<char>(static_cast<uint8_t>(frame[at] + add));
    }
    text[w] = '\0';
    return TextToInt(text);
}

namespace {

// A character field, least significant digit first: digits, and where
// `signed_` in the top place a digit or the '-' of a negative value.
bool CharacterField(const uint8_t* frame, size_t offset, size_t k, bool signed_) {
    for (size_t i = 0; i < k; ++i) {
        const uint8_t c = frame[offset + i];
        if (!(c >= '0' && c <= '9') && !(signed_ && i == k - 1 && c == '-')) return false;
    }
    return true;
}

bool Zeros(const uint8_t* frame, size_t offset, size_t k) {
    for (size_t i = 0; i < k; ++i)
        if (frame[offset + i] != '0') return false;
    return true;
}

// Weight 6, price `priceDigits`, cost 6 characters. A unit price is never
// negative, and a cost is below zero only with the weight: a '-' anywhere
// else is no reading (a minus zero aside).
bool CharacterReply(const uint8_t* frame, size_t priceDigits) {
    const size_t costAt = 6 + priceDigits;
    if (!CharacterField(frame, 0, 6, true) || !CharacterField(frame, 6, priceDigits, false) ||
        !CharacterField(frame, costAt, 6, true))
        return false;
    return frame[costAt + 5] != '-' || frame[5] == '-' || Zeros(frame, costAt, 5);
}

}  // namespace

// No header and no check byte: every byte is a digit, so anything else (an
// echo of the request, a reply cut and joined to the next) is no reply.
bool AcceptsShortReply(const uint8_t* frame, size_t length) {
    return frame && length == kShortReplyLength && CharacterReply(frame, 5);
}

bool AcceptsLongReply(const uint8_t* frame, size_t length) {
    return frame && length == kLongReplyLength && CharacterReply(frame, 6);
}

bool AcceptsUns2Reply(const uint8_t* frame, size_t length) {
    if (!frame || length != kLongReplyLength) return false;
    for (size_t i = 0; i < length; ++i)
        if (frame[i] > 9) return false;
    return true;
}

exchange::Decoded DecodeShortReply(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length != kShortReplyLength) return kNoAnswer;
    if (!AcceptsShortReply(frame, length)) return exchange::Refuse(exchange::kWhyNoNumber);
    DecodeFields(frame, length, 5, 100.0, 0, out);
    out.stable = 1;
    return kOk;
}

exchange::Decoded DecodeIcsReply(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length != kLongReplyLength) return kNoAnswer;
    if (!AcceptsLongReply(frame, length)) return exchange::Refuse(exchange::kWhyNoNumber);
    DecodeFields(frame, length, 6, 1.0, 0, out);
    out.stable = 1;
    return kOk;
}

exchange::Decoded DecodeUns2Reply(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length != kLongReplyLength) return kNoAnswer;
    if (!AcceptsUns2Reply(frame, length)) return exchange::Refuse(exchange::kWhyNoNumber);
    DecodeFields(frame, length, 6, 100.0, 0x30, out);
    out.stable = 0;
    return kOk;
}

namespace {

using exchange::ByteClass;
using exchange::Field;

// Three fields least significant digit first: characters, or (UNS-02)
// digit values.
// Each field is sent least significant digit first.
const uint16_t kDigitsBackwards = exchange::kReversed;
const Field kShortFields[] = {{0, 6, ByteClass::kNumber, nullptr, kDigitsBackwards},
                              {6, 5, ByteClass::kNumber, nullptr, kDigitsBackwards},
                              {11, 6, ByteClass::kNumber, nullptr, kDigitsBackwards}};
const Field kLongFields[] = {{0, 6, ByteClass::kNumber, nullptr, kDigitsBackwards},
                             {6, 6, ByteClass::kNumber, nullptr, kDigitsBackwards},
                             {12, 6, ByteClass::kNumber, nullptr, kDigitsBackwards}};
const Field kUns2Fields[] = {
    {0, 6, ByteClass::kBinary}, {6, 6, ByteClass::kBinary}, {12, 6, ByteClass::kBinary}};
const exchange::FrameLayout kShortLayout = {kShortFields, 3};
const exchange::FrameLayout kLongLayout = {kLongFields, 3};
const exchange::FrameLayout kUns2Layout = {kUns2Fields, 3};

}  // namespace

// Weight, price and cost keep the caller's values until a reply comes;
// stable is 1 from the start. No header and no check byte: N bytes of
// digits are a reply.
const PolledProtocol kCamryProtocol = {.request = kLongRequest,
                                       .requestLength = sizeof(kLongRequest),
                                       .replyLength = static_cast<int>(kShortReplyLength),
                                       .budgetMs = 300,
                                       .init = OutputInit::kKeepValuesStable1,
                                       .accepts = AcceptsShortReply,
                                       .decode = DecodeShortReply,
                                       .layout = &kShortLayout};

const PolledProtocol kJplProtocol = {.request = kLongRequest,
                                     .requestLength = sizeof(kLongRequest),
                                     .replyLength = static_cast<int>(kShortReplyLength),
                                     .budgetMs = 300,
                                     .init = OutputInit::kKeepValuesStable1,
                                     .accepts = AcceptsShortReply,
                                     .decode = DecodeShortReply,
                                     .layout = &kShortLayout};

// These two ask three times whatever comes: a later reply overwrites the
// outputs, a later silence leaves the earlier reply and its result.
const PolledProtocol kIcsProtocol = {.request = kIcsRequest,
                                     .requestLength = sizeof(kIcsRequest),
                                     .replyLength = static_cast<int>(kLongReplyLength),
                                     .budgetMs = 300,
                                     .stopOnSuccess = false,
                                     .init = OutputInit::kKeepValuesStable1,
                                     .accepts = AcceptsLongReply,
                                     .decode = DecodeIcsReply,
                                     .layout = &kLongLayout};

const PolledProtocol kUns2Protocol = {.request = kUns2Request,
                                      .requestLength = sizeof(kUns2Request),
                                      .replyLength = static_cast<int>(kLongReplyLength),
                                      .budgetMs = 300,
                                      .stopOnSuccess = false,
                                      .init = OutputInit::kKeepValuesStable1,
                                      .accepts = AcceptsUns2Reply,
                                      .decode = DecodeUns2Reply,
                                      .layout = &kUns2Layout};

// The tare is written once, then the command pause. JADEVER writes the price
// frame twice, 200 ms apart, then reads whatever the scale answered and
// drops it.
const exchange::CommandSpec kTare = {.bytes = kTareBytes, .length = sizeof(kTareBytes)};
const exchange::CommandSpec kUns2Tare = {.bytes = kUns2TareBytes, .length = sizeof(kUns2TareBytes)};
const exchange::PriceCommand kJplPrice = {
    .head = kPriceHead, .headLength = sizeof(kPriceHead), .pauseMs = 200, .repeat = 2, .readAfter = 100};
const exchange::PriceCommand kIcsPrice = {
    .head = kPriceHead, .headLength = sizeof(kPriceHead), .asciiDigits = true, .filler = '0'};
const exchange::PriceCommand kUns2Price = {.head = kUns2PriceHead, .headLength = sizeof(kUns2PriceHead)};

}  // namespace pricecomp
}  // namespace zel
