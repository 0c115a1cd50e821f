// A byte line that takes out the echo of what was written through it. A
// loopback plug, an RS-485 adapter that hears its own transmission or a
// converter in echo mode hands the request back ahead of the scale's reply:
// the bytes written are expected back first, and when the input starts with
// exactly them they are dropped. The first byte that differs shows that the
// line does not echo: the bytes held while matching are given back in order
// and nothing more is taken out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "scales/exchange/ByteLine.h"

namespace zel {
namespace exchange {

class EchoGuard : public IByteLine {
public:
    // A guard that does not skip passes everything through unchanged.
    EchoGuard(IByteLine& line, bool skip) : line_(line), skip_(skip) {}

    int Read(uint8_t* buffer, int size) override;
    int Write(const uint8_t* data, int size) override;
    bool WaitForInput(unsigned ms) override;
    void Sleep(unsigned ms) override { line_.Sleep(ms); }
    uint64_t NowMs() override { return line_.NowMs(); }
    bool ConnectionLost() override { return line_.ConnectionLost(); }

    // Echoed bytes dropped so far.
    size_t Dropped() const { return dropped_; }

private:
    bool Watching() const { return skip_ && !ruledOut_ && matched_ < expected_.size(); }
    void Take(uint8_t b);
    int GiveBack(uint8_t* buffer, int size);

    IByteLine& line_;
    const bool skip_;
    bool ruledOut_ = false;          // a byte came that was not the echo
    std::vector<uint8_t> expected_;  // written and not yet seen back
    size_t matched_ = 0;             // leading bytes of expected_ seen back, held
    std::vector<uint8_t> back_;      // bytes given back, read before the line
    size_t backAt_ = 0;
    size_t dropped_ = 0;
};

}  // namespace exchange
}  // namespace zel
