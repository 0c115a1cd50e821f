// Масса-К МК-ТВ / МК-ТН scales: the request 'E' and a two-byte signed
// little-endian weight, on an 8E1 line.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scales/exchange/PolledScale.h"

namespace zel {
namespace massak {

const size_t kReplyLength = 2;

// Any two bytes are a reply.
bool AcceptsReply(const uint8_t* frame, size_t length);
// Weight as the signed 16-bit value; price and cost 0; the scale's stable
// state is not reported (stable 0).
exchange::Decoded DecodeReply(const uint8_t* frame, size_t length, exchange::Reading& out);

extern const exchange::PolledProtocol kProtocol;

}  // namespace massak
}  // namespace zel

