#include "transport/Log.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "platform/files.h"
#include "platform/sync.h"
#include "platform/sys.h"

namespace zel {

namespace {

struct GeneralLog {
    platform::RecursiveMutex lock;
    platform::FileHandle file = platform::kInvalidFile;
    int level = 3;  // LOG_MODE as a signed 8-bit level
};

// LOG_MODE keeps only its low byte, read as a signed 8-bit level: 256 is 0
// and 255 is -1, so neither writes a general log.
int SignedByteLevel(int value) {
    int low = static_cast<int>(static_cast<unsigned>(value) & 0xFFu);
    return low >= 0x80 ? low - 0x100 : low;
}

// Made on first use, so it exists whatever order the load hooks run in. It
// is first used by the load hook, so it is destroyed after the unload hook
// has written its last record, and nothing is left behind when the library
// is unloaded.
GeneralLog& Log() {
    static GeneralLog log;
    return log;
}

const char* LevelName(int level) {
    static const char* const kNames[] = {"  Sys", "Error", " Warn", " Info", "  Dbg"};
    return level >= 0 && level <= 4 ? kNames[level] : "     ";
}

std::string Format(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < sizeof(buffer)) return std::string(buffer, static_cast<size_t>(n));
    std::vector<char> big(static_cast<size_t>(n) + 1);
    va_start(args, format);
    std::vsnprintf(big.data(), big.size(), format, args);
    va_end(args);
    return std::string(big.data(), static_cast<size_t>(n));
}

}  // namespace

std::string GeneralLogPath() { return platform::GeneralLogDefaultPath(); }

std::string HostSettingsPath() {
    return platform::ExecutableDirectory() + platform::PathSeparator() + "settings.ini";
}

void GeneralLogStart() { GeneralLogStart(HostSettingsPath(), GeneralLogPath()); }

void GeneralLogStart(const std::string& settingsPath, const std::string& logPath) {
    GeneralLog& log = Log();
    CAutoLockMutex guard(log.lock);
    if (log.file != platform::kInvalidFile) {
        platform::CloseFile(log.file);
        log.file = platform::kInvalidFile;
    }
    log.level = SignedByteLevel(platform::ProfileInt(settingsPath, "GLOBAL", "LOG_MODE", 3));
    if (log.level > 0) log.file = platform::OpenLogFile(logPath);
}

void GeneralLogEnd() {
    GeneralLog& log = Log();
    CAutoLockMutex guard(log.lock);
    LogWrite(kLogInfo, "Log-file is closed");
    platform::CloseFile(log.file);
    log.file = platform::kInvalidFile;
}

int LogWrite(int level, const char* format, ...) {
    GeneralLog& log = Log();
    CAutoLockMutex guard(log.lock);
    if (log.file == platform::kInvalidFile) return 1;
    if (level > log.level || !format) return 0;
    char message[10240];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(message, sizeof(message), format, args);
    va_end(args);
    if (n < 0) n = 0;
    if (static_cast<size_t>(n) >= sizeof(message)) n = sizeof(message) - 1;
    platform::LocalTime t = platform::Now();
    std::string record = Format("\r\n%d.%02d.%02d %02d:%02d:%02d:%s:", t.year, t.month, t.day, t.hour, t.minute,
                                t.second, LevelName(level));
    record.append(message, static_cast<size_t>(n));
    platform::WriteFileBytes(log.file, record.data(), record.size());
    return 0;
}

const char* TrafficDirectionLabel(int direction) {
    switch (direction) {
    case 0: return "SYS      ";
    case 1: return "OUT >>>>>";
    case 2: return "IN <<<<<<";
    default: return "         ";
    }
}

std::string TrafficComLine(const char* name, int32_t baud, int32_t parity, int32_t byteSize, int32_t stopBits,
                           int handshaking, int xonXoff) {
    static const char* const kParity[] = {"None", "Odd", "Even", "Mark", "Space"};
    static const char* const kStop[] = {"1", "1.5", "2"};
    // A code the line never accepted is shown as its number.
    std::string parityName = parity >= 0 && parity <= 4 ? kParity[parity] : std::to_string(parity);
    std::string stopName = stopBits >= 0 && stopBits <= 2 ? kStop[stopBits] : std::to_string(stopBits);
    return Format("COMPORT: %s;%d\\%s\\%d\\%s, Handshaking=%d, xONxOFF=%d", name ? name : "", baud,
                  parityName.c_str(), byteSize, stopName.c_str(), handshaking, xonXoff);
}

std::string TrafficTcpLine(const char* host, int32_t port) { return Format("ETHERNET: %s:%d", host ? host : "", port); }

std::string TrafficBlockHeader(int direction, int32_t length, const std::string& line,
                               const platform::LocalTime& t) {
    return Format(
        "\r\n____________________________________________________________________\r\n"
        "%s  %d-%02d-%02d %02d:%02d:%02d.%03d ---- Bytes:%5d -----\r\n%s\r\n"
        "  N     1  2  3  4  5  6  7  8  9 10   11 12 13 14 15 16 17 18 19 20\r\n\r\n",
        TrafficDirectionLabel(direction), t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond, length,
        line.c_str());
}

std::string TrafficRow(const unsigned char* bytes, int32_t count, int32_t offset) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string row = Format("%05d:", offset + 1);
    std::string text;
    for (int32_t col = 0; col < 20; ++col) {
        if (col == 10) row += " |";
        if (col < count) {
            unsigned char b = bytes[col];
            row += ' ';
            row += kHex[b >> 4];
            row += kHex[b & 0x0F];
            text += b < 0x20 ? '.' : static_cast<char>(b);
        } else {
            row += "   ";
            text += ' ';
        }
    }
    row += "    ";
    row += text;
    row += "\r\n";
    return row;
}

std::string TrafficBlock(int direction, const unsigned char* bytes, int32_t length, const std::string& line,
                         const platform::LocalTime& time) {
    std::string block = TrafficBlockHeader(direction, length, line, time);
    if (!bytes) return block;
    int32_t count = 0;
    for (int32_t offset = 0; offset < length; offset += count) {
        count = length - offset < 20 ? length - offset : 20;
        block += TrafficRow(bytes + offset, count, offset);
    }
    return block;
}

}  // namespace zel
