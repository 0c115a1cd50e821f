// The serial line under the device port: opens a device exclusively, sets
// reads that return at once, 8 data bits, no parity, one stop bit and no
// flow control, and changes single line parameters on request. Every
// failure raises std::runtime_error with a "COMPort: ..." message.
#pragma once

#include <cstdint>

#include "platform/serial.h"

class COMPort {
public:
    explicit COMPort(const char* deviceName);
    ~COMPort();  // closes the line; a refused close leaves it closed all the same
    COMPort(const COMPort&) = delete;
    COMPort& operator=(const COMPort&) = delete;

    void SetBaudRate(int32_t baud);
    void SetParity(uint8_t code);  // 0 none, 1 odd, 2 even, 3 mark, 4 space
    void SetByteSize(uint8_t bits);
    void SetStopBits(uint8_t code);  // 0 one, 1 one and a half, 2 two
    void SetHandshaking(uint8_t flag);
    void SetXonXoff(uint8_t flag);

    // Bytes read, possibly 0; never waits.
    int32_t Read(void* buffer, int32_t size);
    // Bytes written.
    int32_t Write(const void* data, int32_t size);
    // True as soon as input is waiting, false after `ms`.
    bool WaitForInput(unsigned ms);
    // As WaitForInput, also ended by `wake`; `ms` may be kWaitForever.
    platform::WaitOutcome WaitForInputOrWake(unsigned ms, platform::WakeSignal* wake);

    // Closes the line now; raises "COMPort: failed to close." when the
    // system refuses (the line is closed afterwards in any case).
    void Close();

private:
    void WriteState();

    platform::SerialLine line_;
};
