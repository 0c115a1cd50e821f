// Loading a dynamic library by path and finding its exported functions.
#pragma once

#include <string>

namespace platform {

// Opaque handle of a loaded library; null when loading failed.
using LibraryHandle = void*;

// Loads the library at `path` (UTF-8). On failure returns null and, when
// `error` is given, the system's reason.
LibraryHandle LoadLibraryFile(const std::string& path, std::string* error);

// Address of the exported function `name`, or null.
void* LibraryFunction(LibraryHandle library, const char* name);

// The full path of the file the system loaded for `library` (UTF-8), or
// "" when it cannot tell.
std::string LibraryFilePath(LibraryHandle library);

// Releases one load of the library; the system unloads it after the last.
void UnloadLibraryFile(LibraryHandle library);

// File name of a dynamic library called `name` on this system
// ("name.so" on Linux, "name.dll" on Windows).
std::string LibraryFileName(const std::string& name);

}  // namespace platform
