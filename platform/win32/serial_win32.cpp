#include <windows.h>

#include "platform/serial.h"

#include <new>

#include "platform/sys.h"

namespace platform {

// The handle is overlapped so that a wait for input can also be ended by a
// WakeSignal; reads and writes still complete before they return.
struct SerialLine::Native {
    HANDLE handle = INVALID_HANDLE_VALUE;
    DCB dcb;           // the line state as last read or written
    COMMTIMEOUTS timeouts;
    HANDLE ioDone = nullptr;    // reads and writes (made under the port's lock)
    HANDLE waitDone = nullptr;  // the one wait for a received byte
};

namespace {

// Runs one overlapped read or write to its end; false on failure.
template <typename Start>
bool Complete(HANDLE h, HANDLE done, DWORD* count, Start start) {
    OVERLAPPED ov;
    ZeroMemory(&ov, sizeof(ov));
    ov.hEvent = done;
    ResetEvent(done);
    if (!start(&ov) && GetLastError() != ERROR_IO_PENDING) return false;
    return GetOverlappedResult(h, &ov, count, TRUE) != FALSE;
}

// Bytes waiting in the driver's input queue; -1 when the line reports an
// error (the next read turns it into a failure).
long Queued(HANDLE h) {
    DWORD errors = 0;
    COMSTAT stat;
    ZeroMemory(&stat, sizeof(stat));
    if (!ClearCommError(h, &errors, &stat)) return -1;
    return static_cast<long>(stat.cbInQue);
}

}  // namespace

SerialLine::SerialLine() : native_(new (std::nothrow) Native) {
    if (native_) {
        ZeroMemory(&native_->dcb, sizeof(native_->dcb));
        native_->dcb.DCBlength = sizeof(DCB);
        ZeroMemory(&native_->timeouts, sizeof(native_->timeouts));
    }
}

SerialLine::~SerialLine() {
    Close();
    if (native_) {
        if (native_->ioDone) CloseHandle(native_->ioDone);
        if (native_->waitDone) CloseHandle(native_->waitDone);
    }
    delete native_;
}

bool SerialLine::IsOpen() const { return native_ && native_->handle != INVALID_HANDLE_VALUE; }

bool SerialLine::Open(const char* name) {
    if (!native_ || !name || native_->handle != INVALID_HANDLE_VALUE) return false;
    if (!native_->ioDone) native_->ioDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!native_->waitDone) native_->waitDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!native_->ioDone || !native_->waitDone) return false;
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0 /* exclusive */, nullptr, OPEN_EXISTING,
                           FILE_FLAG_NO_BUFFERING | FILE_FLAG_OVERLAPPED, nullptr);
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
    HANDLE h = native_->handle;
    // Only what is queued is asked for, so the read never waits (an
    // overlapped read of an empty queue may stay pending under emulators,
    // whatever the time-outs say).
    const long queued = Queued(h);
    if (queued < 0) return -1;
    if (queued == 0) return 0;
    if (static_cast<DWORD>(queued) < want) want = static_cast<DWORD>(queued);
    DWORD got = 0;
    if (!Complete(h, native_->ioDone, &got, [&](OVERLAPPED* ov) { return ReadFile(h, buffer, want, nullptr, ov); }))
        return -1;
    return static_cast<long>(got);
}

long SerialLine::Write(const void* data, size_t size) {
    if (!IsOpen()) return -1;
    if (size == 0) return 0;
    DWORD want = size > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<DWORD>(size);
    DWORD done = 0;
    HANDLE h = native_->handle;
    if (!Complete(h, native_->ioDone, &done, [&](OVERLAPPED* ov) { return WriteFile(h, data, want, nullptr, ov); }))
        return -1;
    return static_cast<long>(done);
}

bool SerialLine::WaitReadable(unsigned ms) { return WaitReadableOrWake(ms, nullptr) == WaitOutcome::kInput; }

WaitOutcome SerialLine::WaitReadableOrWake(unsigned ms, WakeSignal* wake) {
    if (!IsOpen()) return WaitForWake(wake, ms);
    HANDLE h = native_->handle;
    if (Queued(h) != 0) return WaitOutcome::kInput;
    OVERLAPPED ov;
    ZeroMemory(&ov, sizeof(ov));
    ov.hEvent = native_->waitDone;
    ResetEvent(ov.hEvent);
    DWORD mask = 0;
    if (!SetCommMask(h, EV_RXCHAR)) return WaitOutcome::kInput;  // the next read reports it
    if (WaitCommEvent(h, &mask, &ov)) return WaitOutcome::kInput;
    if (GetLastError() != ERROR_IO_PENDING) return WaitOutcome::kInput;
    // A byte that landed between the look at the queue and the start of the
    // wait raised no event for it.
    DWORD r;
    if (Queued(h) != 0) {
        r = WAIT_OBJECT_0 + 2;
    } else {
        HANDLE handles[2] = {ov.hEvent, wake && wake->Usable() ? reinterpret_cast<HANDLE>(wake->Native()) : nullptr};
        r = WaitForMultipleObjects(handles[1] ? 2 : 1, handles, FALSE, ms == kWaitForever ? INFINITE : ms);
    }
    DWORD ignored = 0;
    if (r != WAIT_OBJECT_0) {
        // Ends the pending wait (a new mask completes it) before `ov` goes.
        SetCommMask(h, EV_RXCHAR);
    }
    GetOverlappedResult(h, &ov, &ignored, TRUE);
    if (r == WAIT_OBJECT_0 || r == WAIT_OBJECT_0 + 2) return WaitOutcome::kInput;
    if (r == WAIT_OBJECT_0 + 1) return WaitOutcome::kWoken;
    return WaitOutcome::kTimeout;
}

bool SerialLine::Close() {
    if (!IsOpen()) return true;
    HANDLE h = native_->handle;
    native_->handle = INVALID_HANDLE_VALUE;
    return CloseHandle(h) != FALSE;
}

}  // namespace platform
