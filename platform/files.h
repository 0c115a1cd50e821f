// Log files (open-always, shared for reading only, appended to) and the
// reading of private-profile (INI) settings files. Paths are UTF-8 on every
// system; on Windows the files are opened by their UTF-16 names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

using FileHandle = std::intptr_t;
constexpr FileHandle kInvalidFile = -1;

// Opens `path` for reading and writing, creating it when missing, with read
// sharing only: while it is open here, a second opener fails. Positioned at
// the end; every write appends. kInvalidFile on failure.
FileHandle OpenLogFile(const std::string& path);
// Writes all of `data`; false on a write error.
bool WriteFileBytes(FileHandle file, const void* data, size_t size);
void CloseFile(FileHandle file);
bool RemoveFile(const std::string& path);

// Private-profile reading, as GetPrivateProfileIntA/GetPrivateProfileStringA:
// sections and keys are matched without regard to case, white space around
// keys and values is ignored, quotes around a value are dropped, texts are
// cut at 259 characters, and integers are the leading decimal digits with an
// optional sign. A missing file, section or key gives the default; so does
// an empty integer value.
int ProfileInt(const std::string& path, const char* section, const char* key, int defaultValue);
std::string ProfileString(const std::string& path, const char* section, const char* key,
                          const char* defaultValue);

}  // namespace platform
