// The poll behind every wait of platform/posix that a WakeSignal can end.
#pragma once

#include "platform/wait.h"

namespace platform {

// Waits for `events` on `fd` (skipped when fd < 0) or for `wake`; a wake
// is reported (and consumed) before input that is ready at the same time.
// POLLHUP and POLLERR count as input: the next read reports them.
WaitOutcome PollOrWake(int fd, short events, unsigned ms, WakeSignal* wake);

}  // namespace platform
