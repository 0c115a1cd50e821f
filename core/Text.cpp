#include "core/Text.h"

#include <algorithm>

#include <atomic>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "core/ResultCodes.h"

namespace zel {

namespace {
std::atomic<char> g_separator{'.'};
}

char DecimalSeparator() { return g_separator.load(std::memory_order_relaxed); }

void SetDecimalSeparator(char separator) { g_separator.store(separator, std::memory_order_relaxed); }

std::string FormatFixed(double value, int width, int decimals) {
    char buf[400];
    auto res = std::to_chars(buf, buf + sizeof(buf), value, std::chars_format::fixed, decimals);
    std::string text = res.ec == std::errc() ? std::string(buf, res.ptr) : std::string("0");
    char sep = DecimalSeparator();
    if (sep != '.') {
        size_t dot = text.find('.');
        if (dot != std::string::npos) text[dot] = sep;
    }
    if (static_cast<int>(text.size()) < width) text.insert(0, static_cast<size_t>(width) - text.size(), ' ');
    return text;
}

namespace {
// Position of the first significant digit of a number text ("123.4" 3,
// "0.05" -1, "5e-400" -399): out of range means too large when above 0,
// too small otherwise.
long DecimalOrder(const std::string& number) {
    size_t i = 0;
    long order = 0;
    while (i < number.size() && number[i] == '0') ++i;
    for (; i < number.size() && number[i] >= '0' && number[i] <= '9'; ++i) ++order;
    if (order == 0 && i < number.size() && number[i] == '.') {
        for (++i; i < number.size() && number[i] == '0'; ++i) --order;
    }
    size_t e = number.find_first_of("eE");
    if (e != std::string::npos) {
        bool negative = e + 1 < number.size() && number[e + 1] == '-';
        long exponent = 0;
        for (size_t k = e + 1; k < number.size(); ++k) {
            if (number[k] >= '0' && number[k] <= '9' && exponent < 1000000)
                exponent = exponent * 10 + (number[k] - '0');
        }
        order += negative ? -exponent : exponent;
    }
    return order;
}
}  // namespace

double TextToDouble(const char* text) {
    if (!text) return 0.0;
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    // Copy the number with the separator mapped to '.', so from_chars (which
    // always reads '.') follows the component's locale; a '.' that is not the
    // separator ends the number as it would under that locale.
    char sep = DecimalSeparator();
    std::string copy;
    bool seenSeparator = false, seenExponent = false;
    for (const char* q = p; *q && copy.size() < 400; ++q) {
        char c = *q;
        if (c >= '0' && c <= '9') {
            copy += c;
        } else if (c == sep && !seenSeparator && !seenExponent) {
            copy += '.';
            seenSeparator = true;
        } else if ((c == 'e' || c == 'E') && !seenExponent && !copy.empty()) {
            copy += c;
            seenExponent = true;
            if (q[1] == '+' || q[1] == '-') copy += *++q;
        } else {
            break;
        }
    }
    double value = 0.0;
    auto res = std::from_chars(copy.data(), copy.data() + copy.size(), value, std::chars_format::general);
    if (res.ec == std::errc::result_out_of_range) {
        value = DecimalOrder(copy) > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (res.ec != std::errc()) {
        value = 0.0;
    }
    // A zero is +0.0 whatever its sign: "-" or "-0" as a coefficient would
    // otherwise turn every weight into -0.0 ("-0.000" on screen).
    if (value == 0.0) return 0.0;
    return negative ? -value : value;
}

double WholeTowardZero(double value) {
    if (!std::isfinite(value)) return value;
    const double nearest = std::round(value);
    const double hair = std::max(1e-6, 8 * std::numeric_limits<double>::epsilon() * std::fabs(value));
    const double whole = std::fabs(value - nearest) <= hair ? nearest : std::trunc(value);
    return whole == 0.0 ? 0.0 : whole;
}

int32_t TruncToInt32(double value) {
    if (std::isnan(value)) return 0;
    double t = std::trunc(value);
    if (t >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (t <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(t);
}

namespace {
bool IsDigitByte(uint8_t c) { return c >= '0' && c <= '9'; }
bool IsLetterByte(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
}  // namespace

bool ReadNumberField(const uint8_t* bytes, size_t length, bool unitAfter, double& value) {
    if (!bytes) return false;
    // The number goes into a compact copy (sign, digits, '.'), well within
    // the 50 characters ParseNumberText looks at.
    const size_t kMaxDigits = 48;
    char text[kMaxDigits + 3];
    size_t w = 0, digits = 0, i = 0;
    while (i < length && bytes[i] == ' ') ++i;
    if (i < length && (bytes[i] == '-' || bytes[i] == '+')) {
        if (bytes[i] == '-') text[w++] = '-';
        ++i;
        while (i < length && bytes[i] == ' ') ++i;
    }
    bool separator = false;
    for (; i < length; ++i) {
        const uint8_t c = bytes[i];
        if (IsDigitByte(c)) {
            if (++digits > kMaxDigits) return false;
            text[w++] = static_cast<char>(c);
        } else if ((c == '.' || c == ',') && !separator) {
            separator = true;
            text[w++] = '.';
        } else {
            break;
        }
    }
    if (digits == 0) return false;
    for (; i < length; ++i) {
        if (bytes[i] != ' ' && !(unitAfter && IsLetterByte(bytes[i]))) return false;
    }
    text[w] = '\0';
    value = ParseNumberText(text);
    return true;
}

std::string WideTo1251(const char16_t* text, size_t length) {
    std::string out;
    if (!text) return out;
    out.reserve(length);
    // windows-1251 bytes 0x80..0xBF; 0 marks a byte without a character.
    static const char16_t kHigh[64] = {
        0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
        0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0,      0x2122,
        0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
        0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
        0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457};
    for (size_t i = 0; i < length; ++i) {
        char16_t c = text[i];
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c >= 0x0410 && c <= 0x044F) {
            out += static_cast<char>(0xC0 + (c - 0x0410));
        } else {
            char mapped = '?';
            for (int k = 0; k < 64; ++k) {
                if (kHigh[k] == c) {
                    mapped = static_cast<char>(0x80 + k);
                    break;
                }
            }
            out += mapped;
        }
    }
    return out;
}

size_t WideLength(const char16_t* text) {
    size_t n = 0;
    if (text)
        while (text[n]) ++n;
    return n;
}

}  // namespace zel

double ParseNumberText(const char* text) {
    if (!text) return 0.0;
    // The digits are gathered into "<integer>.<fraction>" and converted by
    // from_chars, which rounds correctly and reads '.' whatever the locale:
    // digit-by-digit arithmetic in doubles is a hair off ("2.345" would be
    // 2.3449999999999998, a gram short once cut to grams).
    const int kMaxChars = 50;
    char number[kMaxChars + 3];
    int w = 0;
    bool haveInteger = false, inFraction = false, negative = false;
    for (int i = 0; i < kMaxChars; ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            if (!inFraction) haveInteger = true;
            number[w++] = c;
        } else if (c == '.' || c == ',') {
            if (inFraction) break;
            if (!haveInteger) number[w++] = '0';
            number[w++] = '.';
            inFraction = true;
        } else if (c == ' ' || c == '-' || c == '+') {
            if (haveInteger) break;
            if (c == '-') negative = true;
        } else {
            break;
        }
    }
    double value = 0.0;
    if (w > 0) {
        const auto res = std::from_chars(number, number + w, value, std::chars_format::fixed);
        if (res.ec != std::errc()) value = 0.0;
    }
    return negative ? -value : value;
}
