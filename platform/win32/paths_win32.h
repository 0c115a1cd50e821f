// Paths at the Windows boundary. The rest of the code passes paths as 8-bit
// text, UTF-8 like everywhere else; the system is called with UTF-16, so a
// folder beyond the ANSI code page (a Cyrillic or Kazakh user name) works.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// The UTF-16 form of `path`: UTF-8, or, when the text is not valid UTF-8,
// the ANSI code page (an 8-bit path from an older caller). False for an
// empty path or one holding a NUL.
bool WidePath(const std::string& path, std::wstring* wide);
// UTF-8 from a system UTF-16 text.
std::string NarrowPath(const wchar_t* text, size_t length);

}  // namespace platform
