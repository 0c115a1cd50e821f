// Scales with CAS framing: the 16-byte text frame (models 13 and 27) and the
// 18-byte binary LP frame with price and cost (model 14). All three are asked
// with a two-byte request whose second byte follows 150 ms after the first.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scales/exchange/LineMemory.h"
#include "scales/exchange/PolledScale.h"

namespace zel {
namespace cas {

const size_t kTextFrameLength = 16;
const size_t kLpFrameLength = 18;

// 06 01 02 <status> <7 weight chars> <unit, 2 chars> <check> 03 04. The
// status is 'S' stable, 'U' unstable, 'F' overload; the weight field is a
// sign (or space) and the number right-aligned after it; the unit is "kg",
// " g", "g ", "lb" or "oz"; the check is the XOR of the status, the weight
// field and the unit.
bool AcceptsTextFrame(const uint8_t* frame, size_t length);
// The XOR of offsets 3 to 12 of a text frame.
uint8_t TextFrameCheck(const uint8_t* frame);
// The weight in kilograms: a field that holds no number, lb and oz, and a
// unit spelled in letters that is none of the known ones are refused; 'F' as
// the status or at the start of the field is an overload (7).
exchange::Decoded DecodeCasText(const uint8_t* frame, size_t length, exchange::Reading& out);
// As DecodeCasText, but a field without one digit, space, '-' or '.' is an
// overload (7), as the SDL-07 sends it.
exchange::Decoded DecodeSdl07Text(const uint8_t* frame, size_t length, exchange::Reading& out);

// Whether the scale on a line sends the text frame's check byte. Some scales
// of the family leave that byte to other uses, so the check is held only
// once the line has shown it: two frames in a row whose check holds, with
// check values that differ (a constant byte that happens to match one
// weight never locks). Before that, a frame whose check fails is read as
// before; after it, refused. The decoders keep it in the line's memory
// (exchange::LineMemory); with none lent, nothing is held.
class CheckLock {
public:
    // Records one frame's check; true when the frame is to be refused.
    bool Refuses(bool holds, uint8_t check);
    bool Locked() const { return locked_; }
    void Forget() { *this = CheckLock(); }

private:
    bool seen_ = false;
    uint8_t first_ = 0;
    bool locked_ = false;
};

// 01 80 AA <status> <weight u16> <price i32> <cost i32> <4 bytes>, little-endian
bool AcceptsLpFrame(const uint8_t* frame, size_t length);
// Status bit 0 overload (7), bit 6 stable, bit 7 negative weight.
exchange::Decoded DecodeLp16(const uint8_t* frame, size_t length, exchange::Reading& out);

extern const exchange::PolledProtocol kCasProtocol;
extern const exchange::PolledProtocol kSdl07Protocol;
extern const exchange::PolledProtocol kLp16Protocol;

}  // namespace cas
}  // namespace zel

