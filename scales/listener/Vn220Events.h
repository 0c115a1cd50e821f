// VN-220 scales with the IE03 weighing block that send a reading when the
// operator presses the send key. Model 5 sends a 7-byte weight frame and is
// acknowledged after each reading; model 32 adds a tare extension (14 bytes
// in all) and accepts a tare value from the driver.
#pragma once

#include <cstdint>
#include <string>

#include "core/ResultCodes.h"
#include "scales/listener/EventProtocol.h"
#include "scales/listener/ListenerScale.h"

namespace zel {
namespace vn220 {

const int kWeightFrameLength = 7;
const int kTareFrameLength = 14;
const int kAckLength = 4;
const int kTareCommandLength = 7;

extern const uint8_t kAck[kAckLength];  // "<", 0, "A", ">"

// Model 5 acknowledges each frame; model 32 also sends its tare value. The
// address byte (1) is any: a scale set to another one takes them too.
exchange::CommandList Vn220Commands();
exchange::CommandList TaraCommands();

// Byte 0 is '<' and byte 6 is '>'.
bool WeightMarkersOk(const uint8_t* frame);
// Model 32: the weight frame's markers and, when 14 bytes came, those of the
// tare extension ('=' at 7, '>' at 13). A 14-byte frame without them is no
// weight-and-tare reading (often a lone weight frame followed by the start
// of the next): it is refused, not read with a tare of 0.
bool TaraFrameOk(const uint8_t* frame, int count);
// The first '<' after byte 0 of `count` held bytes where the next frame may
// begin (its '>' six bytes on, when held); count when there is none.
int NextFrameStart(const uint8_t* frame, int count);
// The six packed-decimal digits of bytes 2..4, high nibble first; a nibble
// above 9 reads as 0.
std::string FrameDigits(const uint8_t* frame);
// The weight digits hold a number: a nibble above 9 (a blank place of the
// display) only before the first digit, and at least one digit. A blank or
// stray nibble among the digits, or no digit at all, is no reading.
bool WeightDigitsOk(const uint8_t* frame);
// Model 5: the weight in kilograms, using the decimals and sign of byte 5.
double Vn220WeightKg(const uint8_t* frame);
// Model 32: the signed weight in scale units; the decimals bits are unused.
int64_t TaraRawWeight(const uint8_t* frame);
// Model 32: the tare of a 14-byte frame whose extension has its markers,
// else 0.
int32_t TaraRawTare(const uint8_t* frame, int count);

// The tare in grams brought to the unit the coefficient implies (grams for
// 0.001, tens of grams for 0.01, ...); truncates toward zero.
int32_t TareInScaleUnits(int32_t tareGrams, double coeff);
// Tare command carrying the last six decimal digits of `value`. A negative
// value (never produced by the driver's methods) sends its magnitude.
void BuildTareCommand(int32_t value, uint8_t out[kTareCommandLength]);

std::string Vn220Line(double weightKg, const char* deviceId);
// The fields of those lines: model 5 " 1.234;  0.00;  0.00;ID;", model 32 " 1.234; 0.100;  0.00;ID;".
extern const listener::EventLine kVn220EventLine;
extern const listener::EventLine kTaraEventLine;
std::string TaraLine(double weight, double tare, const char* deviceId);

// Model 5: a 7-byte weight frame, acknowledged after each reading (and at
// each SendPrice) before the next read attempt; the weight in kilograms.
// Model 32: a weight frame and its tare extension, 14 bytes (a lone weight
// frame only when nothing followed it in time, and then not published); the
// tare value of SendPrice (or Tare, in grams) and the acknowledgement of a
// 14-byte frame go out before the next cycle's read; weight and tare in
// scale units, which the coefficient turns into kilograms.
extern const listener::EventProtocol kVn220Protocol;
extern const listener::EventProtocol kTaraProtocol;
listener::EventJudgement JudgeVn220Frame(const uint8_t* frame, int count);
listener::EventJudgement JudgeTaraFrame(const uint8_t* frame, int count);

}  // namespace vn220
}  // namespace zel
