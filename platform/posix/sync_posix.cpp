#include "platform/sync.h"

#include <pthread.h>
#include <time.h>

#include <cerrno>
#include <new>

namespace platform {

namespace {
struct EventState {
    pthread_mutex_t mutex;
    pthread_cond_t cond;
    bool signalled;
};
struct ThreadState {
    pthread_t handle;
    pthread_mutex_t mutex;
    pthread_cond_t cond;
    bool finished;
};
struct ThreadStart {
    Thread::Entry fn;
    void* arg;
    ThreadState* state;
};

void AbsoluteDeadline(unsigned timeoutMs, timespec* ts) {
    clock_gettime(CLOCK_MONOTONIC, ts);
    ts->tv_sec += timeoutMs / 1000;
    ts->tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (ts->tv_nsec >= 1000000000L) {
        ts->tv_sec += 1;
        ts->tv_nsec -= 1000000000L;
    }
}

void InitMonotonicCond(pthread_cond_t* cond) {
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(cond, &attr);
    pthread_condattr_destroy(&attr);
}

void* ThreadMain(void* p) {
    ThreadStart start = *static_cast<ThreadStart*>(p);
    delete static_cast<ThreadStart*>(p);
    start.fn(start.arg);
    pthread_mutex_lock(&start.state->mutex);
    start.state->finished = true;
    pthread_cond_broadcast(&start.state->cond);
    pthread_mutex_unlock(&start.state->mutex);
    return nullptr;
}
}  // namespace

static_assert(sizeof(pthread_mutex_t) <= 64, "mutex storage");
static_assert(sizeof(EventState) <= 128, "event storage");
static_assert(sizeof(ThreadState) <= 64 + 64, "thread storage");

RecursiveMutex::RecursiveMutex() {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(new (storage_) pthread_mutex_t, &attr);
    pthread_mutexattr_destroy(&attr);
}
RecursiveMutex::~RecursiveMutex() { pthread_mutex_destroy(reinterpret_cast<pthread_mutex_t*>(storage_)); }
void RecursiveMutex::Lock() { pthread_mutex_lock(reinterpret_cast<pthread_mutex_t*>(storage_)); }
void RecursiveMutex::Unlock() { pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t*>(storage_)); }

// The thread state is heap-allocated: pthread_t plus its own mutex and
// condition do not fit the inline storage on every libc.
Thread::Thread() { *reinterpret_cast<ThreadState**>(storage_) = nullptr; }

Thread::~Thread() { Join(); }

bool Thread::Start(Entry fn, void* arg) {
    if (started_) return false;
    auto* state = new ThreadState;
    pthread_mutex_init(&state->mutex, nullptr);
    InitMonotonicCond(&state->cond);
    state->finished = false;
    auto* start = new ThreadStart{fn, arg, state};
    if (pthread_create(&state->handle, nullptr, ThreadMain, start) != 0) {
        delete start;
        pthread_cond_destroy(&state->cond);
        pthread_mutex_destroy(&state->mutex);
        delete state;
        return false;
    }
    *reinterpret_cast<ThreadState**>(storage_) = state;
    started_ = true;
    return true;
}

bool Thread::WaitFor(unsigned timeoutMs) {
    ThreadState* state = *reinterpret_cast<ThreadState**>(storage_);
    if (!started_ || !state) return true;
    timespec deadline;
    AbsoluteDeadline(timeoutMs, &deadline);
    pthread_mutex_lock(&state->mutex);
    while (!state->finished) {
        if (pthread_cond_timedwait(&state->cond, &state->mutex, &deadline) == ETIMEDOUT) break;
    }
    bool finished = state->finished;
    pthread_mutex_unlock(&state->mutex);
    return finished;
}

void Thread::Join() {
    ThreadState* state = *reinterpret_cast<ThreadState**>(storage_);
    if (!started_ || !state) return;
    if (pthread_equal(pthread_self(), state->handle)) {
        // A thread cannot wait for itself: let it end on its own. Its state
        // stays allocated, since the thread still writes to it on the way out.
        pthread_detach(state->handle);
        *reinterpret_cast<ThreadState**>(storage_) = nullptr;
        started_ = false;
        return;
    }
    pthread_join(state->handle, nullptr);
    pthread_cond_destroy(&state->cond);
    pthread_mutex_destroy(&state->mutex);
    delete state;
    *reinterpret_cast<ThreadState**>(storage_) = nullptr;
    started_ = false;
}

Event::Event() {
    auto* e = new (storage_) EventState;
    pthread_mutex_init(&e->mutex, nullptr);
    InitMonotonicCond(&e->cond);
    e->signalled = false;
}
Event::~Event() {
    auto* e = reinterpret_cast<EventState*>(storage_);
    pthread_cond_destroy(&e->cond);
    pthread_mutex_destroy(&e->mutex);
}
void Event::Signal() {
    auto* e = reinterpret_cast<EventState*>(storage_);
    pthread_mutex_lock(&e->mutex);
    e->signalled = true;
    pthread_cond_broadcast(&e->cond);
    pthread_mutex_unlock(&e->mutex);
}
bool Event::Wait(unsigned timeoutMs) {
    auto* e = reinterpret_cast<EventState*>(storage_);
    timespec deadline;
    AbsoluteDeadline(timeoutMs, &deadline);
    pthread_mutex_lock(&e->mutex);
    while (!e->signalled) {
        if (pthread_cond_timedwait(&e->cond, &e->mutex, &deadline) == ETIMEDOUT) break;
    }
    bool got = e->signalled;
    e->signalled = false;
    pthread_mutex_unlock(&e->mutex);
    return got;
}

}  // namespace platform
