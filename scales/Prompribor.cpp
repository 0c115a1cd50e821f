#include "scales/Prompribor.h"

#include <cmath>
#include <utility>

#include "core/ResultCodes.h"

namespace zel {
namespace prompribor {

using exchange::Decoded;
using exchange::HeaderPolicy;
using exchange::OutputInit;
using exchange::PolledProtocol;
using exchange::Reading;
using exchange::Verdict;

namespace {

const int kGroupDigits = 6;

const uint8_t kVtaRequest[] = {0x00, 0x00, 0x03};
const uint8_t kVtaTareBytes[] = {0x00, 0x00, 0x01};
const uint8_t kVnRequest[] = {0x3C, 0x00, 0x21, 0x3E};
const uint8_t kVnTareBytes[] = {0x3C, 0x00, 0x54, 0x3E};
const uint8_t kVtaPriceHead[] = {0x00, 0x00, 0x02};

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

int32_t DigitGroupValue(const uint8_t* group) {
    char text[kGroupDigits];
    for (int i = 0; i < kGroupDigits; ++i)
        text[i] = static_cast<char>(static_cast<uint8_t>(group[kGroupDigits - 1 - i] + 0x30));
    int i = 0;
    while (i < kGroupDigits && IsSpace(text[i])) ++i;
    bool negative = false;
    if (i < kGroupDigits && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int32_t value = 0;
    for (; i < kGroupDigits && text[i] >= '0' && text[i] <= '9'; ++i) value = value * 10 + (text[i] - '0');
    return negative ? -value : value;
}

int64_t CostOf(int32_t grams, int32_t priceHundredths) {
    // Integer division cuts toward zero, as the scale does. In doubles,
    // (W / 1000) x (P / 100) x 100 lands just below the whole number for
    // many exact readings (4007 g at 10.00 gives 4006.999...), and cutting
    // that would refuse a correct reply.
    return static_cast<int64_t>(grams) * priceHundredths / 1000;
}

bool AcceptsVtaReply(const uint8_t* frame, size_t length) {
    if (!frame || length != kVtaReplyLength) return false;
    // Every byte is a digit value; any other would cut its group's number.
    for (size_t i = 0; i < kVtaReplyLength; ++i)
        if (frame[i] > 9) return false;
    return true;
}

Decoded DecodeVtaReply(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kVtaReplyLength) return kNoAnswer;
    if (!AcceptsVtaReply(frame, length)) return exchange::Refuse(exchange::kWhyNoNumber);
    // The reply carries no stability: the scale is taken as settled (the
    // cycle starts from 1 too, and a frame judged on its own reads the same).
    out.stable = 1;
    const int32_t grams = DigitGroupValue(frame);
    const int32_t price = DigitGroupValue(frame + kGroupDigits);
    const int32_t cost = DigitGroupValue(frame + 2 * kGroupDigits);
    out.weight = grams;
    out.price = price;
    out.cost = cost;
    if (grams != cost) return kOk;
    // Weight and cost fields alike: a reply that may have been mangled, to
    // be believed only when the cost is right for the price.
    if (cost == CostOf(grams, price)) return kOk;
    return Decoded(kNoConnection, Verdict::kRetry);
}

void BuildVtaPriceCommand(int32_t price, uint8_t out[kVtaPriceCommandLength]) {
    static_assert(sizeof kVtaPriceHead + 6 == kVtaPriceCommandLength, "head, five digits, filler");
    for (size_t i = 0; i < sizeof kVtaPriceHead; ++i) out[i] = kVtaPriceHead[i];
    exchange::PriceDigits(price, false, 0x00, out + sizeof kVtaPriceHead);
}

const exchange::CommandSpec kVtaTare = {.bytes = kVtaTareBytes, .length = sizeof(kVtaTareBytes)};
const exchange::PriceCommand kVtaPrice = {.head = kVtaPriceHead, .headLength = sizeof(kVtaPriceHead)};
// The scale's address (byte 1) is any: a scale set to another one takes it too.
const exchange::CommandSpec kVnTare = {.bytes = kVnTareBytes, .length = sizeof(kVnTareBytes), .anyValueAt = 1};

int64_t WeightThousandths(const uint8_t* field, uint8_t status) {
    static const double kScale[4] = {1000.0, 100.0, 10.0, 1.0};
    char text[kWeightFieldLength + 1];
    size_t w = 0;
    for (size_t i = 0; i < kWeightFieldLength; ++i) {
        const char c = static_cast<char>(field[i]);
        if (c >= '0' && c <= '9') {
            text[w++] = c;
        } else if (c == '-') {
            text[0] = '-';
            w = 1;
        } else {
            text[w++] = '0';
        }
    }
    text[w] = '\0';
    // Six characters at most: the product is an exact integer well inside
    // 64 bits, and cutting it turns a minus zero into 0.
    return static_cast<int64_t>(std::trunc(ParseNumberText(text) * kScale[status & 3]));
}

namespace {

bool VnWeight(const uint8_t* frame, size_t length, double& thousandths) {
    if (!frame || length < kVnReplyLength) return false;
    // Six characters: spaces before the number, one sign, digits; the
    // decimals are in the status byte, never a point in the text.
    double n = 0.0;
    if (!exchange::ReadNumberField(frame + 2, kWeightFieldLength, exchange::kLeadingPad | exchange::kSign, n))
        return false;
    static const double kScale[4] = {1000.0, 100.0, 10.0, 1.0};
    thousandths = exchange::NoMinusZero(n * kScale[frame[8] & 3]);
    return true;
}

}  // namespace

bool AcceptsVnReply(const uint8_t* frame, size_t length) {
    return frame && length == kVnReplyLength && frame[0] == 0x3C && frame[9] == 0x3E;
}

Decoded DecodeVnReply(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kVnReplyLength) return kNoAnswer;
    double thousandths = 0.0;
    if (!VnWeight(frame, length, thousandths)) return exchange::Refuse(exchange::kWhyNoNumber);
    out.weight = thousandths;
    out.stable = (frame[8] & 0x04) ? 1 : 0;
    return kOk;
}

namespace {

using exchange::ByteClass;
using exchange::Field;

const uint8_t kVnOpen[] = {0x3C};
const uint8_t kVnClose[] = {0x3E};

// Weight, price, cost: six digit values each.
const Field kVtaFields[] = {
    {0, 6, ByteClass::kBinary}, {6, 6, ByteClass::kBinary}, {12, 6, ByteClass::kBinary}};
// '<', a byte not read, the weight, status (bits 0-1 decimals, bit 2
// stable), '>'.
const Field kVnFields[] = {
    {0, 1, ByteClass::kFixed, kVnOpen},
    {1, 1, ByteClass::kFree},
    {2, 6, ByteClass::kNumber, nullptr, exchange::kLeadingPad | exchange::kSign},
    {8, 1, ByteClass::kDecimals},
    {9, 1, ByteClass::kFixed, kVnClose},
};
const exchange::FrameLayout kVtaLayout = {kVtaFields, 3};
const exchange::FrameLayout kVnLayout = {kVnFields, 5};

}  // namespace

// Any 18 digit values make a reply, so there is no header to wait for. Stable is
// reported 1 whatever the reply (the decoder sets it too); weight, price and cost keep the caller's
// values until a reply overwrites them.
const PolledProtocol kVtaProtocol = {.request = kVtaRequest,
                                     .requestLength = 3,
                                     .replyMayStartWithRequest = true,
                                     .replyLength = 18,
                                     .budgetMs = 300,
                                     .init = OutputInit::kKeepValuesStable1,
                                     .accepts = AcceptsVtaReply,
                                     .decode = DecodeVtaReply,
                                     .layout = &kVtaLayout};

const PolledProtocol kVnProtocol = {.request = kVnRequest,
                                    .requestLength = 4,
                                    .replyLength = 10,
                                    .header = {0x3C, 0},
                                    .headerCount = 1,
                                    .policy = HeaderPolicy::kStrict,
                                    .accepts = AcceptsVnReply,
                                    .decode = DecodeVnReply,
                                    .layout = &kVnLayout};

}  // namespace prompribor
}  // namespace zel
