// Number of threads the current process runs; for tests that check that
// nothing is left behind.
#pragma once

namespace platform {

// -1 when the system cannot tell.
int ProcessThreadCount();

}  // namespace platform
