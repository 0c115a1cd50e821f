// VTA-60 price-computing scales that send weight, unit price and cost when
// the operator presses the "X" key. Model 15 sends three text fields that go
// to the platform unchanged; model 22 sends digit values and also takes unit
// prices and tare commands from the driver.
#pragma once

#include <cstdint>
#include <string>

#include "core/ResultCodes.h"
#include "scales/Prompribor.h"
#include "scales/listener/EventProtocol.h"
#include "scales/listener/ListenerScale.h"

namespace zel {
namespace vta60 {

const int kTextFrameLength = 25;
const int kDigitFrameLength = 18;
const int kPriceCommandLength = prompribor::kVtaPriceCommandLength;
const int kTareCommandLength = 3;
const int32_t kMaxPrice = exchange::kMaxPrice;

extern const uint8_t kTareCommand[kTareCommandLength];

// Model 22's tare and price commands.
exchange::CommandList Vta60Commands();

// Model 15: CR after each 7-character field and a final LF.
bool TextFrameOk(const uint8_t* frame);
// Model 15: the first offset after byte 0 of `count` held bytes from which
// every separator the held bytes reach is in its place: where the next frame
// may begin. count when there is none.
int TextFrameNextStart(const uint8_t* frame, int count);
// Model 15: the three fields hold numbers as a scale prints them: blanks,
// an optional '-', digits with at most one point ('.' or ','), blanks; at
// least one digit. The weight must hold one; price and cost may also be all
// blank (a scale with no price set). A blank, letter, dash or second point
// among the digits is no reading.
bool TextFieldsOk(const uint8_t* frame);
// Model 15: the 24 characters with each CR turned into ';' (a NUL byte in
// a field ends the text, as it ends any text the platform receives). A
// field that reads minus zero loses its '-'.
std::string TextFrameLine(const uint8_t* frame);

// The digit groups and the price command are those of the polled model.
using prompribor::BuildVtaPriceCommand;
using prompribor::DigitGroupValue;

struct DigitReading {
    int32_t grams;
    int32_t price;  // hundredths
    int32_t cost;   // hundredths
};
DigitReading DecodeDigitFrame(const uint8_t* frame);
// Every byte of the 18 holds a digit value 0..9; any other cuts a group's
// number short, a wrong reading, and refuses the frame.
bool DigitFrameOk(const uint8_t* frame);

std::string DigitFrameLine(double weightKg, double price, double cost, const char* deviceId);
// The fields of model 15's line (the scale's own three) and of model 22's.
extern const listener::EventLine kTextEventLine;
extern const listener::EventLine kDigitEventLine;

// Model 15: the 25-byte text frame; the scale's own text goes to the
// platform unchanged (no coefficient, no device ID, no window message); the
// reading carries the three field numbers. SendPrice answers 5.
// Model 22: the 18-byte digit frame, weight in kilograms (grams / 1000); the
// price (up to 99999 hundredths, sent twice) and the tare command go out
// before each read attempt.
extern const listener::EventProtocol kTextProtocol;
extern const listener::EventProtocol kDigitProtocol;
listener::EventJudgement JudgeTextFrame(const uint8_t* frame, int count);
listener::EventJudgement JudgeDigitFrame(const uint8_t* frame, int count);

}  // namespace vta60
}  // namespace zel
