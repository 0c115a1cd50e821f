// Small helpers of the simulator's tests: bytes as hex text, bytes from a
// list of values, what a scale shows, and reading a line for a while.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "platform/pty.h"
#include "platform/sys.h"
#include "sim/Frames.h"

namespace simtest {

// "02 40 44": upper-case pairs separated by spaces.
inline std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char b : bytes) {
        if (!out.empty()) out.push_back(' ');
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 0x0F]);
    }
    return out;
}

inline std::string B(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s.push_back(static_cast<char>(b));
    return s;
}

// A display showing `weight` with `decimals` decimals.
inline sim::Display Show(double weight, int decimals = 3, bool stable = true, bool overload = false) {
    sim::Display d;
    d.weight = weight;
    d.decimals = decimals;
    d.stable = stable;
    d.overload = overload;
    return d;
}

// Reads up to `n` bytes from handle `h` within `timeoutMs`; stops early when
// the line closes (and says so through `closed`).
inline std::string ReadFor(int h, size_t n, int timeoutMs, bool* closed = nullptr) {
    std::string out;
    const uint64_t end = platform::MonotonicMs() + static_cast<uint64_t>(timeoutMs);
    if (closed) *closed = false;
    while (out.size() < n) {
        const uint64_t now = platform::MonotonicMs();
        if (now >= end) break;
        platform::WaitItem item{h, platform::kWaitReadable, 0};
        platform::WaitHandles(&item, 1, static_cast<int>(end - now));
        char buf[512];
        const size_t want = n - out.size() < sizeof buf ? n - out.size() : sizeof buf;
        const long r = platform::IoRead(h, buf, want);
        if (r < 0) {
            if (closed) *closed = true;
            break;
        }
        out.append(buf, static_cast<size_t>(r));
    }
    return out;
}

}  // namespace simtest
