#include "transport/COMPort.h"

#include <stdexcept>

namespace {
[[noreturn]] void Fail(const char* message) { throw std::runtime_error(message); }
}  // namespace

COMPort::COMPort(const char* deviceName) {
    if (!line_.Open(deviceName)) Fail("COMPort: failed to open.");
    // From here on a failure closes the line before raising.
    const char* failure = nullptr;
    if (!line_.GetState()) {
        failure = "COMPort: could not retrieve serial port state.";
    } else if (!line_.GetTimeouts()) {
        failure = "COMPort: failed to retrieve timeouts.";
    } else if (!line_.SetReadsReturnAtOnce()) {
        failure = "COMPort: failed to modify timeouts.";
    } else {
        line_.SetByteSize(8);
        bool ok = line_.SetState();
        if (ok) {
            line_.SetNoHardwareFlow();
            ok = line_.SetState();
        }
        if (ok) {
            line_.SetParity(0);
            ok = line_.SetState();
        }
        if (ok) {
            line_.SetStopBits(0);
            ok = line_.SetState();
        }
        if (ok) {
            line_.SetXonXoff(false);
            ok = line_.SetState();
        }
        if (!ok) failure = "COMPort: could not modify serial port state.";
    }
    if (failure) {
        line_.Close();
        Fail(failure);
    }
}

COMPort::~COMPort() { line_.Close(); }

void COMPort::WriteState() {
    if (!line_.SetState()) Fail("COMPort: could not modify serial port state.");
}

void COMPort::SetBaudRate(int32_t baud) {
    line_.SetBaudRate(baud);
    WriteState();
}

void COMPort::SetParity(uint8_t code) {
    line_.SetParity(code);
    WriteState();
}

void COMPort::SetByteSize(uint8_t bits) {
    line_.SetByteSize(bits);
    WriteState();
}

void COMPort::SetStopBits(uint8_t code) {
    line_.SetStopBits(code);
    WriteState();
}

void COMPort::SetHandshaking(uint8_t flag) {
    line_.SetRtsCtsFlow(flag != 0);
    WriteState();
}

void COMPort::SetXonXoff(uint8_t flag) {
    line_.SetXonXoff(flag != 0);
    WriteState();
}

int32_t COMPort::Read(void* buffer, int32_t size) {
    if (size <= 0 || !buffer) return 0;
    long n = line_.Read(buffer, static_cast<size_t>(size));
    if (n < 0) Fail("COMPort: read failed.");
    return static_cast<int32_t>(n);
}

int32_t COMPort::Write(const void* data, int32_t size) {
    if (size <= 0 || !data) return 0;
    long n = line_.Write(data, static_cast<size_t>(size));
    if (n < 0) Fail("COMPort: write failed.");
    return static_cast<int32_t>(n);
}

bool COMPort::WaitForInput(unsigned ms) { return line_.WaitReadable(ms); }

platform::WaitOutcome COMPort::WaitForInputOrWake(unsigned ms, platform::WakeSignal* wake) {
    return line_.WaitReadableOrWake(ms, wake);
}

void COMPort::Close() {
    if (!line_.Close()) Fail("COMPort: failed to close.");
}
