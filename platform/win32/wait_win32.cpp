#include <windows.h>

#include "platform/wait.h"

namespace platform {

namespace {
HANDLE Handle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }
}  // namespace

WakeSignal::WakeSignal() : handle_(kNone) {
    // Auto-reset: the wait that sees it raised also lowers it.
    HANDLE h = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (h) handle_ = reinterpret_cast<intptr_t>(h);
}

WakeSignal::~WakeSignal() {
    if (handle_ != kNone) CloseHandle(Handle(handle_));
}

void WakeSignal::Raise() {
    if (handle_ != kNone) SetEvent(Handle(handle_));
}

bool WakeSignal::Consume() {
    return handle_ != kNone && WaitForSingleObject(Handle(handle_), 0) == WAIT_OBJECT_0;
}

WaitOutcome WaitForWake(WakeSignal* wake, unsigned ms) {
    if (!wake || !wake->Usable()) {
        if (ms == kWaitForever) return WaitOutcome::kTimeout;  // nothing could ever end it
        Sleep(ms);
        return WaitOutcome::kTimeout;
    }
    DWORD r = WaitForSingleObject(Handle(wake->Native()), ms == kWaitForever ? INFINITE : ms);
    return r == WAIT_OBJECT_0 ? WaitOutcome::kWoken : WaitOutcome::kTimeout;
}

}  // namespace platform
