// Scales with CAS framing: the 16-byte text frame (models 13 and 27) and the
// 18-byte binary LP frame with price and cost (model 14). All three are asked
// with a two-byte request whose second byte follows 150 ms after the first.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scales/exchange/PolledScale.h"

namespace zel {
namespace cas {

const size_t kTextFrameLength = 16;
const size_t kLpFrameLength = 18;

// 06 01 02 <status> <7 weight chars> <3 bytes> 03 04
bool AcceptsTextFrame(const uint8_t* frame, size_t length);
// Weight from the digits, '-' and '.' of the weight field; 'S' status is
// stable; 'F' at the start of the field is an overload (7).
exchange::Decoded DecodeCasText(const uint8_t* frame, size_t length, exchange::Reading& out);
// As DecodeCasText, but a space in the weight field reads as '0', and a field
// without one usable character is reported as an overload (7).
exchange::Decoded DecodeSdl07Text(const uint8_t* frame, size_t length, exchange::Reading& out);

// 01 80 AA <status> <weight u16> <price i32> <cost i32> <4 bytes>, little-endian
bool AcceptsLpFrame(const uint8_t* frame, size_t length);
// Status bit 0 overload (7), bit 6 stable, bit 7 negative weight.
exchange::Decoded DecodeLp16(const uint8_t* frame, size_t length, exchange::Reading& out);

extern const exchange::PolledProtocol kCasProtocol;
extern const exchange::PolledProtocol kSdl07Protocol;
extern const exchange::PolledProtocol kLp16Protocol;

}  // namespace cas
}  // namespace zel

// Model 13.
class ScalesCAS : public CPolledProtocolScale {
public:
    ScalesCAS() : CPolledProtocolScale(zel::cas::kCasProtocol) {}
};

// Model 27.
class ScalesBTHE_SDL_07 : public CPolledProtocolScale {
public:
    ScalesBTHE_SDL_07() : CPolledProtocolScale(zel::cas::kSdl07Protocol) {}
};

// Model 14.
class ScalesCASLP16 : public CPolledProtocolScale {
public:
    ScalesCASLP16() : CPolledProtocolScale(zel::cas::kLp16Protocol) {}
};
