// Мирвесов scales and the STX-framed formats they share with a KELI
// indicator. Asked for a reading: the 14-byte 'D' frame (models 7, 12, 38)
// and the А12 text reply (model 8). Transmitting on their own, read by
// hunting for STX: the А12EH frame (model 31) and the А9 continuous frame
// (model 34). Only the А12 takes commands (tare, zero).
#pragma once

#include <cstddef>
#include <cstdint>

#include "scales/exchange/Exchange.h"
#include "scales/exchange/LineMemory.h"

namespace zel {
namespace mirvesov {

const size_t kDFrameLength = 14;
const size_t kA12ReplyLength = 13;
const size_t kA12ehFrameLength = 17;
const size_t kA9ContinFrameLength = 12;

// The two check characters of a 'D' frame (offsets 11, 12) and of an А9
// continuous frame (offsets 9, 10): on many indicators the XOR of the bytes
// between STX and the check, as two hexadecimal characters, high nibble
// first. Others send something else there, so what a line's scale does is
// learnt per line (see CheckMemory).
enum class CheckSeen : uint8_t {
    kValid,  // two hexadecimal characters holding the XOR
    kWrong,  // two hexadecimal characters holding another value
    kNone,   // anything else: no check
};
CheckSeen CheckOf(const uint8_t* frame, size_t checkAt);

// What a line's scale showed of its check. Two valid checks in a row lock
// the line: from then on a frame without a valid check is refused. A wrong
// check is refused until three in a row, none valid, show that this scale
// puts something else there.
const int kLockAfter = 2;
const int kAbsentAfter = 3;
struct CheckMemory {
    int valid = 0;  // valid checks in a row
    int wrong = 0;  // wrong checks in a row
    bool locked = false;
    bool absent = false;
};

// The decoders of the checked frames keep it in the line's memory
// (exchange::LineMemory); with none lent (a frame judged on its own) a
// wrong check is refused and a frame without one is read.

// 02 <address> 'D' <sign> <7 weight bytes> <2 check characters> 03
bool AcceptsDFrame(const uint8_t* frame, size_t length);
// The 'D' frame decoders refuse a frame whose check the line refuses, and a
// sign byte other than '+', '-' or a space. Never stable.
// А9: address 40; six digits (spaces may pad them on the left) and the
// count of decimals shown at offset 10, '0'..'4': thousandths of the
// display unit. Another code is refused.
exchange::Decoded DecodeA9(const uint8_t* frame, size_t length, exchange::Reading& out);
// DS2: "001.234", its point in place, trailing spaces allowed: milligrams
// (with no point the digits are grams, as before).
exchange::Decoded DecodeDs2(const uint8_t* frame, size_t length, exchange::Reading& out);
// KELI K9: address 41; right-aligned decimal text, unscaled.
exchange::Decoded DecodeK9(const uint8_t* frame, size_t length, exchange::Reading& out);

// 'w' <'S' settled, 'U' moving> <9 weight chars> CR LF
bool AcceptsA12Reply(const uint8_t* frame, size_t length);
// The signed text x1000, cut toward zero; a field holding no number is
// refused. Stable unless the status says 'U'.
exchange::Decoded DecodeA12(const uint8_t* frame, size_t length, exchange::Reading& out);

// 02 <status word A> <status word B> <status word C> <6 digits> <6 tare digits> CR
bool AcceptsA12ehFrame(const uint8_t* frame, size_t length);
// The six digits placed by status word A's point bits (x100 .. five
// decimals, whatever the increment); word B: bit 1 negative, bit 2 out of
// range (overload, 7), bit 3 moving, bit 4 kilograms (read only where the
// byte has a status word's fixed bits, else kilograms); word C's unit bits
// (grams and tonnes converted, others refused). Kilograms.
exchange::Decoded DecodeA12eh(const uint8_t* frame, size_t length, exchange::Reading& out);

// 02 <sign> <6 weight chars> <decimal code> <2 check characters> 03
bool AcceptsA9ContinFrame(const uint8_t* frame, size_t length);
// The digits placed by the count of decimals '0'..'4' (another code is
// refused; a text with its own point only with '0'). Never stable.
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
