// Мирвесов scales and the STX-framed formats they share with a KELI
// indicator. Asked for a reading: the 14-byte 'D' frame (models 7, 12, 38)
// and the А12 text reply (model 8). Transmitting on their own, read by
// hunting for STX: the А12EH frame (model 31) and the А9 continuous frame
// (model 34). Only the А12 takes commands (tare, zero).
#pragma once

#include <cstddef>
#include <cstdint>

#include "scales/exchange/Exchange.h"
#include "scales/exchange/PolledScale.h"

namespace zel {
namespace mirvesov {

const size_t kDFrameLength = 14;
const size_t kA12ReplyLength = 13;
const size_t kA12ehFrameLength = 17;
const size_t kA9ContinFrameLength = 12;

// 02 <any> 'D' <sign> <7 weight bytes> <2 bytes> 03
bool AcceptsDFrame(const uint8_t* frame, size_t length);
// А9: up to six digits from offset 4, ended by the first non-digit, scaled
// by the decimal code at offset 10 ('0' x1000, '1' x100, '2' x10, else x1)
// and cut to an integer: thousandths of the display unit. Never stable.
exchange::Decoded DecodeA9(const uint8_t* frame, size_t length, exchange::Reading& out);
// DS2: the digits of offsets 4..10, points skipped, up to the first other
// byte; fewer than two digits read as 0. x1000, cut to an integer. Never stable.
exchange::Decoded DecodeDs2(const uint8_t* frame, size_t length, exchange::Reading& out);
// KELI K9: offsets 4..10 as decimal text, unscaled. Never stable.
exchange::Decoded DecodeK9(const uint8_t* frame, size_t length, exchange::Reading& out);

// 'w' <any> <9 weight chars> CR LF
bool AcceptsA12Reply(const uint8_t* frame, size_t length);
// The text x1000, cut toward zero. Always stable: the reply says nothing of it.
exchange::Decoded DecodeA12(const uint8_t* frame, size_t length, exchange::Reading& out);

// 02 <decimal code> <status> <any> <6 digits> <6 bytes> CR
bool AcceptsA12ehFrame(const uint8_t* frame, size_t length);
// Digits of offsets 4..9 (others skipped) times the factor of the decimal
// code's low seven bits; status bit 1 negative, bit 3 moving, bit 2 no valid
// weight (weight 0, not stable, still result 0).
exchange::Decoded DecodeA12eh(const uint8_t* frame, size_t length, exchange::Reading& out);

// 02 <sign> <6 weight chars> <decimal code> <2 bytes> 03
bool AcceptsA9ContinFrame(const uint8_t* frame, size_t length);
// The text times the factor of the decimal code ('1' x0.1 .. '4' x0.0001,
// else x1). Never stable.
exchange::Decoded DecodeA9Contin(const uint8_t* frame, size_t length, exchange::Reading& out);

extern const exchange::PolledProtocol kA9Protocol;
extern const exchange::PolledProtocol kA12Protocol;
extern const exchange::PolledProtocol kDs2Protocol;
extern const exchange::PolledProtocol kK9Protocol;
extern const exchange::PolledProtocol kA12ehProtocol;
extern const exchange::PolledProtocol kA9ContinProtocol;

// А12 commands: one byte each, nothing waited for afterwards.
extern const exchange::CommandSpec kA12Tare;
extern const exchange::CommandSpec kA12Zero;

}  // namespace mirvesov
}  // namespace zel

// Model 7.
class ScalesA9 : public CPolledProtocolScale {
public:
    ScalesA9() : CPolledProtocolScale(zel::mirvesov::kA9Protocol) {}
};

// Model 8.
class ScalesA12 : public CPolledProtocolScale {
public:
    ScalesA12() : CPolledProtocolScale(zel::mirvesov::kA12Protocol) {}
    int32_t Tare(double) override { return SendCommand(zel::mirvesov::kA12Tare); }
    int32_t Zero() override { return SendCommand(zel::mirvesov::kA12Zero); }
};

// Model 12.
class ScalesDS2 : public CPolledProtocolScale {
public:
    ScalesDS2() : CPolledProtocolScale(zel::mirvesov::kDs2Protocol) {}
};

// Model 38.
class ScalesK9Keli : public CPolledProtocolScale {
public:
    ScalesK9Keli() : CPolledProtocolScale(zel::mirvesov::kK9Protocol) {}
};

// Model 31.
class ScalesA12EH : public CPolledProtocolScale {
public:
    ScalesA12EH() : CPolledProtocolScale(zel::mirvesov::kA12ehProtocol) {}
};

// Model 34.
class CScalesA9Contin : public CPolledProtocolScale {
public:
    CScalesA9Contin() : CPolledProtocolScale(zel::mirvesov::kA9ContinProtocol) {}
};
