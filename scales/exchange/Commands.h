// The commands a model puts on the line besides its read request, described
// by the bytes that identify them. The scale classes send from the same
// constants; tools that write to a line of unknown scales (detect) build
// their guard from these descriptions so they never send one by accident.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "scales/exchange/Exchange.h"

namespace zel {
namespace exchange {

struct CommandPattern {
    static constexpr int kAny = -1;  // a value, address or check byte
    const char* what = "";           // "tare", "zero", "price", "acknowledgement", ...
    std::vector<int> bytes;          // 0..255, or kAny

    explicit CommandPattern(const char* w) : what(w) {}
    CommandPattern& Then(const uint8_t* b, size_t n) {
        for (size_t i = 0; i < n; ++i) bytes.push_back(b[i]);
        return *this;
    }
    template <size_t N>
    CommandPattern& Then(const uint8_t (&b)[N]) {
        return Then(b, N);
    }
    CommandPattern& Then(uint8_t b) { return Then(&b, 1); }
    CommandPattern& Then(const CommandSpec& c) {
        const size_t at = bytes.size();
        Then(c.bytes, c.length > 0 ? static_cast<size_t>(c.length) : 0);
        if (c.anyValueAt >= 0) AnyAt(at + static_cast<size_t>(c.anyValueAt));
        return *this;
    }
    // A price frame: its head, the digits any, its filler.
    CommandPattern& Then(const PriceCommand& p) {
        return Then(p.head, p.headLength > 0 ? static_cast<size_t>(p.headLength) : 0).PriceDigits(p.filler);
    }
    CommandPattern& Any(size_t count = 1) {
        bytes.insert(bytes.end(), count, kAny);
        return *this;
    }
    // A byte the scale takes in any value (its address).
    CommandPattern& AnyAt(size_t at) {
        if (at < bytes.size()) bytes[at] = kAny;
        return *this;
    }
    // What PriceDigits writes: five digits, then the filler.
    CommandPattern& PriceDigits(uint8_t filler) { return Any(5).Then(filler); }
};

using CommandList = std::vector<CommandPattern>;

}  // namespace exchange
}  // namespace zel
