// Operating-system services other than lines and files: time, sleeping,
// random bytes, module paths, code pages, locale facts, window messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// Monotonic milliseconds since an arbitrary start; never goes backwards.
uint64_t MonotonicMs();

void SleepMs(unsigned ms);

struct LocalTime {
    int year, month, day, hour, minute, second, millisecond;
};
LocalTime Now();

// Whole seconds since the epoch (wall clock).
int64_t UnixSeconds();

// CPU time (user + system) the whole process has used, in milliseconds.
uint64_t ProcessCpuMs();

// True when the process's standard error is a terminal (progress lines are
// rewritten in place only there).
bool StderrIsTerminal();

// What the process holds in memory, in bytes. `resident`: pages in RAM (the
// working set on Windows). `heap`: bytes the C allocator has handed out and
// not taken back (glibc), or the private commit charge (Windows); 0 when the
// system has no such figure.
struct MemoryUse {
    uint64_t resident = 0;
    uint64_t heap = 0;
};
// False when the system tells nothing; `use` is then all zero.
bool ProcessMemory(MemoryUse* use);

// Fills `buf` from the operating system's cryptographic random source.
bool RandomBytes(void* buf, size_t n);

// Paths here are UTF-8 on every system (on Windows converted at the system
// calls, which take UTF-16), so folders beyond the ANSI code page work.

// Directory of the module holding this code (the driver library when linked
// into it), without the trailing separator.
std::string ModuleDirectory();
// Directory of the process's executable, without the trailing separator.
std::string ExecutableDirectory();
// '\\' on Windows, '/' elsewhere.
char PathSeparator();
// Where the driver's general log goes: a fixed path of the system's own kind.
const char* GeneralLogDefaultPath();
bool FileExists(const std::string& path);

// The process's 8-bit ("ANSI") code page: CP_ACP on Windows, UTF-8 elsewhere.
std::string WideToAnsi(const char16_t* text, size_t length);
std::u16string AnsiToWide(const char* text);

// Decimal separator of the named locale (a platform locale name such as
// "ru_RU" or "ru-RU"); false when the system does not know the name.
bool LocaleDecimalSeparator(const std::string& name, char* separator);

// Registered window messages. On Linux there is no system-wide broadcast:
// registration gives a stable process-local number and the broadcast does
// nothing.
unsigned RegisterWindowMessageId(const char* name);
void BroadcastWindowMessage(unsigned message, uint32_t wParam, uint32_t lParam);

}  // namespace platform
