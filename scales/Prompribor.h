// Промприбор scales asked by the driver. The VTA-60 price-computing scale
// (model 0, 8E1) answers 00 00 03 with weight, unit price and cost as 18
// digit values and takes a unit price and a tare command. The VN-a-CI scale
// with the IE04 weighing block (model 1) answers "<", 0, "!", ">" with a
// 10-byte text frame and takes a tare command.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scales/exchange/Exchange.h"

namespace zel {
namespace prompribor {

const size_t kVtaReplyLength = 18;
const size_t kVnReplyLength = 10;
const int kVtaPriceCommandLength = 9;
const size_t kWeightFieldLength = 6;

// One six-byte group of digit values, least significant first, as the
// scale's integer: each byte becomes a character by adding '0', and the text
// is read as the C runtime's atoi reads it (leading white space, one sign,
// digits up to the first other character). Bytes outside 0..9 therefore end
// the number or, at its start, may read as a space or a sign.
int32_t DigitGroupValue(const uint8_t* group);

// The cost in hundredths that W grams at P hundredths per kilogram make,
// W x P / 1000 cut toward zero, worked out exactly in integers.
int64_t CostOf(int32_t grams, int32_t priceHundredths);

// 18 bytes, each a digit value 0..9.
bool AcceptsVtaReply(const uint8_t* frame, size_t length);
// Weight in grams, price and cost in hundredths, unscaled; stable 1 (the
// reply carries none; the cycle starts from 1 as well). A reply with a byte
// above 9 is refused. A reply whose cost equals its weight is believed only
// when that cost is the weight's cost at the price; otherwise result 1 and
// the request is repeated.
exchange::Decoded DecodeVtaReply(const uint8_t* frame, size_t length, exchange::Reading& out);

// 00 00 02, the five lowest decimal digits of the price least significant
// first as values 0..9, 00.
void BuildVtaPriceCommand(int32_t price, uint8_t out[kVtaPriceCommandLength]);
// Model 0's tare (00 00 01) and price frame (00 00 02, five digit values, a
// zero byte, once, no pause); model 1's tare ("<", its address, "T", ">").
// Each tare is followed by the command pause; the value is not sent.
extern const exchange::CommandSpec kVtaTare;
extern const exchange::PriceCommand kVtaPrice;
extern const exchange::CommandSpec kVnTare;

// The IE04 block's six weight characters, in order: a digit is kept, '-'
// replaces everything before it by '-', any other byte reads as '0'. The
// value is that text as a number, brought to thousandths of the scale's unit
// by the decimals in status bits 0 and 1 (x1000, x100, x10, x1), cut toward
// zero. (The scanner block's frames, model 6; the polled reply of model 1
// takes only a number.)
int64_t WeightThousandths(const uint8_t* field, uint8_t status);

// '<' at 0, '>' at 9, ten bytes.
bool AcceptsVnReply(const uint8_t* frame, size_t length);
// Weight in thousandths (grams for a scale showing kilograms), stable from
// status bit 2; no price or cost. The weight characters are spaces before
// the number, one sign and digits: anything else (a space or a letter among
// the digits, a blank or dashed field) is refused.
exchange::Decoded DecodeVnReply(const uint8_t* frame, size_t length, exchange::Reading& out);

extern const exchange::PolledProtocol kVtaProtocol;
extern const exchange::PolledProtocol kVnProtocol;

}  // namespace prompribor
}  // namespace zel
