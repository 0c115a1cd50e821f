#include "tools/text.h"

#include <climits>

namespace zelscales {
namespace text {

namespace {

const char kUpper[] = "0123456789ABCDEF";
const char kLower[] = "0123456789abcdef";

}  // namespace

const char* ControlName(uint8_t byte) {
    static const char* const kNames[32] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                           "BS",  "HT",  "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                                           "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                           "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
    if (byte < 32) return kNames[byte];
    return byte == kDel ? "DEL" : nullptr;
}

std::string HexOf(const uint8_t* bytes, size_t size) {
    std::string out;
    out.reserve(size * 3);
    for (size_t i = 0; i < size; ++i) {
        if (i) out += ' ';
        out += kUpper[bytes[i] >> 4];
        out += kUpper[bytes[i] & 15];
    }
    return out;
}

std::string HexOf(const std::vector<uint8_t>& bytes) { return HexOf(bytes.data(), bytes.size()); }

std::string HexOf(std::string_view bytes) {
    return HexOf(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string CompactHexOf(const uint8_t* bytes, size_t size) {
    std::string out;
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        out += kLower[bytes[i] >> 4];
        out += kLower[bytes[i] & 15];
    }
    return out;
}

std::string TextOf(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        const auto b = static_cast<uint8_t>(c);
        out += (b < 0x20 || b >= 0x7F) ? '.' : c;
    }
    return out;
}

std::string TextOf(const std::vector<uint8_t>& bytes) {
    return TextOf(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool ParseHexBytes(std::string_view text, std::string& out) {
    out.clear();
    size_t digits = 0;  // in the current group
    for (char c : text) {
        if (c == ' ') {
            if (digits == 0 || digits % 2) return false;
            digits = 0;
        } else if (HexDigit(c) >= 0) {
            ++digits;
        } else {
            return false;
        }
    }
    if (digits == 0 || digits % 2) return false;
    int high = -1;
    for (char c : text) {
        if (c == ' ') continue;
        if (high < 0) {
            high = HexDigit(c);
        } else {
            out += static_cast<char>(high * 16 + HexDigit(c));
            high = -1;
        }
    }
    return true;
}

std::string HundredthsText(long long hundredths) {
    // The magnitude as unsigned: the lowest value has no positive twin.
    const unsigned long long magnitude =
        hundredths < 0 ? 0ULL - static_cast<unsigned long long>(hundredths) : static_cast<unsigned long long>(hundredths);
    const unsigned long long cents = magnitude % 100;
    return (hundredths < 0 ? "-" : "") + std::to_string(magnitude / 100) + (cents < 10 ? ".0" : ".") +
           std::to_string(cents);
}

bool ParseInteger(std::string_view text, long long low, long long high, long long& out) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    if (i == text.size()) return false;
    // Accumulated as a negative number: its range holds LLONG_MIN.
    long long value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return false;
        const int digit = c - '0';
        if (value < (LLONG_MIN + digit) / 10) return false;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == LLONG_MIN) return false;
        value = -value;
    }
    if (value < low || value > high) return false;
    out = value;
    return true;
}

bool ParseInteger(std::string_view text, long long low, long long high, int& out) {
    long long value = 0;
    if (low < INT_MIN) low = INT_MIN;
    if (high > INT_MAX) high = INT_MAX;
    if (!ParseInteger(text, low, high, value)) return false;
    out = static_cast<int>(value);
    return true;
}

}  // namespace text
}  // namespace zelscales
