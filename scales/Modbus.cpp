#include "scales/Modbus.h"

#include "core/ResultCodes.h"

namespace zel {
namespace modbus {

using exchange::HeaderPolicy;
using exchange::PolledProtocol;
using exchange::Reading;

const uint8_t kBst106Request[8] = {0x01, 0x03, 0x00, 0x02, 0x00, 0x03, 0xA4, 0x0B};
const uint8_t kBst106Tare[kCommandLength] = {0x01, 0x06, 0x00, 0x07, 0xA5, 0x0B, 0x02, 0x9C};
const uint8_t kD12Request[8] = {0x01, 0x03, 0x00, 0x03, 0x00, 0x04, 0xB4, 0x09};
const uint8_t kD12Zero[kCommandLength] = {0x01, 0x06, 0x00, 0x01, 0x00, 0x17, 0x98, 0x04};

namespace {

const uint8_t kSlave = 0x01;
const uint8_t kReadHolding = 0x03;

const size_t kD12WeightOffset = 3;
const size_t kD12WeightLength = 7;
const size_t kD12DecimalsOffset = 10;

}  // namespace

bool AcceptsBst106Reply(const uint8_t* frame, size_t length) {
    return frame && length == kBst106ReplyLength && frame[0] == kSlave && frame[1] == kReadHolding &&
           frame[2] == 0x06;
}

exchange::Decoded DecodeBst106(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kBst106ReplyLength) return kNoAnswer;
    const uint32_t raw = static_cast<uint32_t>(frame[3]) << 24 | static_cast<uint32_t>(frame[4]) << 16 |
                         static_cast<uint32_t>(frame[5]) << 8 | static_cast<uint32_t>(frame[6]);
    // Two's complement without relying on the implementation's conversion.
    const int64_t value = raw <= 0x7FFFFFFFu ? static_cast<int64_t>(raw) : static_cast<int64_t>(raw) - 0x100000000LL;
    out.weight = static_cast<double>(value);
    out.price = 0.0;
    out.cost = 0.0;
    out.stable = (frame[7] & 0x20) ? 1 : 0;
    return kOk;
}

bool AcceptsD12Reply(const uint8_t* frame, size_t length) {
    return frame && length == kD12ReplyLength && frame[0] == kSlave && frame[1] == kReadHolding;
}

exchange::Decoded DecodeD12(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kD12ReplyLength) return kNoAnswer;
    char text[kD12WeightLength + 1];
    for (size_t i = 0; i < kD12WeightLength; ++i) text[i] = static_cast<char>(frame[kD12WeightOffset + i]);
    text[kD12WeightLength] = '\0';
    double factor = 1.0;
    switch (frame[kD12DecimalsOffset]) {
        case '1': factor = 0.1; break;
        case '2': factor = 0.01; break;
        case '3': factor = 0.001; break;
        case '4': factor = 0.0001; break;
        case '5': factor = 0.00001; break;
        default: break;
    }
    out.weight = ParseNumberText(text) * factor;
    out.price = 0.0;
    out.cost = 0.0;
    out.stable = 0;
    return kOk;
}

const PolledProtocol kBst106Protocol = {.request = kBst106Request,
                                        .requestLength = 8,
                                        .replyLength = static_cast<int>(kBst106ReplyLength),
                                        .policy = HeaderPolicy::kNone,
                                        .budgetMs = 300,
                                        .attempts = 3,
                                        .accepts = AcceptsBst106Reply,
                                        .decode = DecodeBst106};

const PolledProtocol kD12Protocol = {.request = kD12Request,
                                     .requestLength = 8,
                                     .replyLength = static_cast<int>(kD12ReplyLength),
                                     .header = {kSlave, 0},
                                     .headerCount = 1,
                                     .policy = HeaderPolicy::kStrict,
                                     .budgetMs = 500,
                                     .attempts = 3,
                                     .accepts = AcceptsD12Reply,
                                     .decode = DecodeD12};

}  // namespace modbus
}  // namespace zel

using zel::exchange::kCommandPauseMs;

int32_t ScalesBST106::Tare(double) {
    return SendCommand(zel::modbus::kBst106Tare, zel::modbus::kCommandLength, kCommandPauseMs);
}

int32_t ScalesD12Keli::Tare(double) { return Zero(); }

int32_t ScalesD12Keli::Zero() {
    return SendCommand(zel::modbus::kD12Zero, zel::modbus::kCommandLength, kCommandPauseMs);
}
