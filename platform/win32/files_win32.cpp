#include <windows.h>

#include "platform/files.h"

#include "platform/sys.h"
#include "platform/win32/paths_win32.h"

namespace platform {

FileHandle OpenLogFile(const std::string& path) {
    std::wstring wide;
    if (!WidePath(path, &wide)) return kInvalidFile;
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return kInvalidFile;
    // With no high part SetFilePointer refuses an end past 4 GiB and leaves
    // the position at 0, so a long-kept log would be overwritten from its start.
    LONG high = 0;
    SetFilePointer(h, 0, &high, FILE_END);
    return reinterpret_cast<FileHandle>(h);
}

bool WriteFileBytes(FileHandle file, const void* data, size_t size) {
    if (file == kInvalidFile) return false;
    HANDLE h = reinterpret_cast<HANDLE>(file);
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        DWORD chunk = size > 0x10000000u ? 0x10000000u : static_cast<DWORD>(size);
        DWORD done = 0;
        if (!WriteFile(h, p, chunk, &done, nullptr) || done == 0) return false;
        p += done;
        size -= done;
    }
    return true;
}

void CloseFile(FileHandle file) {
    if (file != kInvalidFile) CloseHandle(reinterpret_cast<HANDLE>(file));
}

bool RemoveFile(const std::string& path) {
    std::wstring wide;
    return WidePath(path, &wide) && DeleteFileW(wide.c_str()) != FALSE;
}

namespace {

// Section, key and default texts are ANSI, as the settings file is read.
std::wstring AnsiName(const char* text) {
    const std::u16string wide = AnsiToWide(text);
    return std::wstring(wide.begin(), wide.end());
}

}  // namespace

// The wide calls read a file without a byte-order mark in the ANSI code
// page, as the 8-bit ones do; values go back to ANSI, so only the path is
// read differently.
int ProfileInt(const std::string& path, const char* section, const char* key, int defaultValue) {
    std::wstring file;
    if (!WidePath(path, &file) || !section || !key) return defaultValue;
    return static_cast<int>(
        GetPrivateProfileIntW(AnsiName(section).c_str(), AnsiName(key).c_str(), defaultValue, file.c_str()));
}

std::string ProfileString(const std::string& path, const char* section, const char* key, const char* defaultValue) {
    const std::string fallback = defaultValue ? defaultValue : "";
    std::wstring file;
    if (!WidePath(path, &file) || !section || !key) return fallback.substr(0, 259);
    wchar_t buffer[260] = {};
    const DWORD capacity = sizeof(buffer) / sizeof(buffer[0]);
    DWORD n = GetPrivateProfileStringW(AnsiName(section).c_str(), AnsiName(key).c_str(),
                                       AnsiName(fallback.c_str()).c_str(), buffer, capacity, file.c_str());
    if (n >= capacity) n = capacity - 1;
    std::string text = WideToAnsi(reinterpret_cast<const char16_t*>(buffer), n);
    if (text.size() > 259) text.resize(259);  // a double-byte code page: cut as the 8-bit call does
    return text;
}

}  // namespace platform
