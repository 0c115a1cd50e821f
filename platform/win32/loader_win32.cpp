#include "platform/loader.h"

#include <windows.h>

#include "platform/win32/paths_win32.h"

namespace platform {

LibraryHandle LoadLibraryFile(const std::string& path, std::string* error) {
    std::wstring wide;
    if (!WidePath(path, &wide)) {
        if (error) *error = "cannot load '" + path + "': not a file path";
        return nullptr;
    }
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

std::string LibraryFilePath(LibraryHandle library) {
    if (!library) return std::string();
    wchar_t path[32768];
    const DWORD n = GetModuleFileNameW(reinterpret_cast<HMODULE>(library), path, 32767);
    if (n == 0 || n >= 32767) return std::string();
    return NarrowPath(path, n);
}

void UnloadLibraryFile(LibraryHandle library) {
    if (library) FreeLibrary(reinterpret_cast<HMODULE>(library));
}

std::string LibraryFileName(const std::string& name) { return name + ".dll"; }

}  // namespace platform
