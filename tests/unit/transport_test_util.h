// Helpers shared by the transport and settings tests.
#pragma once

#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <sstream>
#include <string>

#include "platform/files.h"
#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

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

// A marker file shared by every test that uses it (the traffic-log marker
// beside the library): it exists for the life of the object, and one holder
// at a time has it, across processes too (CTest runs the cases of a program
// side by side, and one case removing the marker would turn another's
// traffic log off).
class HeldMarker {
public:
    explicit HeldMarker(const std::string& path) {
#ifndef _WIN32
        lock_ = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (lock_ >= 0) ::flock(lock_, LOCK_EX);
#endif
        file_.reset(new ScopedFile(path, ""));
    }
    ~HeldMarker() {
        file_.reset();
#ifndef _WIN32
        if (lock_ >= 0) ::close(lock_);  // the lock goes with it
#endif
    }
    HeldMarker(const HeldMarker&) = delete;
    HeldMarker& operator=(const HeldMarker&) = delete;

private:
    std::unique_ptr<ScopedFile> file_;
    int lock_ = -1;
};

// Replaces every "YYYY-MM-DD hh:mm:ss.mmm" of a traffic log by a fixed stamp.
inline std::string MaskTrafficTimes(const std::string& text) {
    static const std::regex stamp("\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}");
    return std::regex_replace(text, stamp, "2020-03-05 14:07:09.042");
}

}  // namespace zeltest
