// The general log (one per process, dated records filtered by LOG_MODE) and
// the formatting of the per-device traffic log (hex-dump blocks).
#pragma once

#include <cstdint>
#include <string>

#include "platform/sys.h"

namespace zel {

enum LogLevel : int { kLogSys = 0, kLogError = 1, kLogWarn = 2, kLogInfo = 3, kLogDbg = 4 };

// The fixed general-log file. The folder is not created by the component:
// where it does not exist there is no general log.
std::string GeneralLogPath();
// settings.ini beside the host process's executable ([GLOBAL] LOG_MODE).
std::string HostSettingsPath();

// Reads LOG_MODE (default 3) from [GLOBAL] of `settingsPath` as a signed
// 8-bit level (its low byte: 256 is 0, 255 is -1) and, when that is above 0,
// opens `logPath` (created if missing, appended to, shared for
// reading only). Without arguments: the fixed paths above.
void GeneralLogStart();
void GeneralLogStart(const std::string& settingsPath, const std::string& logPath);
// Writes "Log-file is closed" at level 3 and closes the file.
void GeneralLogEnd();
// 1 when no general log is open, else 0; the record is written only when
// `level` is within LOG_MODE. The message is cut at 10239 characters.
int LogWrite(int level, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Traffic log. Direction 0 SYS, 1 OUT, 2 IN.
const char* TrafficDirectionLabel(int direction);
// The line description under a block's date line.
std::string TrafficComLine(const char* name, int32_t baud, int32_t parity, int32_t byteSize, int32_t stopBits,
                           int handshaking, int xonXoff);
std::string TrafficTcpLine(const char* host, int32_t port);
// From the 68-underscore rule line to the blank line after the column
// numbers.
std::string TrafficBlockHeader(int direction, int32_t length, const std::string& line,
                               const platform::LocalTime& time);
// One row of up to 20 bytes starting at byte `offset` of the transfer.
std::string TrafficRow(const unsigned char* bytes, int32_t count, int32_t offset);
// One whole block of a transfer of `length` bytes: its header, then its rows.
std::string TrafficBlock(int direction, const unsigned char* bytes, int32_t length, const std::string& line,
                         const platform::LocalTime& time);

}  // namespace zel
