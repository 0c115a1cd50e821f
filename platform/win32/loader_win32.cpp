#include "platform/loader.h"

#include <windows.h>

namespace platform {

namespace {

std::wstring Utf8ToWide(const std::string& text) {
    if (text.empty()) return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

}  // namespace

LibraryHandle LoadLibraryFile(const std::string& path, std::string* error) {
    std::wstring wide = Utf8ToWide(path);
    // Let the library's own directory be searched for its dependencies.
    HMODULE module = LoadLibraryExW(wide.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module && error) {
        DWORD code = GetLastError();
        char text[512] = {0};
        DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                 sizeof(text) - 1, nullptr);
        while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n')) text[--n] = 0;
        *error = "cannot load " + path + ": " + (n > 0 ? std::string(text) : "error " + std::to_string(code));
    }
    return reinterpret_cast<LibraryHandle>(module);
}

void* LibraryFunction(LibraryHandle library, const char* name) {
    if (!library || !name) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(library), name));
}

void UnloadLibraryFile(LibraryHandle library) {
    if (library) FreeLibrary(reinterpret_cast<HMODULE>(library));
}

std::string LibraryFileName(const std::string& name) { return name + ".dll"; }

}  // namespace platform
