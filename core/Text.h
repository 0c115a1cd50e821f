// Number formatting and text conversions that do not depend on the host
// process's C locale. The component keeps its own decimal separator, set from
// the platform's SetLocale, instead of changing the process-wide locale.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zel {

// Decimal separator used for formatted numbers and for the settings file's
// coefficient; '.' until the platform sets a locale that uses another.
char DecimalSeparator();
void SetDecimalSeparator(char separator);

// printf("%<width>.<decimals>f") in the "C" locale, with '.' replaced by the
// component's decimal separator.
std::string FormatFixed(double value, int width, int decimals);

// strtod-like: leading white space, an optional sign, digits with the
// component's decimal separator, an optional exponent. +0.0 without a number
// and for any zero, signed or not.
double TextToDouble(const char* text);

// A scaled reading cut toward zero to a whole number, where a value within
// a hair of a whole number counts as that number: a decimal text is seldom
// exact in binary, and 1.005 x 1000 is 1004.9999999999999, which means 1005.
// Zero comes back as +0.0, never -0.0.
double WholeTowardZero(double value);

// A reading times the device coefficient, with no -0.0 whatever the signs:
// polled readings and the listeners' weight and tare both pass here.
inline double ScaledWeight(double weight, double coeff) {
    const double scaled = weight * coeff;
    return scaled == 0.0 ? 0.0 : scaled;
}

// Truncates toward zero into a 32-bit integer without undefined behaviour:
// out-of-range values saturate, NaN gives 0.
int32_t TruncToInt32(double value);

// A number field of a scale's reply, bytes [0, length): spaces, an optional
// sign ('+' or '-'), spaces, then digits with at most one decimal separator
// ('.' or ','), at least one digit and at most 48 in all; after the number
// only spaces, or with `unitAfter` spaces and letters (a unit such as "kg").
// True with the field's value in `value`; false, `value` untouched, for a
// field that holds anything else (no digit, a second sign or separator, a
// space between digits, a stray byte).
bool ReadNumberField(const uint8_t* bytes, size_t length, bool unitAfter, double& value);

// UTF-16 to windows-1251; characters without a mapping become '?'.
std::string WideTo1251(const char16_t* text, size_t length);

size_t WideLength(const char16_t* text);

// Helpers the decoders share for fields of scale frames.
inline bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }

// frame[offset, offset + count) as a zero-terminated text in `out`, which
// holds count + 1 bytes; the frame stays untouched.
inline void FieldText(const uint8_t* frame, size_t offset, size_t count, char* out) {
    for (size_t i = 0; i < count; ++i) out[i] = static_cast<char>(frame[offset + i]);
    out[count] = '\0';
}

// The value with the sign a frame shows; a minus that would read "-0" gives
// plain +0.0.
inline double Negated(double value, bool negative = true) {
    if (!negative) return value;
    return value == 0.0 ? 0.0 : -value;
}

}  // namespace zel
