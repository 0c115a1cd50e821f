#include <windows.h>

#include "platform/sync.h"

#include <new>

namespace platform {

namespace {

struct ThreadState {
    HANDLE handle;
    DWORD id;
};

struct ThreadStart {
    Thread::Entry fn;
    void* arg;
};

DWORD WINAPI ThreadMain(LPVOID p) {
    ThreadStart start = *static_cast<ThreadStart*>(p);
    delete static_cast<ThreadStart*>(p);
    start.fn(start.arg);
    return 0;
}

CRITICAL_SECTION* Section(unsigned char* storage) { return reinterpret_cast<CRITICAL_SECTION*>(storage); }
ThreadState* StateOf(unsigned char* storage) { return reinterpret_cast<ThreadState*>(storage); }
HANDLE* EventOf(unsigned char* storage) { return reinterpret_cast<HANDLE*>(storage); }

}  // namespace

static_assert(sizeof(CRITICAL_SECTION) <= 64, "critical section storage");
static_assert(sizeof(ThreadState) <= 64, "thread storage");
static_assert(sizeof(HANDLE) <= 128, "event storage");

RecursiveMutex::RecursiveMutex() { InitializeCriticalSection(new (storage_) CRITICAL_SECTION); }
RecursiveMutex::~RecursiveMutex() { DeleteCriticalSection(Section(storage_)); }
void RecursiveMutex::Lock() { EnterCriticalSection(Section(storage_)); }
void RecursiveMutex::Unlock() { LeaveCriticalSection(Section(storage_)); }

Thread::Thread() { new (storage_) ThreadState{nullptr, 0}; }

Thread::~Thread() { Join(); }

bool Thread::Start(Entry fn, void* arg) {
    if (started_ || !fn) return false;
    auto* start = new ThreadStart{fn, arg};
    ThreadState* state = StateOf(storage_);
    state->handle = CreateThread(nullptr, 0, ThreadMain, start, 0, &state->id);
    if (!state->handle) {
        delete start;
        state->id = 0;
        return false;
    }
    started_ = true;
    return true;
}

bool Thread::WaitFor(unsigned timeoutMs) {
    ThreadState* state = StateOf(storage_);
    if (!started_ || !state->handle) return true;
    // The thread cannot see itself end.
    if (GetCurrentThreadId() == state->id) return false;
    return WaitForSingleObject(state->handle, timeoutMs) == WAIT_OBJECT_0;
}

void Thread::Join() {
    ThreadState* state = StateOf(storage_);
    if (!started_ || !state->handle) return;
    // A thread that releases itself does not wait for itself (that would
    // never end); it only gives up the handle and runs on to its end.
    if (GetCurrentThreadId() != state->id) WaitForSingleObject(state->handle, INFINITE);
    CloseHandle(state->handle);
    state->handle = nullptr;
    state->id = 0;
    started_ = false;
}

// An auto-reset event: one Wait consumes one Signal; a Signal without a
// waiter stays set until the next Wait.
Event::Event() { *EventOf(storage_) = CreateEventA(nullptr, FALSE, FALSE, nullptr); }

Event::~Event() {
    HANDLE h = *EventOf(storage_);
    if (h) CloseHandle(h);
}

void Event::Signal() {
    HANDLE h = *EventOf(storage_);
    if (h) SetEvent(h);
}

bool Event::Wait(unsigned timeoutMs) {
    HANDLE h = *EventOf(storage_);
    if (!h) {
        // No event object could be made: still honour the time-out so that
        // callers polling in a loop do not spin.
        Sleep(timeoutMs);
        return false;
    }
    return WaitForSingleObject(h, timeoutMs) == WAIT_OBJECT_0;
}

}  // namespace platform
