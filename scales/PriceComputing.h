// Price-computing scales that answer a short binary request with fixed
// decimal-digit fields (weight, unit price, cost), each sent least
// significant digit first: Camry (17), JADEVER JPL (21), BTHE UNS-02 (28)
// and ICS NT (30). All but Camry also take a tare command and a unit price.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scales/exchange/Exchange.h"

namespace zel {
namespace pricecomp {

const size_t kShortReplyLength = 17;  // Camry, JADEVER JPL
const size_t kLongReplyLength = 18;   // ICS NT, BTHE UNS-02

// A reversed digit field as a number: the text of bytes offset+k-1 down to
// offset, each plus `add` (30 turns a digit value into its character),
// converted as atoi does (leading white space and one sign, then digits up
// to the first other character; 0 without a digit). Bytes past `length`
// are left out.
int32_t DigitField(const uint8_t* frame, size_t length, size_t offset, size_t k, uint8_t add = 0);

// A reply is complete at its length and carries no check of its own; it is
// a reply when every field holds digits. Character fields (Camry, JADEVER
// JPL: 17 bytes; ICS NT: 18) hold '0'..'9'; the top place of the weight
// may hold the '-' of a negative weight, and that of the cost the '-' of a
// negative cost of a negative weight (or of a zero cost); a unit price has
// no sign. The BTHE UNS-02 fields (18 bytes) hold digit values 0..9 and no
// sign.
bool AcceptsShortReply(const uint8_t* frame, size_t length);
bool AcceptsLongReply(const uint8_t* frame, size_t length);
bool AcceptsUns2Reply(const uint8_t* frame, size_t length);

// The decoders read a reply's fields; one that the check above refuses is
// refused with the why kWhyNoNumber.
// Camry and JADEVER JPL, 17 ASCII digits: weight 6 (grams), price 5 and
// cost 6 (hundredths). Stable 1.
exchange::Decoded DecodeShortReply(const uint8_t* frame, size_t length, exchange::Reading& out);
// ICS NT, 18 ASCII digits: weight 6 (grams), price 6 and cost 6 taken as
// they are. Stable 1.
exchange::Decoded DecodeIcsReply(const uint8_t* frame, size_t length, exchange::Reading& out);
// BTHE UNS-02, 18 digit values 0..9: weight 6 (grams), price 6 and cost 6
// (hundredths). The scale reports no stability: stable 0.
exchange::Decoded DecodeUns2Reply(const uint8_t* frame, size_t length, exchange::Reading& out);

extern const exchange::PolledProtocol kCamryProtocol;
extern const exchange::PolledProtocol kJplProtocol;
extern const exchange::PolledProtocol kIcsProtocol;
extern const exchange::PolledProtocol kUns2Protocol;

// The tare of models 21 and 30 (00 00 01) and of model 28 (2A 01); the
// price frames of models 21 (00 00 02, digit values, 00, twice), 30
// (00 00 02, digit characters, '0') and 28 (2A 02, digit values, 00). A
// price beyond what the frame carries is refused with 4 (bad price) and
// never sent: its dropped digits would set another price on the scale.
extern const exchange::CommandSpec kTare;
extern const exchange::CommandSpec kUns2Tare;
extern const exchange::PriceCommand kJplPrice;
extern const exchange::PriceCommand kIcsPrice;
extern const exchange::PriceCommand kUns2Price;

}  // namespace pricecomp
}  // namespace zel
