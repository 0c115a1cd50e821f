#include <windows.h>

#include "platform/files.h"

namespace platform {

FileHandle OpenLogFile(const std::string& path) {
    if (path.empty()) return kInvalidFile;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
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

bool RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) != FALSE; }

int ProfileInt(const std::string& path, const char* section, const char* key, int defaultValue) {
    return static_cast<int>(GetPrivateProfileIntA(section, key, defaultValue, path.c_str()));
}

std::string ProfileString(const std::string& path, const char* section, const char* key, const char* defaultValue) {
    char buffer[260] = {};
    DWORD n = GetPrivateProfileStringA(section, key, defaultValue ? defaultValue : "", buffer, sizeof(buffer),
                                       path.c_str());
    if (n >= sizeof(buffer)) n = sizeof(buffer) - 1;
    return std::string(buffer, n);
}

}  // namespace platform
