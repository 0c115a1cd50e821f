// Helpers shared by the transport and settings tests.
#pragma once

#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>

#include "platform/files.h"
#ifndef _WIN32
#include "platform/pty.h"
#endif
#include "platform/sys.h"

namespace zeltest {

#ifndef _WIN32
// A pseudo-terminal pair: the test holds the master, the code under test
// opens the slave by name.
struct Pty {
    int master = platform::kNoHandle;
    std::string slave;
    Pty() { master = platform::PtyOpenMaster(&slave); }
    ~Pty() { platform::IoClose(master); }
    void Hangup() {
        platform::IoClose(master);
        master = platform::kNoHandle;
    }
};
#endif

inline std::string InModuleDir(const std::string& name) {
    return platform::ModuleDirectory() + platform::PathSeparator() + name;
}

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// A file that exists for the life of the object (the traffic-log marker, a
// settings.ini), removed afterwards even when the test fails.
class ScopedFile {
public:
    ScopedFile(const std::string& path, const std::string& text) : path_(path) { WriteAll(path, text); }
    ~ScopedFile() { platform::RemoveFile(path_); }
    ScopedFile(const ScopedFile&) = delete;
    ScopedFile& operator=(const ScopedFile&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// Replaces every "YYYY-MM-DD hh:mm:ss.mmm" of a traffic log by a fixed stamp.
inline std::string MaskTrafficTimes(const std::string& text) {
    static const std::regex stamp("\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}");
    return std::regex_replace(text, stamp, "2020-03-05 14:07:09.042");
}

}  // namespace zeltest
