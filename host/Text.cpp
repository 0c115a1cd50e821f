#include "host/Component.h"

#include "platform/utf8.h"

namespace zel {
namespace host {

std::string ToUtf8(const std::u16string& text) { return platform::Utf16ToUtf8(text.data(), text.size()); }

std::u16string FromUtf8(const std::string& text) { return platform::Utf8ToUtf16(text.data(), text.size()); }

}  // namespace host
}  // namespace zel
