#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace platform {

FileHandle OpenLogFile(const std::string& path) {
    if (path.empty()) return kInvalidFile;
    int fd = ::open(path.c_str(), O_CREAT | O_RDWR | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return kInvalidFile;
    // Read sharing only: a second writer (another port, another process)
    // is refused, as a share violation refuses it on Windows.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return kInvalidFile;
    }
    return static_cast<FileHandle>(fd);
}

bool WriteFileBytes(FileHandle file, const void* data, size_t size) {
    if (file == kInvalidFile) return false;
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(static_cast<int>(file), p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void CloseFile(FileHandle file) {
    if (file != kInvalidFile) ::close(static_cast<int>(file));
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

namespace {

// Longest value the Win32 profile calls hand back into a 260-byte buffer.
const size_t kTextMax = 259;
// Lines longer than this are cut; no setting is anywhere near it.
const size_t kLineMax = 64 * 1024;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsSpace(s[b])) ++b;
    while (e > b && IsSpace(s[e - 1])) --e;
    return s.substr(b, e - b);
}

bool SameText(const std::string& a, const char* b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// Finds key in the first section of that name; the value is trimmed and
// unquoted. False when the file, the section or the key is missing.
bool LookUp(const std::string& path, const char* section, const char* key, std::string* value) {
    if (!section || !key) return false;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    bool first = true, inSection = false, found = false;
    std::string line;
    bool eof = false;
    while (!found && !eof) {
        // One line, LF or CR LF terminated, cut at kLineMax.
        line.clear();
        bool endOfLine = false;
        while (!endOfLine) {
            int c = std::fgetc(f);
            if (c == EOF) {
                eof = true;
                break;
            }
            if (c == '\n') break;
            if (line.size() < kLineMax) line += static_cast<char>(c);
        }
        if (first) {
            first = false;
            if (line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);  // UTF-8 mark
        }
        std::string t = Trim(line);
        if (t.empty()) continue;
        if (t[0] == '[') {
            if (inSection) break;  // only the first section of the name counts
            size_t close = t.rfind(']');
            std::string name = Trim(t.substr(1, close == std::string::npos || close == 0 ? std::string::npos : close - 1));
            inSection = SameText(name, section);
            continue;
        }
        if (!inSection) continue;
        size_t eq = t.find('=');
        if (eq == std::string::npos) continue;
        if (!SameText(Trim(t.substr(0, eq)), key)) continue;
        std::string v = Trim(t.substr(eq + 1));
        if (v.size() > 1 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) v = v.substr(1, v.size() - 2);
        *value = v;
        found = true;
    }
    std::fclose(f);
    return found;
}

}  // namespace

std::string ProfileString(const std::string& path, const char* section, const char* key, const char* defaultValue) {
    std::string value;
    if (!LookUp(path, section, key, &value)) value = defaultValue ? defaultValue : "";
    if (value.size() > kTextMax) value.resize(kTextMax);
    return value;
}

int ProfileInt(const std::string& path, const char* section, const char* key, int defaultValue) {
    std::string value;
    if (!LookUp(path, section, key, &value) || value.empty()) return defaultValue;
    // The Win32 call reads the value into a small buffer and converts its
    // leading digits in base 10; more digits than fit wrap around.
    if (value.size() > 29) value.resize(29);
    size_t i = 0;
    bool negative = false;
    if (value[i] == '+' || value[i] == '-') negative = value[i++] == '-';
    uint32_t n = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) n = n * 10u + static_cast<uint32_t>(value[i] - '0');
    if (negative) n = 0u - n;
    return static_cast<int>(static_cast<int32_t>(n));
}

}  // namespace platform
