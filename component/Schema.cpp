// The parameter form, kept as Base64 of its UTF-8 bytes and decoded on
// every request.
#include <cstdint>
#include <string>

#include "component/AddInNative.h"
#include "platform/utf8.h"

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

std::u16string ParameterSchema() {
    std::string utf8 = DecodeBase64(kSchemaBase64);
    return platform::Utf8ToUtf16(utf8.data(), utf8.size());
}
