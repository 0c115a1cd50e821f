#include "scales/exchange/Fields.h"

#include <cstring>

#include "core/ResultCodes.h"

namespace zel {
namespace exchange {

const char* const kWhyNoNumber = "the weight field holds no number";
const char* const kWhyNotMetric = "the scale weighs in pounds or ounces";
const char* const kWhyUnknownUnit = "the frame names an unknown unit";
const char* const kWhyErrorMark = "the scale reports an error";
const char* const kWhyUnderRange = "the scale reports under range";
const char* const kWhyCheck = "the frame's check value is wrong";
const char* const kWhyAddress = "the reply comes from another address";
const char* const kWhyDecimals = "the decimal code is outside the format";
const char* const kWhyHeader = "the reply is not a weight reply";

const Field* FieldAt(const FrameLayout& layout, size_t at) {
    for (size_t i = 0; i < layout.count; ++i) {
        const Field& f = layout.fields[i];
        if (at >= f.offset && at < static_cast<size_t>(f.offset) + f.length) return &f;
    }
    return nullptr;
}

bool FixedFieldsHold(const FrameLayout& layout, const uint8_t* frame, size_t length) {
    if (!frame) return false;
    for (size_t i = 0; i < layout.count; ++i) {
        const Field& f = layout.fields[i];
        if (f.cls != ByteClass::kFixed || !f.fixed) continue;
        for (size_t k = 0; k < f.length; ++k) {
            const size_t at = f.offset + k;
            if (at < length && frame[at] != f.fixed[k]) return false;
        }
    }
    return true;
}

bool ReadNumberField(const uint8_t* text, size_t length, uint16_t grammar, double& value) {
    if (!text || length == 0 || length > 48) return false;
    char clean[52];
    size_t w = 0;
    size_t i = 0;
    auto pads = [&](size_t from) {
        while (from < length && text[from] == ' ') ++from;
        return from;
    };
    bool negative = false;
    if ((grammar & kSignFirst) && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        i = 1;
        if (grammar & kLeadingPad) i = pads(i);
    } else {
        if (grammar & kLeadingPad) i = pads(i);
        if ((grammar & kSign) && i < length && (text[i] == '-' || text[i] == '+')) {
            negative = text[i] == '-';
            ++i;
        }
    }
    if (negative) clean[w++] = '-';
    size_t digits = 0;
    bool point = false;
    for (; i < length; ++i) {
        const uint8_t c = text[i];
        if (c >= '0' && c <= '9') {
            clean[w++] = static_cast<char>(c);
            ++digits;
        } else if (!point && ((c == '.' && (grammar & kPoint)) || (c == ',' && (grammar & kComma)))) {
            point = true;
            clean[w++] = '.';
        } else {
            break;
        }
    }
    if (digits == 0) return false;
    if (i < length) {
        if (!(grammar & kTrailingPad)) return false;
        if (pads(i) != length) return false;
    }
    clean[w] = '\0';
    value = NoMinusZero(ParseNumberText(clean));
    return true;
}

bool ReadNumberField(const uint8_t* frame, size_t frameLength, const Field& field, double& value) {
    if (!frame || static_cast<size_t>(field.offset) + field.length > frameLength) return false;
    return ReadNumberField(frame + field.offset, field.length, field.grammar, value);
}

int DecimalsOf(const uint8_t* text, size_t length) {
    if (!text) return 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] != '.' && text[i] != ',') continue;
        int n = 0;
        for (size_t k = i + 1; k < length && text[k] >= '0' && text[k] <= '9'; ++k) ++n;
        return n;
    }
    return 0;
}

Unit UnitOf(const uint8_t* text, size_t length) {
    if (!text) return Unit::kUnknown;
    size_t b = 0, e = length;
    while (b < e && text[b] == ' ') ++b;
    while (e > b && text[e - 1] == ' ') --e;
    char u[5] = {0};
    if (e - b == 0 || e - b > 3) return Unit::kUnknown;
    for (size_t k = 0; k < e - b; ++k) {
        char c = static_cast<char>(text[b + k]);
        u[k] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    if (!std::strcmp(u, "mg")) return Unit::kMilligram;
    if (!std::strcmp(u, "g")) return Unit::kGram;
    if (!std::strcmp(u, "kg")) return Unit::kKilogram;
    if (!std::strcmp(u, "t")) return Unit::kTonne;
    if (!std::strcmp(u, "lb") || !std::strcmp(u, "lbs")) return Unit::kPound;
    if (!std::strcmp(u, "oz")) return Unit::kOunce;
    return Unit::kUnknown;
}

bool IsMetric(Unit unit) {
    return unit == Unit::kMilligram || unit == Unit::kGram || unit == Unit::kKilogram || unit == Unit::kTonne;
}

namespace {
// Decimal exponent of the unit in grams.
int GramExponent(Unit u) {
    switch (u) {
        case Unit::kMilligram: return -3;
        case Unit::kKilogram: return 3;
        case Unit::kTonne: return 6;
        default: return 0;
    }
}
}  // namespace

double ConvertWeight(double value, Unit from, Unit to) {
    int e = GramExponent(from) - GramExponent(to);
    // Multiply or divide by a power of ten exactly representable, so 1.234 kg
    // gives 1234 g, not 1233.9999.
    double f = 1.0;
    for (int k = e < 0 ? -e : e; k > 0; --k) f *= 10.0;
    return NoMinusZero(e < 0 ? value / f : value * f);
}

}  // namespace exchange
}  // namespace zel
