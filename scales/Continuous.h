// Scales that transmit their weight frame over and over without being asked
// (models 18, 19, 25, 29, 33, 36, 39). Nothing is sent: each reading drains
// what has piled up, hunts for the next frame start and decodes the first
// complete frame that passes its check. None of them takes commands.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scales/exchange/PolledScale.h"

namespace zel {
namespace continuous {

const size_t kCertusLength = 20;
const size_t kJadeverLength = 23;
const size_t kSmartLength = 13;
const size_t kVisLength = 18;
const size_t kT7eLength = 8;
const size_t kEsitLength = 7;
const size_t kOcsLength = 9;

// CR, ?, 'S' stable, 4 bytes, sign, 7 weight chars, unit (" kg", blank:
// kilograms), CR LF. A weight field that holds no number is refused.
bool AcceptsCertus(const uint8_t* frame, size_t length);
exchange::Decoded DecodeCertus(const uint8_t* frame, size_t length, exchange::Reading& out);

// CR, ?, "ST" stable / "OL" overload, ' ', 2 bytes, ' ', sign, ?, 11 chars:
// the weight and, after a space, its unit; CR LF.
bool AcceptsJadever(const uint8_t* frame, size_t length);
exchange::Decoded DecodeJadever(const uint8_t* frame, size_t length, exchange::Reading& out);

// STX, '-' negative, 7 weight chars, unit ("kg", blank: kilograms),
// ' ' stable, CR.
bool AcceptsSmart(const uint8_t* frame, size_t length);
exchange::Decoded DecodeSmart(const uint8_t* frame, size_t length, exchange::Reading& out);

// LF, "ST" stable / "OL" overload, 4 bytes, 8 signed weight chars ("OL":
// overload), unit, CR.
bool AcceptsVis(const uint8_t* frame, size_t length);
exchange::Decoded DecodeVis(const uint8_t* frame, size_t length, exchange::Reading& out);

// '=' and the 7 weight chars last first. Never stable.
bool AcceptsT7e(const uint8_t* frame, size_t length);
exchange::Decoded DecodeT7e(const uint8_t* frame, size_t length, exchange::Reading& out);

// '+' or '-', 5 digit bytes (B0..B9: the digit followed by a point), CR.
// Always stable.
bool AcceptsEsit(const uint8_t* frame, size_t length);
exchange::Decoded DecodeEsit(const uint8_t* frame, size_t length, exchange::Reading& out);

// 7F, a byte, 5 weight chars (the most significant at offset 6, down to
// offset 2; spaces before the number, one '-', one point), status (bit 0
// stable), XOR of the seven bytes before it.
bool AcceptsOcs(const uint8_t* frame, size_t length);
exchange::Decoded DecodeOcs(const uint8_t* frame, size_t length, exchange::Reading& out);
// The byte a weight character with a point stands for ('!' is "1."), or 0
// for any other byte.
char OcsPointDigit(uint8_t c);

extern const exchange::PolledProtocol kCertusProtocol;
extern const exchange::PolledProtocol kJadeverProtocol;
extern const exchange::PolledProtocol kSmartProtocol;
extern const exchange::PolledProtocol kVisProtocol;
extern const exchange::PolledProtocol kT7eProtocol;
extern const exchange::PolledProtocol kEsitProtocol;
extern const exchange::PolledProtocol kOcsProtocol;

}  // namespace continuous
}  // namespace zel

