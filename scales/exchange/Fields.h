// What each byte of a reply may hold, described once per format, and the
// readers the decoders share. A format's FrameLayout lists its fields by
// offset: the engine refuses a frame whose fixed bytes differ before the
// protocol's own check runs, the decoders read their number fields with
// ReadNumberField under the field's grammar, and the field-walk test
// substitutes every class of byte at every position of a good frame and
// holds the outcome against the field's class.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zel {
namespace exchange {

enum class ByteClass : uint8_t {
    kFixed,    // always the layout's bytes (`fixed`, `length` of them)
    kNumber,   // a text number: padding, sign, point and digits as `grammar` allows
    kBinary,   // a binary value: every byte value is a value (a weight, a price)
    kUnit,     // the unit of the weight, spelled by the scale
    kStatus,   // marks of stability, motion, overload, error
    kAddress,  // the replying scale's address
    kDecimals, // a code for the place of the decimal point
    kCheck,    // a check value over other bytes (XOR, sum, CRC)
    kFree,     // bytes the driver does not read (reserved, spare, text)
};

// What a text number field may hold (bits of NumberField::grammar).
enum NumberGrammar : uint16_t {
    kDigitsOnly = 0,
    kLeadingPad = 1 << 0,   // spaces before the number (a right-aligned field)
    kTrailingPad = 1 << 1,  // spaces after the number (a left-aligned field)
    kSign = 1 << 2,         // one '-' or '+' (or a space in its place) before the digits
    kPoint = 1 << 3,        // one '.' between digits
    kComma = 1 << 4,        // ',' as the decimal point
    kSignFirst = 1 << 5,    // the sign sits in the field's first byte, padding may follow it
    kDashDigit = 1 << 6,    // a '-' among the digits is a digit the display does not light (0)
    kReversed = 1 << 7,     // sent least significant character first
    kPointedDigits = 1 << 8,  // a byte B0..B9 is the digit (byte - 0x80) followed by a point
};

struct Field {
    uint16_t offset = 0;
    uint16_t length = 1;
    ByteClass cls = ByteClass::kFixed;
    const uint8_t* fixed = nullptr;  // kFixed: the `length` bytes the format always sends
    uint16_t grammar = kDigitsOnly;  // kNumber: NumberGrammar bits
    // kNumber: this field goes on with the number of the number field before
    // it (a sign byte of its own, or a number the scale splits around a
    // fixed byte).
    bool continues = false;
};

struct FrameLayout {
    const Field* fields = nullptr;
    size_t count = 0;
    // True when a frame may be longer than the last field (an end condition
    // ends it): positions past the fields are not described.
    bool open = false;
};

// The field of `layout` that holds position `at`; null when none does.
const Field* FieldAt(const FrameLayout& layout, size_t at);

// True when every fixed field of the layout that lies inside the frame holds
// its bytes.
bool FixedFieldsHold(const FrameLayout& layout, const uint8_t* frame, size_t length);

// Reads a text number of `length` bytes under `grammar`: padding only where
// the grammar pads, at most one sign and one point, at least one digit,
// nothing else. False, with `value` untouched, for a field that holds no
// number (blanks, dashes, "OL", letters) or one with a space, a letter or a
// second point among its digits. Never gives minus zero.
bool ReadNumberField(const uint8_t* text, size_t length, uint16_t grammar, double& value);
// The same for the field of a frame (bounds checked against `frameLength`).
bool ReadNumberField(const uint8_t* frame, size_t frameLength, const Field& field, double& value);

// How many decimals a number field's text spells (digits after its point);
// 0 with no point.
int DecimalsOf(const uint8_t* text, size_t length);

// -0.0 becomes 0.0; every other value stays.
inline double NoMinusZero(double v) { return v == 0.0 ? 0.0 : v; }

// Metric units a scale may spell, and their factor to grams.
enum class Unit : uint8_t { kUnknown, kMilligram, kGram, kKilogram, kTonne, kPound, kOunce };
// The unit spelled by `text` (case-insensitive, spaces around it ignored):
// "mg", "g", "kg", "t", "lb", "lbs", "oz"; kUnknown for anything else.
Unit UnitOf(const uint8_t* text, size_t length);
// True for the units a weight can be converted from (mg, g, kg, t).
bool IsMetric(Unit unit);
// `value` given in `from`, in `to` (both metric).
double ConvertWeight(double value, Unit from, Unit to);

// Why a decoder refused a frame, for the tools.
extern const char* const kWhyNoNumber;      // "the weight field holds no number"
extern const char* const kWhyNotMetric;     // "the scale weighs in pounds or ounces"
extern const char* const kWhyUnknownUnit;   // "the frame names an unknown unit"
extern const char* const kWhyErrorMark;     // "the scale reports an error"
extern const char* const kWhyUnderRange;    // "the scale reports under range"
extern const char* const kWhyCheck;         // "the frame's check value is wrong"
extern const char* const kWhyAddress;       // "the reply comes from another address"
extern const char* const kWhyDecimals;      // "the decimal code is outside the format"
extern const char* const kWhyHeader;        // "the reply is not a weight reply"

}  // namespace exchange
}  // namespace zel
