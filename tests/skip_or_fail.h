// A test that cannot run on this machine fails, so that a run which checked
// less than it claims never looks green. Set ZEL_ALLOW_SKIP=1 in the
// environment to let such tests skip instead (a machine without a Russian
// locale, a port another program holds, a tool the run does not build).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace zeltest {

inline bool SkipAllowed() {
    const char* allow = std::getenv("ZEL_ALLOW_SKIP");
    return allow && std::strcmp(allow, "1") == 0;
}

}  // namespace zeltest

// Returns from the test: skipped with ZEL_ALLOW_SKIP=1, failed otherwise.
#define ZEL_SKIP_OR_FAIL(message)                                                   \
    do {                                                                            \
        if (::zeltest::SkipAllowed()) {                                             \
            GTEST_SKIP() << message;                                                \
        } else {                                                                    \
            FAIL() << message << " (ZEL_ALLOW_SKIP=1 lets this test skip)";         \
        }                                                                           \
    } while (0)
