// Small helpers of the simulator's tests: bytes as hex text, bytes from a
// list of values, and what a scale shows.
#pragma once

#include <initializer_list>
#include <string>

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

}  // namespace simtest
