#include "platform/win32/paths_win32.h"

#include <windows.h>

#include <climits>

#include "platform/utf8.h"

namespace platform {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wide characters");

bool WidePath(const std::string& path, std::wstring* wide) {
    wide->clear();
    if (path.empty() || path.find('\0') != std::string::npos || path.size() > static_cast<size_t>(INT_MAX)) {
        return false;
    }
    const int size = static_cast<int>(path.size());
    for (UINT codePage : {static_cast<UINT>(CP_UTF8), static_cast<UINT>(CP_ACP)}) {
        const DWORD flags = codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
        const int need = MultiByteToWideChar(codePage, flags, path.data(), size, nullptr, 0);
        if (need <= 0) continue;
        wide->assign(static_cast<size_t>(need), L'\0');
        const int got = MultiByteToWideChar(codePage, flags, path.data(), size, &(*wide)[0], need);
        if (got > 0) {
            wide->resize(static_cast<size_t>(got));
            return true;
        }
        wide->clear();
    }
    return false;
}

std::string NarrowPath(const wchar_t* text, size_t length) {
    return Utf16ToUtf8(reinterpret_cast<const char16_t*>(text), length);
}

}  // namespace platform
