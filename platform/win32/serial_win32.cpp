#include <windows.h>

#include "platform/serial.h"

#include <new>

#include "platform/sys.h"

namespace platform {

struct SerialLine::Native {
    HANDLE handle = INVALID_HANDLE_VALUE;
    DCB dcb;           // the line state as last read or written
    COMMTIMEOUTS timeouts;
};

SerialLine::SerialLine() : native_(new (std::nothrow) Native) {
    if (native_) {
        ZeroMemory(&native_->dcb, sizeof(native_->dcb));
        native_->dcb.DCBlength = sizeof(DCB);
        ZeroMemory(&native_->timeouts, sizeof(native_->timeouts));
    }
}

SerialLine::~SerialLine() {
    Close();
    delete native_;
}

bool SerialLine::IsOpen() const { return native_ && native_->handle != INVALID_HANDLE_VALUE; }

bool SerialLine::Open(const char* name) {
    if (!native_ || !name || native_->handle != INVALID_HANDLE_VALUE) return false;
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0 /* exclusive */, nullptr, OPEN_EXISTING,
                           FILE_FLAG_NO_BUFFERING, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    native_->handle = h;
    return true;
}

bool SerialLine::GetState() {
    if (!IsOpen()) return false;
    native_->dcb.DCBlength = sizeof(DCB);
    return GetCommState(native_->handle, &native_->dcb) != FALSE;
}

bool SerialLine::GetTimeouts() {
    if (!IsOpen()) return false;
    return GetCommTimeouts(native_->handle, &native_->timeouts) != FALSE;
}

bool SerialLine::SetReadsReturnAtOnce() {
    if (!IsOpen()) return false;
    native_->timeouts.ReadIntervalTimeout = MAXDWORD;
    native_->timeouts.ReadTotalTimeoutMultiplier = 0;
    native_->timeouts.ReadTotalTimeoutConstant = 0;
    return SetCommTimeouts(native_->handle, &native_->timeouts) != FALSE;
}

bool SerialLine::SetState() {
    if (!IsOpen()) return false;
    return SetCommState(native_->handle, &native_->dcb) != FALSE;
}

void SerialLine::SetBaudRate(int32_t baud) {
    if (native_) native_->dcb.BaudRate = static_cast<DWORD>(baud);
}

void SerialLine::SetParity(uint8_t code) {
    if (native_) native_->dcb.Parity = code;
}

void SerialLine::SetByteSize(uint8_t bits) {
    if (native_) native_->dcb.ByteSize = bits;
}

void SerialLine::SetStopBits(uint8_t code) {
    if (native_) native_->dcb.StopBits = code;
}

void SerialLine::SetRtsCtsFlow(bool on) {
    if (!native_) return;
    native_->dcb.fOutxCtsFlow = on ? 1 : 0;
    native_->dcb.fOutxDsrFlow = 0;
    native_->dcb.fRtsControl = on ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
}

void SerialLine::SetNoHardwareFlow() { SetRtsCtsFlow(false); }

void SerialLine::SetXonXoff(bool on) {
    if (!native_) return;
    native_->dcb.fOutX = on ? 1 : 0;
    native_->dcb.fInX = on ? 1 : 0;
}

long SerialLine::Read(void* buffer, size_t size) {
    if (!IsOpen()) return -1;
    if (size == 0) return 0;
    DWORD want = size > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<DWORD>(size);
    DWORD got = 0;
    if (!ReadFile(native_->handle, buffer, want, &got, nullptr)) return -1;
    return static_cast<long>(got);
}

long SerialLine::Write(const void* data, size_t size) {
    if (!IsOpen()) return -1;
    if (size == 0) return 0;
    DWORD want = size > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<DWORD>(size);
    DWORD done = 0;
    if (!WriteFile(native_->handle, data, want, &done, nullptr)) return -1;
    return static_cast<long>(done);
}

bool SerialLine::WaitReadable(unsigned ms) {
    if (!IsOpen()) return false;
    // The handle is not overlapped, so a comm event would block without a
    // bound: look at the input queue every millisecond instead.
    uint64_t deadline = MonotonicMs() + ms;
    for (;;) {
        DWORD errors = 0;
        COMSTAT stat;
        ZeroMemory(&stat, sizeof(stat));
        if (!ClearCommError(native_->handle, &errors, &stat)) return true;  // the next read reports it
        if (stat.cbInQue > 0) return true;
        if (MonotonicMs() >= deadline) return false;
        Sleep(1);
    }
}

bool SerialLine::Close() {
    if (!IsOpen()) return true;
    HANDLE h = native_->handle;
    native_->handle = INVALID_HANDLE_VALUE;
    return CloseHandle(h) != FALSE;
}

}  // namespace platform
