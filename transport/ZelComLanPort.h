// The one line a scale object talks through: a serial port or a TCP
// connection, with one recursive lock held across every operation, serial
// failures turned into a closed port, and every byte written to the device's
// traffic log.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/sync.h"
#include "platform/wait.h"

class COMPort;
class CZelClientSocket;

namespace zel {
class TrafficLog;
}

enum TrafficDirection : int { kTrafficSys = 0, kTrafficOut = 1, kTrafficIn = 2 };

class CZelComLanPort {
public:
    CZelComLanPort();
    virtual ~CZelComLanPort();
    CZelComLanPort(const CZelComLanPort&) = delete;
    CZelComLanPort& operator=(const CZelComLanPort&) = delete;

    int OpenComPort(const char* name);             // 0 opened, 1 failed
    int OpenTcpPort(const char* host, int32_t port);  // 0 opened, 1 failed
    int Open();                                    // 0, 1, or 9 when already open
    int Close();                                   // 0

    // Never waits: bytes already received (0 when none, or no line open).
    int Read(void* buffer, int32_t size);
    // Bytes written; -1 with no line open; -2 after a serial write failure.
    int Write(const void* data, int32_t size);

    int SetBaudRate(int32_t baud);  // 0 applied, -1 recorded only, -2 failed
    int SetParity(int32_t parity);
    int SetByteSize(int32_t ignored);
    int SetStopBits(int32_t stopBits);

    int LogTraffic(const void* data, int32_t length, int direction);

    // Waits up to `ms` for input on the open line and returns as soon as
    // bytes are waiting (true) or the time is up (false). With no line open
    // it simply sleeps `ms`. Safe against a concurrent Close.
    bool WaitForInput(unsigned ms);

    // As WaitForInput, and also ended by Wake (kWoken), from any thread;
    // `ms` may be platform::kWaitForever. With no line open it ends at once
    // (kTimeout): nothing can come. The wait holds no lock: a Close from
    // another thread wakes it (kWoken) and closes the line once it has let go.
    platform::WaitOutcome WaitForInputOrWake(unsigned ms);
    // A sleep of `ms` that Wake ends early (kWoken); otherwise it lasts its
    // whole time, whether a line is open or not.
    platform::WaitOutcome SleepOrWake(unsigned ms);
    // Ends the current or the next WaitForInputOrWake or SleepOrWake.
    void Wake();

    // 0 when a line is open and usable, 2 otherwise (CheckConnection).
    int LineState();

    // True when the port closed its TCP connection itself because the other
    // side ended or reset it (a converter that hangs up after each reply);
    // false again after the next Open or Close.
    bool ConnectionLost();

    // Closes the traffic-log file and names the next one after `deviceId`
    // ("log_scales_<id>.log" in the component's directory).
    void SetLogDeviceId(const char* deviceId);

    platform::RecursiveMutex& Lock() { return lock_; }

    // The line settings as the port holds them (for diagnostics and tests).
    struct LineSettings {
        int mode;  // 0 not chosen, 1 COM, 2 Ethernet
        int32_t baudRate, parity, byteSize, stopBits;
        int handshaking, xonXoff;
        int32_t tcpPort;
    };
    LineSettings Settings();
    // The traffic-log file the next block goes to.
    std::string LogPath();

private:
    struct State;
    void LoseConnection();  // closes the TCP line and notes why
    // One wait on the open line; *noLine when there was none.
    platform::WaitOutcome WaitOnLine(unsigned ms, bool* noLine);
    platform::RecursiveMutex lock_;
    std::unique_ptr<State> state_;
};
