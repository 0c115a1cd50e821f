// Indicators asked with a short ASCII request that answer with a text reply
// of their own length, ended by a terminator: Radwag WPT/4 (model 35), DIGI
// DS-788 (23), HBM WE2110 (26), KELI (16) and Rinstrum R320/R420 (11). All on
// an 8N1 line.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scales/exchange/Exchange.h"

namespace zel {
namespace ascii {

// Radwag: "SUI" <'?' unstable, '^' over, 'v' under the range, 'E' error>
// <any> <'-', '+' or ' '> <weight, 9 chars> <unit, 4 bytes> CR LF, exactly 21
// bytes; the weight characters hold a number among spaces. Over or under
// the range gives 7; an error, pounds, ounces and a word that is no unit
// are refused; a unit field that is no word is not read (kilograms).
const size_t kRadwagLength = 21;
bool AcceptsRadwag(const uint8_t* frame, size_t length);
exchange::Decoded DecodeRadwag(const uint8_t* frame, size_t length, exchange::Reading& out);

// DIGI: <any> <status> CR '0' <weight, 6 chars> CR ... LF. Status bit 1
// stable, bit 2 negative, bits 0 and 3 over and under the range; '-' in the
// weight reads as '0'. A weight without a digit is overload (7) with a range
// bit, else refused.
bool DigiComplete(const uint8_t* frame, size_t count);
bool AcceptsDigi(const uint8_t* frame, size_t length);
exchange::Decoded DecodeDigi(const uint8_t* frame, size_t length, exchange::Reading& out);

// HBM: the weight as text ended by CR or LF, at least 6 bytes: spaces, an
// optional sign, digits with at most one point, spaces, the line end.
// Anything else is refused.
bool HbmComplete(const uint8_t* frame, size_t count);
bool AcceptsHbm(const uint8_t* frame, size_t length);
exchange::Decoded DecodeHbm(const uint8_t* frame, size_t length, exchange::Reading& out);

// KELI: STX "NW:" <weight text> ETX, more than 10 bytes; the text is a
// number, perhaps followed by its unit (kilograms when it names none).
// Always stable.
bool KeliComplete(const uint8_t* frame, size_t count);
bool AcceptsKeli(const uint8_t* frame, size_t length);
exchange::Decoded DecodeKeli(const uint8_t* frame, size_t length, exchange::Reading& out);

// R320: the header (the flags and address in two hexadecimal digits, a
// reply and no error; command 05, register 0027, ':'), then the weight text
// (a number, perhaps its unit), ended by CR LF; 11 to 30 bytes. The weight
// is reported in grams (thousandths of kilograms when the text names no
// unit); a reply without a digit ends the cycle with 3, any other that is
// not a weight reply is refused.
bool R320Complete(const uint8_t* frame, size_t count);
bool AcceptsR320(const uint8_t* frame, size_t length);
exchange::Decoded DecodeR320(const uint8_t* frame, size_t length, exchange::Reading& out);
// trunc(value x 1000), where a value within rounding error of a whole number
// of thousandths counts as that number (1.005 gives 1005, not 1004).
double Thousandths(double value);

extern const exchange::PolledProtocol kRadwagProtocol;
extern const exchange::PolledProtocol kDigiProtocol;
extern const exchange::PolledProtocol kHbmProtocol;
extern const exchange::PolledProtocol kKeliProtocol;
extern const exchange::PolledProtocol kR320Protocol;

// Radwag tare: "I" CR LF, 600 ms for the scale to act, its answer dropped.
extern const exchange::CommandSpec kRadwagTare;
// HBM tare: "S1;TAR;", 150 ms.
extern const exchange::CommandSpec kHbmTare;
// KELI zero: STX 'E' ETX, no pause.
extern const exchange::CommandSpec kKeliZero;

}  // namespace ascii
}  // namespace zel
