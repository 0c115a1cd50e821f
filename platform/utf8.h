// UTF-8 <-> UTF-16, the same on every system (no OS calls). Malformed input
// becomes U+FFFD; nothing is ever read past the given length.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

std::string Utf16ToUtf8(const char16_t* text, size_t length);
std::u16string Utf8ToUtf16(const char* text, size_t length);

}  // namespace platform
