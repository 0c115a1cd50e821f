// Price-computing scales that answer a short binary request with fixed
// decimal-digit fields (weight, unit price, cost), each sent least
// significant digit first: Camry (17), JADEVER JPL (21), BTHE UNS-02 (28)
// and ICS NT (30). All but Camry also take a tare command and a unit price.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scales/exchange/Commands.h"
#include "scales/exchange/PolledScale.h"

namespace zel {
namespace pricecomp {

const size_t kShortReplyLength = 17;  // Camry, JADEVER JPL
const size_t kLongReplyLength = 18;   // ICS NT, BTHE UNS-02

// The highest price the price frames carry: five digits of hundredths.
const int32_t kMaxPrice = 99999;

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

// How a scale takes a unit price: a fixed head, the five lowest digits of the
// price in hundredths (least significant first, as values or characters), a
// filler byte; written `repeat` times with `pauseMs` after each, then
// optionally one read of up to `readAfter` bytes that are thrown away.
struct PriceCommand {
    const uint8_t* head;
    int headLength;
    bool asciiDigits;
    uint8_t filler;
    unsigned pauseMs;
    int repeat;
    int readAfter;
};

const int kMaxPriceFrame = 16;

// The price frame for `price` (0..kMaxPrice) into `out`; returns its length,
// 0 for a price the frame cannot carry.
int BuildPriceFrame(const PriceCommand& command, int32_t price, uint8_t (&out)[kMaxPriceFrame]);

// The commands of a scale: tare bytes (written, then a 150 ms pause) and
// its price command.
struct Commands {
    const uint8_t* tare;
    int tareLength;
    PriceCommand price;
};

extern const exchange::PolledProtocol kCamryProtocol;
extern const exchange::PolledProtocol kJplProtocol;
extern const exchange::PolledProtocol kIcsProtocol;
extern const exchange::PolledProtocol kUns2Protocol;

// The tare and the price command as patterns (the price digits any).
exchange::CommandList PatternsOf(const Commands& commands);

extern const Commands kJplCommands;
extern const Commands kIcsCommands;
extern const Commands kUns2Commands;

}  // namespace pricecomp
}  // namespace zel

// A price-computing scale that takes tare and a unit price. A price beyond
// what the frame carries is refused with 4 (bad price) and never sent: its
// dropped digits would set another price on the scale.
class CPriceComputingScale : public CPolledProtocolScale {
public:
    CPriceComputingScale(const zel::exchange::PolledProtocol& protocol, const zel::pricecomp::Commands& commands)
        : CPolledProtocolScale(protocol), commands_(commands) {}

    int32_t Tare(double tare) override;
    int32_t SendPrice(int32_t price) override;

private:
    const zel::pricecomp::Commands& commands_;
};

// Model 21.
class ScalesJADEVER_JPL_N : public CPriceComputingScale {
public:
    ScalesJADEVER_JPL_N() : CPriceComputingScale(zel::pricecomp::kJplProtocol, zel::pricecomp::kJplCommands) {}
};

// Model 30.
class ScalesICS_NT : public CPriceComputingScale {
public:
    ScalesICS_NT() : CPriceComputingScale(zel::pricecomp::kIcsProtocol, zel::pricecomp::kIcsCommands) {}
};

// Model 28.
class ScalesBTHE_UNS_2 : public CPriceComputingScale {
public:
    ScalesBTHE_UNS_2() : CPriceComputingScale(zel::pricecomp::kUns2Protocol, zel::pricecomp::kUns2Commands) {}
};
