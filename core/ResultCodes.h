// Result codes of driver operations, their message texts and the number-text
// parser shared by the scale decoders and the weight coefficient.
#pragma once

#include <cstdint>

namespace zel {

enum ResultCode : int32_t {
    kOk = 0,
    kNoConnection = 1,
    kPortError = 2,
    kNoAnswer = 3,
    kBadPrice = 4,
    kNotSupported = 5,
    kOverload = 7,
    kDeviceNotFound = 8,
    kPortAlreadyOpen = 9,
    kNothingDone = 1099,
};

// UTF-16 message text for a result code; "UnknownError" for any code
// without a text of its own. The text is a constant, never freed.
const char16_t* ResultText(int32_t code);

}  // namespace zel

// Decimal text to double: at most 50 characters, '.' or ',' as separator,
// leading spaces and a sign ('-' negates, '+' does not) accepted before the
// first digit. The value is the double nearest the decimal, whatever the
// process locale. Null gives 0.0. Defined in core/Text.cpp.
double ParseNumberText(const char* text);
