// Indicators read over Modbus RTU, slave 1: BST106 (model 41) and KELI D12
// (model 40). Each has one fixed read-holding-registers request and one fixed
// write-single-register command, both carrying their CRC. A reply counts
// only when its slave address, function, byte count and CRC hold; a write
// counts when the slave answers it with the same address, function and
// register and a valid CRC, whatever value the register reads back.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scales/exchange/Exchange.h"

namespace zel {
namespace modbus {

const size_t kBst106ReplyLength = 11;
const size_t kD12ReplyLength = 13;
const int kCommandLength = 8;

// Registers 2..4: 01 03 00 02 00 03 <crc>.
extern const uint8_t kBst106Request[8];
// Register 7 := A50B: 01 06 00 07 A5 0B <crc>.
extern const uint8_t kBst106Tare[kCommandLength];
// Registers 3..6: 01 03 00 03 00 04 <crc>.
extern const uint8_t kD12Request[8];
// Register 1 := 0017: 01 06 00 01 00 17 <crc>.
extern const uint8_t kD12Zero[kCommandLength];

// 01 03 06 <weight i32 big-endian> <status> <byte> <crc>. An exception reply
// (function 83) is refused.
bool AcceptsBst106Reply(const uint8_t* frame, size_t length);
// The weight as the signed count the indicator shows, not scaled; status
// bit 5 is stable.
exchange::Decoded DecodeBst106(const uint8_t* frame, size_t length, exchange::Reading& out);

// 01 03 08 <7 weight chars> <decimals digit> <crc>.
bool AcceptsD12Reply(const uint8_t* frame, size_t length);
// The weight text scaled by the decimals digit ('0'..'5'; any other byte is
// refused); a text that holds no number, or a point as well as a decimals
// code, is refused; stability is not reported (0).
exchange::Decoded DecodeD12(const uint8_t* frame, size_t length, exchange::Reading& out);

extern const exchange::PolledProtocol kBst106Protocol;
extern const exchange::PolledProtocol kD12Protocol;

// Tare of the BST106 and zero of the D12, confirmed by the slave's reply.
extern const exchange::CommandSpec kBst106TareCommand;
extern const exchange::CommandSpec kD12ZeroCommand;

}  // namespace modbus
}  // namespace zel
