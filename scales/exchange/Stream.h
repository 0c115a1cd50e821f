// The hunted read of a scale that transmits all the time (a protocol with a
// StreamFraming). The hunt may land on a byte inside a frame that has a
// header's value, and the N bytes from there may pass the frame's own check
// (a check byte of a rotated frame matches as well as the real one). A
// window is therefore taken only where the stream confirms it:
// - it passes the frame check and the stream's byte kinds;
// - it holds no header-valued byte after its first, so no other alignment
//   fits inside it; or else
// - a silence follows it (a scale pauses between frames), or every other
//   alignment that starts inside it fails on the bytes that follow;
// - no silence inside it is longer than the one before or after it (a
//   window that spans the pause between two frames is no frame).
// Where two alignments pass all of that, the stream's preferred check
// decides, or neither is taken.
#pragma once

#include <cstdint>

#include "scales/exchange/ByteLine.h"
#include "scales/exchange/PolledProtocol.h"

namespace zel {
namespace exchange {

// Collects one attempt's frame from the stream. True when a window was
// taken: `frame` (kMaxReply + 1 bytes, zero-filled by the caller) holds it
// and `decoded` the decoder's verdict. `pending` is a byte already read (-1
// for none). The budget is spent as the hunted read spends it: a dropped
// byte 1 ms, a wait its time.
bool TakeStreamFrame(const PolledProtocol& protocol, IByteLine& line, uint8_t* frame, int& budget, Reading& io,
                     Decoded& decoded, int pending);

}  // namespace exchange
}  // namespace zel
