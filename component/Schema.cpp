// The parameter form, kept as Base64 of its UTF-8 bytes and decoded on
// every request.
#include <cstdint>
#include <string>

#include "component/AddInNative.h"

namespace {

#include "component/Schema.inc"

int Base64Digit(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

std::string DecodeBase64(const char* text) {
    std::string out;
    uint32_t bits = 0;
    int held = 0;
    for (const char* p = text; *p && *p != '='; ++p) {
        int d = Base64Digit(*p);
        if (d < 0) continue;
        bits = (bits << 6) | static_cast<uint32_t>(d);
        held += 6;
        if (held >= 8) {
            held -= 8;
            out += static_cast<char>((bits >> held) & 0xFF);
        }
    }
    return out;
}

}  // namespace

std::u16string Utf8ToUtf16(const std::string& text) {
    std::u16string out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = s + text.size();
    while (s < end) {
        uint32_t c = *s++;
        int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        if (extra < 0) {
            out += u'\uFFFD';
            continue;
        }
        c &= extra == 0 ? 0x7F : extra == 1 ? 0x1F : extra == 2 ? 0x0F : 0x07;
        bool ok = true;
        for (int k = 0; k < extra; ++k) {
            if (s >= end || (*s & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            c = (c << 6) | (*s++ & 0x3F);
        }
        if (!ok || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out += u'\uFFFD';
        } else if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

std::u16string ParameterSchema() { return Utf8ToUtf16(DecodeBase64(kSchemaBase64)); }
