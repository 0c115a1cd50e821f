#include "core/Crc.h"

namespace zel {

uint16_t Crc16Modbus(const uint8_t* data, size_t length) {
    uint16_t crc = 0xFFFF;
    if (!data) return crc;
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    return crc;
}

bool Crc16ModbusHolds(const uint8_t* frame, size_t length) {
    if (!frame || length < 3) return false;
    const uint16_t crc = Crc16Modbus(frame, length - 2);
    return frame[length - 2] == (crc & 0xFF) && frame[length - 1] == (crc >> 8);
}

}  // namespace zel
