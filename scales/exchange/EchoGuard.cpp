#include "scales/exchange/EchoGuard.h"

namespace zel {
namespace exchange {

int EchoGuard::Write(const uint8_t* data, int size) {
    const int written = line_.Write(data, size);
    if (skip_ && !ruledOut_ && data && written > 0)
        expected_.insert(expected_.end(), data, data + (written < size ? written : size));
    return written;
}

bool EchoGuard::WaitForInput(unsigned ms) { return backAt_ < back_.size() || line_.WaitForInput(ms); }

int EchoGuard::Read(uint8_t* buffer, int size) {
    if (!buffer || size <= 0) return 0;
    int n = GiveBack(buffer, size);
    while (n < size) {
        if (!Watching()) {
            const int got = line_.Read(buffer + n, size - n);
            return got > 0 ? n + got : (n > 0 ? n : got);
        }
        // Never more than the echo still owed, so a complete echo leaves the
        // reply on the line.
        uint8_t chunk[32];
        size_t want = expected_.size() - matched_;
        if (want > sizeof chunk) want = sizeof chunk;
        const int got = line_.Read(chunk, static_cast<int>(want));
        if (got <= 0) return n > 0 ? n : got;
        for (int i = 0; i < got; ++i) Take(chunk[i]);
        n += GiveBack(buffer + n, size - n);
    }
    return n;
}

void EchoGuard::Take(uint8_t b) {
    if (!Watching()) {
        back_.push_back(b);
        return;
    }
    if (b == expected_[matched_]) {
        if (++matched_ == expected_.size()) {
            dropped_ += matched_;
            expected_.clear();
            matched_ = 0;
        }
        return;
    }
    // Not an echo: what was held belongs to the reply.
    ruledOut_ = true;
    back_.insert(back_.end(), expected_.begin(), expected_.begin() + static_cast<std::ptrdiff_t>(matched_));
    back_.push_back(b);
    expected_.clear();
    matched_ = 0;
}

int EchoGuard::GiveBack(uint8_t* buffer, int size) {
    int n = 0;
    while (n < size && backAt_ < back_.size()) buffer[n++] = back_[backAt_++];
    if (backAt_ == back_.size()) {
        back_.clear();
        backAt_ = 0;
    }
    return n;
}

}  // namespace exchange
}  // namespace zel
