#include "scales/Modbus.h"

#include "core/Crc.h"
#include "core/ResultCodes.h"

namespace zel {
namespace modbus {

using exchange::ByteClass;
using exchange::Field;
using exchange::FrameLayout;
using exchange::HeaderPolicy;
using exchange::PolledProtocol;
using exchange::Reading;
using exchange::Refuse;

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

// A read-holding-registers reply of `expected` bytes: slave, function, the
// count of the data bytes between the header and the CRC, and the CRC.
bool IsRegistersReply(const uint8_t* frame, size_t length, size_t expected) {
    return frame && length == expected && frame[0] == kSlave && frame[1] == kReadHolding &&
           frame[2] == static_cast<uint8_t>(expected - 5) && Crc16ModbusHolds(frame, length);
}

// A write of a single register is answered with the slave's address, the
// function and the register written, then the register's value after the
// write: a command register that clears itself once carried out reads back
// another value than the one written, so the value is not compared. An
// exception reply (function | 80) confirms nothing.
bool ConfirmsWrite(const uint8_t* command, const uint8_t* frame, size_t length) {
    if (!frame || length != static_cast<size_t>(kCommandLength)) return false;
    for (size_t i = 0; i < 4; ++i)
        if (frame[i] != command[i]) return false;
    return Crc16ModbusHolds(frame, length);
}

bool ConfirmsBst106Tare(const uint8_t* frame, size_t length) { return ConfirmsWrite(kBst106Tare, frame, length); }
bool ConfirmsD12Zero(const uint8_t* frame, size_t length) { return ConfirmsWrite(kD12Zero, frame, length); }

// The count: zero-padded or right-aligned, a sign first or before its
// digits; a point only where the decimals code says none.
const uint8_t kD12Grammar = exchange::kSignFirst | exchange::kLeadingPad | exchange::kSign | exchange::kPoint;

const uint8_t kReadStart[] = {kReadHolding};
const uint8_t kBst106Count[] = {0x06};
const uint8_t kD12Count[] = {0x08};
const uint8_t kSlaveByte[] = {kSlave};

const Field kBst106Fields[] = {
    {0, 1, ByteClass::kAddress, kSlaveByte},
    {1, 1, ByteClass::kFixed, kReadStart},
    {2, 1, ByteClass::kFixed, kBst106Count},
    {3, 4, ByteClass::kBinary},
    {7, 1, ByteClass::kStatus},
    {8, 1, ByteClass::kFree},
    {9, 2, ByteClass::kCheck},
};
const FrameLayout kBst106Layout = {kBst106Fields, sizeof kBst106Fields / sizeof kBst106Fields[0]};

const Field kD12Fields[] = {
    {0, 1, ByteClass::kAddress, kSlaveByte},
    {1, 1, ByteClass::kFixed, kReadStart},
    {2, 1, ByteClass::kFixed, kD12Count},
    {3, 7, ByteClass::kNumber, nullptr, kD12Grammar},
    {10, 1, ByteClass::kDecimals},
    {11, 2, ByteClass::kCheck},
};
const FrameLayout kD12Layout = {kD12Fields, sizeof kD12Fields / sizeof kD12Fields[0]};

bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }

}  // namespace

bool AcceptsBst106Reply(const uint8_t* frame, size_t length) {
    return IsRegistersReply(frame, length, kBst106ReplyLength);
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

bool AcceptsD12Reply(const uint8_t* frame, size_t length) { return IsRegistersReply(frame, length, kD12ReplyLength); }

exchange::Decoded DecodeD12(const uint8_t* frame, size_t length, Reading& out) {
    if (!frame || length < kD12ReplyLength) return kNoAnswer;
    // The decimals are an ASCII digit 0..5; any other byte is no code of the
    // format.
    const uint8_t d = frame[kD12DecimalsOffset];
    if (d < '0' || d > '5') return Refuse(exchange::kWhyDecimals);
    const int decimals = d - '0';
    const uint8_t* text = frame + kD12WeightOffset;
    size_t first = 0;
    while (first < kD12WeightLength && (text[first] == ' ' || text[first] == '-' || text[first] == '+')) ++first;
    double count = 0.0;
    if (first == kD12WeightLength || !IsDigit(text[first]) ||
        !exchange::ReadNumberField(text, kD12WeightLength, kD12Grammar, count))
        return Refuse(exchange::kWhyNoNumber);
    // A text with its own point and a decimals code as well says two things.
    if (decimals > 0)
        for (size_t i = 0; i < kD12WeightLength; ++i)
            if (text[i] == '.') return Refuse(exchange::kWhyDecimals);
    // Divided by a power of ten, which is exact where the decimal value has
    // a double: 3 with one decimal is 0.3, not 3 x 0.1.
    static const double kPowers[] = {1.0, 10.0, 100.0, 1000.0, 10000.0, 100000.0};
    out.weight = exchange::NoMinusZero(count / kPowers[decimals]);
    out.price = 0.0;
    out.cost = 0.0;
    out.stable = 0;
    return kOk;
}

// An exception reply is shorter than a reading, and the CRC refuses a
// shifted frame anyway.
const PolledProtocol kBst106Protocol = {.request = kBst106Request,
                                        .requestLength = 8,
                                        .repliesMayBeShort = true,
                                        .replyLength = static_cast<int>(kBst106ReplyLength),
                                        .budgetMs = 300,
                                        .accepts = AcceptsBst106Reply,
                                        .decode = DecodeBst106,
                                        .layout = &kBst106Layout};

const PolledProtocol kD12Protocol = {.request = kD12Request,
                                     .requestLength = 8,
                                     .replyLength = static_cast<int>(kD12ReplyLength),
                                     .header = {kSlave, 0},
                                     .headerCount = 1,
                                     .policy = HeaderPolicy::kStrict,
                                     .accepts = AcceptsD12Reply,
                                     .decode = DecodeD12,
                                     .layout = &kD12Layout};

// The writes are confirmed by the slave's reply within the read budget, and
// keep their pause.
const exchange::CommandSpec kBst106TareCommand = {.bytes = kBst106Tare,
                                                  .length = kCommandLength,
                                                  .replyLength = kCommandLength,
                                                  .replyBudgetMs = 300,
                                                  .confirms = ConfirmsBst106Tare,
                                                  .replyMayStartWithCommand = true};

const exchange::CommandSpec kD12ZeroCommand = {.bytes = kD12Zero,
                                               .length = kCommandLength,
                                               .replyLength = kCommandLength,
                                               .confirms = ConfirmsD12Zero,
                                               .replyMayStartWithCommand = true};

}  // namespace modbus
}  // namespace zel
