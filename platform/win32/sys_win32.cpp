#include <windows.h>
#include <psapi.h>

#include "platform/sys.h"
#include "platform/win32/paths_win32.h"

#include <climits>
#include <cstring>
#include <vector>

// advapi32's RtlGenRandom; exported under this name since Windows XP.
extern "C" __declspec(dllimport) BOOLEAN WINAPI SystemFunction036(PVOID buffer, ULONG length);

namespace platform {

uint64_t MonotonicMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        if (!QueryPerformanceFrequency(&f) || f.QuadPart <= 0) f.QuadPart = 0;
        return f;
    }();
    LARGE_INTEGER now;
    if (frequency.QuadPart <= 0 || !QueryPerformanceCounter(&now)) return GetTickCount64();
    // Split to keep count * 1000 from overflowing after long uptimes.
    const uint64_t count = static_cast<uint64_t>(now.QuadPart);
    const uint64_t freq = static_cast<uint64_t>(frequency.QuadPart);
    return (count / freq) * 1000u + (count % freq) * 1000u / freq;
}

void SleepMs(unsigned ms) { Sleep(ms); }

LocalTime Now() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

int64_t UnixSeconds() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    // 100 ns ticks since 1601-01-01; the Unix epoch is 11644473600 s later.
    return static_cast<int64_t>(ticks / 10000000u) - INT64_C(11644473600);
}

bool StderrIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != FALSE;
}

uint64_t ProcessCpuMs() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    auto ticks = [](const FILETIME& f) { return (static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
    return (ticks(kernel) + ticks(user)) / 10000u;  // 100 ns ticks
}

bool ProcessMemory(MemoryUse* use) {
    *use = MemoryUse();
    // Looked up in kernel32 (Windows 7 on), so the library imports no psapi.
    using Fn = BOOL(WINAPI*)(HANDLE, PROCESS_MEMORY_COUNTERS*, DWORD);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto fn = kernel ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, "K32GetProcessMemoryInfo")))
                     : nullptr;
    PROCESS_MEMORY_COUNTERS_EX counters;
    std::memset(&counters, 0, sizeof counters);
    counters.cb = sizeof counters;
    if (!fn || !fn(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters))
        return false;
    use->resident = counters.WorkingSetSize;
    use->heap = counters.PrivateUsage;
    return true;
}

bool RandomBytes(void* buf, size_t n) {
    auto* p = static_cast<unsigned char*>(buf);
    while (n > 0) {
        const ULONG chunk = n > 0x10000000u ? 0x10000000u : static_cast<ULONG>(n);
        if (!SystemFunction036(p, chunk)) return false;
        p += chunk;
        n -= chunk;
    }
    return true;
}

namespace {

// Full path of a module (NULL: the executable) in UTF-8, growing the buffer
// for long paths; empty when the system cannot tell.
std::string ModulePath(HMODULE module) {
    std::vector<wchar_t> path(MAX_PATH + 1);
    for (;;) {
        const DWORD size = static_cast<DWORD>(path.size());
        SetLastError(ERROR_SUCCESS);
        const DWORD n = GetModuleFileNameW(module, path.data(), size);
        if (n == 0) return std::string();
        if (n < size && GetLastError() != ERROR_INSUFFICIENT_BUFFER) return NarrowPath(path.data(), n);
        if (path.size() >= 32768) return std::string();
        path.resize(path.size() * 2);
    }
}

std::string DirectoryOf(const std::string& path) {
    if (path.empty()) return ".";
    const size_t cut = path.find_last_of("\\/");
    if (cut == std::string::npos) return ".";
    if (cut == 0) return "";
    return path.substr(0, cut);
}

}  // namespace

std::string ModuleDirectory() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&ModuleDirectory), &self)) {
        return ".";
    }
    return DirectoryOf(ModulePath(self));
}

std::string ExecutableDirectory() { return DirectoryOf(ModulePath(nullptr)); }

char PathSeparator() { return '\\'; }

const char* GeneralLogDefaultPath() { return "C:\\Quelvor\\v4.0.2\\zel.log"; }

bool FileExists(const std::string& path) {
    std::wstring wide;
    return WidePath(path, &wide) && GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string WideToAnsi(const char16_t* text, size_t length) {
    if (!text || length == 0 || length > static_cast<size_t>(INT_MAX)) return std::string();
    const auto* wide = reinterpret_cast<const wchar_t*>(text);
    const int count = static_cast<int>(length);
    const int need = WideCharToMultiByte(CP_ACP, 0, wide, count, nullptr, 0, nullptr, nullptr);
    if (need <= 0) return std::string();
    std::string out(static_cast<size_t>(need), '\0');
    const int got = WideCharToMultiByte(CP_ACP, 0, wide, count, &out[0], need, nullptr, nullptr);
    out.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return out;
}

std::u16string AnsiToWide(const char* text) {
    if (!text || !*text) return std::u16string();
    const int need = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (need <= 1) return std::u16string();
    std::vector<wchar_t> wide(static_cast<size_t>(need));
    const int got = MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), need);
    if (got <= 1) return std::u16string();
    // got counts the terminator.
    return std::u16string(reinterpret_cast<const char16_t*>(wide.data()), static_cast<size_t>(got - 1));
}

namespace {

std::wstring Widen(const std::string& s) {
    std::wstring out;
    out.reserve(s.size());
    for (unsigned char c : s) out += static_cast<wchar_t>(c);
    return out;
}

bool SameTextIgnoringCase(const std::wstring& a, const wchar_t* b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b, -1, TRUE) == CSTR_EQUAL;
}

// Runtime-style names ("Russian_Russia.1251", "rus_rus", "German"): language
// and country in English, abbreviated or ISO form, matched against the
// system's locales. Gives the locale name (e.g. "ru-RU") or an empty text.
struct RuntimeNameSearch {
    std::wstring language;
    std::wstring country;
    std::wstring found;
};

BOOL CALLBACK MatchRuntimeName(LPWSTR name, DWORD, LPARAM param) {
    auto* search = reinterpret_cast<RuntimeNameSearch*>(param);
    static const LCTYPE kLanguageFields[] = {LOCALE_SENGLISHLANGUAGENAME, LOCALE_SABBREVLANGNAME,
                                             LOCALE_SISO639LANGNAME};
    static const LCTYPE kCountryFields[] = {LOCALE_SENGLISHCOUNTRYNAME, LOCALE_SABBREVCTRYNAME,
                                            LOCALE_SISO3166CTRYNAME};
    wchar_t value[LOCALE_NAME_MAX_LENGTH + 64];
    const int capacity = static_cast<int>(sizeof(value) / sizeof(value[0]));
    // Index of the first field that matches, or -1.
    auto match = [&](const LCTYPE* fields, int count, const std::wstring& wanted) {
        for (int i = 0; i < count; ++i) {
            if (GetLocaleInfoEx(name, fields[i], value, capacity) > 0 && SameTextIgnoringCase(wanted, value)) return i;
        }
        return -1;
    };
    const int language = match(kLanguageFields, 3, search->language);
    if (language < 0) return TRUE;
    if (search->country.empty()) {
        // A three-letter abbreviation names one locale ("DEU", "DES");
        // otherwise take the language's default locale.
        if (language == 1) {
            search->found = name;
            return FALSE;
        }
        if (GetLocaleInfoEx(name, LOCALE_SISO639LANGNAME, value, capacity) > 0) {
            search->found = value;
            return FALSE;
        }
        return TRUE;
    }
    if (match(kCountryFields, 3, search->country) < 0) return TRUE;
    search->found = name;
    return FALSE;
}

std::wstring RuntimeLocaleName(const std::string& language, const std::string& country) {
    RuntimeNameSearch search{Widen(language), Widen(country), std::wstring()};
    EnumSystemLocalesEx(MatchRuntimeName, LOCALE_WINDOWS, reinterpret_cast<LPARAM>(&search), nullptr);
    return search.found;
}

bool SeparatorOf(const wchar_t* localeName, char* separator) {
    wchar_t decimal[8] = {};
    if (GetLocaleInfoEx(localeName, LOCALE_SDECIMAL, decimal, 8) != 2) return false;  // one character + NUL
    if (decimal[0] == 0) return false;
    if (decimal[0] < 0x80) {
        *separator = static_cast<char>(decimal[0]);
        return true;
    }
    char narrow[4] = {};
    BOOL lossy = FALSE;
    if (WideCharToMultiByte(CP_ACP, 0, decimal, 1, narrow, sizeof(narrow), nullptr, &lossy) != 1 || lossy) {
        return false;
    }
    *separator = narrow[0];
    return true;
}

}  // namespace

bool LocaleDecimalSeparator(const std::string& name, char* separator) {
    if (!separator || name.size() > 128 || name.find('\0') != std::string::npos) return false;
    for (unsigned char c : name) {
        if (c < 0x20 || c >= 0x80) return false;
    }
    if (name.empty()) return SeparatorOf(LOCALE_NAME_USER_DEFAULT, separator);

    // Drop the code page and modifier: "ru_RU.UTF-8@euro" -> "ru_RU".
    std::string base = name.substr(0, name.find_first_of(".@"));
    if (base.empty()) return false;
    if (base == "C" || base == "POSIX") {
        *separator = '.';
        return true;
    }

    // POSIX and platform spellings: "ru_RU" -> "ru-RU".
    std::string dashed = base;
    for (char& c : dashed) {
        if (c == '_') c = '-';
    }
    const std::wstring wide = Widen(dashed);
    if (IsValidLocaleName(wide.c_str()) && SeparatorOf(wide.c_str(), separator)) return true;

    const size_t underscore = base.find('_');
    const std::string language = base.substr(0, underscore);
    const std::string country = underscore == std::string::npos ? std::string() : base.substr(underscore + 1);
    if (language.empty() || (underscore != std::string::npos && country.empty())) return false;
    const std::wstring found = RuntimeLocaleName(language, country);
    return !found.empty() && SeparatorOf(found.c_str(), separator);
}

unsigned RegisterWindowMessageId(const char* name) {
    if (!name || !*name) return 0;
    return RegisterWindowMessageA(name);
}

void BroadcastWindowMessage(unsigned message, uint32_t wParam, uint32_t lParam) {
    if (message == 0) return;
    // Both values are 32-bit; on 64-bit Windows wParam is widened unsigned and
    // lParam keeps its sign, as a 32-bit sender's would read.
    PostMessageA(HWND_BROADCAST, message, static_cast<WPARAM>(wParam),
                 static_cast<LPARAM>(static_cast<int32_t>(lParam)));
}

}  // namespace platform
