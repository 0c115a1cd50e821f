// A serial line with the native line state kept in a copy that is edited
// field by field and written back whole, as the Windows communications
// interface works. On POSIX the copy is a termios record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/wait.h"

namespace platform {

class SerialLine {
public:
    SerialLine();
    ~SerialLine();  // closes the device if still open
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;

    // Opens the device for reading and writing, exclusively (a second opener
    // fails), unbuffered, without overlapped I/O.
    bool Open(const char* name);
    bool IsOpen() const;

    // Reads the device's current line state into the copy.
    bool GetState();
    // Reads the device's current time-outs.
    bool GetTimeouts();
    // Makes reads return at once with what has arrived (possibly nothing),
    // leaving the write time-outs as they were, and writes the time-outs.
    bool SetReadsReturnAtOnce();
    // Writes the whole copy of the line state to the device; false when the
    // device (or this platform) refuses a value.
    bool SetState();

    // Edits of the copy; SetState applies them.
    void SetBaudRate(int32_t baud);
    void SetParity(uint8_t code);    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    void SetByteSize(uint8_t bits);  // 5..8
    void SetStopBits(uint8_t code);  // 0 one, 1 one and a half, 2 two
    // RTS/CTS: on = CTS output flow and RTS handshake; off = no CTS flow and
    // RTS held on. DSR output flow is off either way.
    void SetRtsCtsFlow(bool on);
    // XON/XOFF in both directions.
    void SetXonXoff(bool on);
    // No CTS/DSR output flow, RTS held on.
    void SetNoHardwareFlow();

    // Bytes read (0 when nothing has arrived); -1 on failure. Never waits.
    long Read(void* buffer, size_t size);
    // Bytes written; -1 on failure.
    long Write(const void* data, size_t size);
    // True as soon as input is waiting (or the line reports a hang-up, which
    // the next Read turns into a failure); false after `ms`.
    bool WaitReadable(unsigned ms);
    // As WaitReadable, also ended by `wake`; `ms` may be kWaitForever.
    WaitOutcome WaitReadableOrWake(unsigned ms, WakeSignal* wake);

    // Closes the device; false when the system refused (the line counts as
    // closed all the same).
    bool Close();

private:
    struct Native;
    Native* native_;
};

#ifndef _WIN32
// What a terminal device holds now, read back from the system rather than
// from any copy kept by a SerialLine: for checking what a line really got.
// On a pseudo-terminal master it describes the slave. A pseudo-terminal
// keeps the speed and the stop bits but not the parity or data bits.
struct TtyLineSettings {
    int32_t baud = 0;  // bits per second; 0 when the speed is unknown
    int dataBits = 0;
    bool parity = false;
    bool oddParity = false;
    bool twoStopBits = false;
};
bool TtyReadLineSettings(int handle, TtyLineSettings* out);
#endif

}  // namespace platform
