// VN-a-CI scales with the IE04 weighing block and a barcode scanner that send
// a line when the operator sends the reading: '<', six weight characters, a
// status byte, the scanned text and CR. The weight and the text are
// published together. Nothing is ever written to the scale.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/ResultCodes.h"
#include "scales/exchange/ByteLine.h"
#include "scales/listener/EventProtocol.h"
#include "scales/listener/ListenerScale.h"

namespace zel {
namespace vnaci {

const int kFrameCapacity = 50;  // bytes held at most; a frame has fewer
const int kMinFrameLength = 9;  // '<', weight, status, CR
const uint8_t kFrameStart = 0x3C;
const uint8_t kFrameEnd = 0x0D;

// Reads one frame a byte at a time against the 500 ms ReadBudget into
// `frame` (room for `capacity` bytes; at most kFrameCapacity are used, the
// rest of those cleared) and returns the count held. Bytes before '<' are
// dropped, each with a 50 ms pause and 50 ms of budget; a read that brings
// nothing waits as WaitForFrameBytes does; CR ends the read at once. `stop`,
// asked after every other attempt, ends it when true. `clock` (the
// listener's cycle) carries the budget; none: a budget of its own.
int ReadCrFrame(exchange::IByteLine& line, uint8_t* frame, int capacity, const std::function<bool()>& stop,
                listener::ReadClock* clock = nullptr);

// More than 8 and fewer than 50 bytes, '<' first and CR last.
bool FrameOk(const uint8_t* frame, int count);
// Bytes 1..6 hold a number: blanks, then an optional '-', then digits to
// the end of the field (at least one). A blank, point, letter or second
// minus among the digits, or a field of blanks or dashes, is no reading.
bool WeightFieldOk(const uint8_t* frame);
// Weight in kilograms from bytes 1..6 and the decimals of status byte 7, in
// whole thousandths.
double FrameWeightKg(const uint8_t* frame);
// Bytes 8 up to the CR, cut at a zero byte.
std::string FrameText(const uint8_t* frame, int count);

// "%6.3f;%6.2f;%6.2f;%s;%s;": weight, 0.00, 0.00, device ID, text.
std::string VnaCiLine(double weightKg, const char* deviceId, const std::string& text);
// Its fields: " 1.234;  0.00;  0.00;ID;CODE;".
extern const listener::EventLine kVnaCiEventLine;

// Model 6: '<' hunted byte by byte, the frame read up to its CR; weight in
// kilograms and the scanned text. SendPrice is taken and has no effect.
extern const listener::EventProtocol kVnaCiProtocol;
listener::EventJudgement JudgeVnaCiFrame(const uint8_t* frame, int count);

}  // namespace vnaci
}  // namespace zel
