// Locks, threads and a wakeable event, on critical sections / Win32 threads
// on Windows and pthreads elsewhere (no dependency on a C++ thread runtime).
#pragma once

#include <cstdint>

namespace platform {

// Re-entrant lock: the owning thread may take it again.
class RecursiveMutex {
public:
    RecursiveMutex();
    ~RecursiveMutex();
    RecursiveMutex(const RecursiveMutex&) = delete;
    RecursiveMutex& operator=(const RecursiveMutex&) = delete;
    void Lock();
    void Unlock();

private:
    alignas(8) unsigned char storage_[64];
};

}  // namespace platform

// Scoped lock: enters the lock when made, leaves it when destroyed.
class CAutoLockMutex {
public:
    explicit CAutoLockMutex(platform::RecursiveMutex& m) : m_(m) { m_.Lock(); }
    ~CAutoLockMutex() { m_.Unlock(); }
    CAutoLockMutex(const CAutoLockMutex&) = delete;
    CAutoLockMutex& operator=(const CAutoLockMutex&) = delete;

private:
    platform::RecursiveMutex& m_;
};

namespace platform {

// A joinable thread. Start() runs fn(arg) on a new thread.
class Thread {
public:
    using Entry = void (*)(void* arg);
    Thread();
    ~Thread();  // joins a thread that is still running
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    bool Start(Entry fn, void* arg);
    bool Started() const { return started_; }
    // Waits up to timeoutMs for the thread to end; true when it has ended.
    bool WaitFor(unsigned timeoutMs);
    // Waits for the thread to end without a bound and releases it.
    void Join();

private:
    bool started_ = false;
    alignas(8) unsigned char storage_[64];
};

// Auto-reset style wakeup: Wait returns when Signal was called since the
// last Wait, or when the timeout ends.
class Event {
public:
    Event();
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    void Signal();
    // True when signalled, false on time-out.
    bool Wait(unsigned timeoutMs);

private:
    alignas(8) unsigned char storage_[128];
};

}  // namespace platform
