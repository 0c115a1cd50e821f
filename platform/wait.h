// Waits that another thread can end early: a thread sleeping on a line (or
// on nothing) until bytes arrive, or until a WakeSignal is raised for it.
#pragma once

#include <cstdint>

namespace platform {

constexpr unsigned kWaitForever = 0xFFFFFFFFu;

enum class WaitOutcome { kInput, kWoken, kTimeout };

// A signal that stays raised until a wait consumes it, so a Raise made just
// before the wait begins is not lost. An eventfd on Linux, an auto-reset
// event on Windows.
class WakeSignal {
public:
    WakeSignal();
    ~WakeSignal();
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    void Raise();
    // False when the system gave no handle (out of descriptors): waits on it
    // then end only by input or time, and callers wait in slices instead.
    bool Usable() const { return handle_ != kNone; }
    // Takes a raised signal back; true when it was raised.
    bool Consume();
    // For the platform's own waits.
    intptr_t Native() const { return handle_; }

private:
    static constexpr intptr_t kNone = -1;
    intptr_t handle_;
};

// Sleeps up to `ms` (kWaitForever: without a bound) or until `wake` is
// raised; a null or unusable signal gives a plain sleep.
WaitOutcome WaitForWake(WakeSignal* wake, unsigned ms);

}  // namespace platform
