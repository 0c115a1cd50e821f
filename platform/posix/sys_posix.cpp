#include "platform/sys.h"

#include "platform/utf8.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <climits>
#include <cstring>

namespace platform {

uint64_t MonotonicMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

void SleepMs(unsigned ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) == -1 && errno == EINTR) {
    }
}

LocalTime Now() {
    timeval tv;
    gettimeofday(&tv, nullptr);
    time_t secs = tv.tv_sec;
    tm parts;
    localtime_r(&secs, &parts);
    return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
            parts.tm_min,         parts.tm_sec,     static_cast<int>(tv.tv_usec / 1000)};
}

int64_t UnixSeconds() { return static_cast<int64_t>(time(nullptr)); }

bool StderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }

uint64_t ProcessCpuMs() {
    timespec ts;
    if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts) != 0) return 0;
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

namespace {
// glibc 2.33's mallinfo2, looked up when asked for so the library needs no
// newer glibc than it otherwise does; its fields are size_t from there on.
struct MallInfo2 {
    size_t arena, ordblks, smblks, hblks, hblkhd, usmblks, fsmblks, uordblks, fordblks, keepcost;
};
using MallInfo2Fn = MallInfo2 (*)();
}  // namespace

bool ProcessMemory(MemoryUse* use) {
    *use = MemoryUse();
    bool known = false;
#if defined(__linux__)
    // statm: total and resident pages, first two numbers.
    int fd = open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char text[128];
        ssize_t got = read(fd, text, sizeof text - 1);
        close(fd);
        unsigned long long size = 0, resident = 0;
        if (got > 0) {
            text[got] = '\0';
            const long page = sysconf(_SC_PAGESIZE);
            if (sscanf(text, "%llu %llu", &size, &resident) == 2 && page > 0) {
                use->resident = resident * static_cast<uint64_t>(page);
                known = true;
            }
        }
    }
#endif
    if (auto fn = reinterpret_cast<MallInfo2Fn>(dlsym(RTLD_DEFAULT, "mallinfo2"))) {
        const MallInfo2 m = fn();
        use->heap = static_cast<uint64_t>(m.uordblks) + static_cast<uint64_t>(m.hblkhd);
        known = true;
    }
    return known;
}

bool RandomBytes(void* buf, size_t n) {
    auto* p = static_cast<unsigned char*>(buf);
    while (n > 0) {
        ssize_t got = getrandom(p, n, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

namespace {
std::string DirectoryOf(const std::string& path) {
    size_t cut = path.find_last_of('/');
    if (cut == std::string::npos) return ".";
    if (cut == 0) return "";
    return path.substr(0, cut);
}
}  // namespace

std::string ModuleDirectory() {
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&ModuleDirectory), &info) == 0 || !info.dli_fname) return ".";
    char resolved[PATH_MAX];
    if (realpath(info.dli_fname, resolved)) return DirectoryOf(resolved);
    return DirectoryOf(info.dli_fname);
}

std::string ExecutableDirectory() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0) return ".";
    path[n] = 0;
    return DirectoryOf(path);
}

char PathSeparator() { return '/'; }

const char* GeneralLogDefaultPath() { return "/var/log/Quelvor/v4.0.2/zel.log"; }

bool FileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// The 8-bit code page of a Linux process is UTF-8.
std::string WideToAnsi(const char16_t* text, size_t length) { return Utf16ToUtf8(text, length); }

std::u16string AnsiToWide(const char* text) { return text ? Utf8ToUtf16(text, std::strlen(text)) : std::u16string(); }

bool LocaleDecimalSeparator(const std::string& name, char* separator) {
    locale_t loc = newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(0));
    if (loc == static_cast<locale_t>(0)) return false;
    const char* radix = nl_langinfo_l(RADIXCHAR, loc);
    bool ok = radix && radix[0] && !radix[1];
    if (ok) *separator = radix[0];
    freelocale(loc);
    return ok;
}

unsigned RegisterWindowMessageId(const char* name) {
    // Same range as registered messages on Windows (0xC000..0xFFFF), stable
    // for a given name.
    uint32_t h = 2166136261u;
    for (const char* p = name ? name : ""; *p; ++p) h = (h ^ static_cast<unsigned char>(*p)) * 16777619u;
    return 0xC000u + (h % 0x4000u);
}

void BroadcastWindowMessage(unsigned, uint32_t, uint32_t) {}

}  // namespace platform
