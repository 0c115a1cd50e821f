// Check sums the scale protocols share.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zel {

// CRC-16 of Modbus RTU: initial value FFFF, reflected polynomial A001. A
// frame carries it low byte first after its data.
uint16_t Crc16Modbus(const uint8_t* data, size_t length);

// True when the last two bytes of `frame` are the CRC-16 of the bytes before
// them, low byte first.
bool Crc16ModbusHolds(const uint8_t* frame, size_t length);

}  // namespace zel
