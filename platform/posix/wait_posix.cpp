#include "platform/posix/wait_posix.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/sys.h"

namespace platform {

WakeSignal::WakeSignal() : handle_(kNone) {
    int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd >= 0) handle_ = fd;
}

WakeSignal::~WakeSignal() {
    if (handle_ != kNone) ::close(static_cast<int>(handle_));
}

void WakeSignal::Raise() {
    if (handle_ == kNone) return;
    const uint64_t one = 1;
    // A full counter (never in practice) is raised already.
    while (::write(static_cast<int>(handle_), &one, sizeof one) < 0 && errno == EINTR) {
    }
}

bool WakeSignal::Consume() {
    if (handle_ == kNone) return false;
    uint64_t count = 0;
    for (;;) {
        ssize_t n = ::read(static_cast<int>(handle_), &count, sizeof count);
        if (n == static_cast<ssize_t>(sizeof count)) return true;
        if (n < 0 && errno == EINTR) continue;
        return false;
    }
}

WaitOutcome PollOrWake(int fd, short events, unsigned ms, WakeSignal* wake) {
    const bool forever = ms == kWaitForever;
    const uint64_t deadline = forever ? 0 : MonotonicMs() + ms;
    const int wakeFd = wake && wake->Usable() ? static_cast<int>(wake->Native()) : -1;
    for (;;) {
        int timeout = -1;
        if (!forever) {
            const uint64_t now = MonotonicMs();
            timeout = now >= deadline ? 0 : static_cast<int>(deadline - now);
        }
        pollfd fds[2];
        nfds_t n = 0;
        if (wakeFd >= 0) fds[n++] = pollfd{wakeFd, POLLIN, 0};
        const nfds_t lineAt = n;
        if (fd >= 0) fds[n++] = pollfd{fd, events, 0};
        if (n == 0 && forever) return WaitOutcome::kTimeout;  // nothing could ever end it
        const int r = ::poll(fds, n, timeout);
        if (r < 0) {
            if (errno == EINTR) continue;
            return WaitOutcome::kTimeout;
        }
        if (r == 0) return WaitOutcome::kTimeout;
        if (wakeFd >= 0 && fds[0].revents != 0) {
            if (wake->Consume()) return WaitOutcome::kWoken;
            continue;  // another waiter took it
        }
        if (fd >= 0 && fds[lineAt].revents != 0) return WaitOutcome::kInput;
    }
}

WaitOutcome WaitForWake(WakeSignal* wake, unsigned ms) { return PollOrWake(-1, 0, ms, wake); }

}  // namespace platform
