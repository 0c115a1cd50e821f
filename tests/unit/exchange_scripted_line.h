// A byte line driven by a virtual clock: bytes are scheduled to arrive at
// given times, Sleep and WaitForInput move the clock instead of waiting, and
// every write is recorded with its time. A responder may schedule the
// scale's answer to each write. Used by the engine tests and the fuzzers.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <deque>
#include <vector>

#include "scales/exchange/ByteLine.h"

namespace zeltest {

class ScriptedLine : public zel::exchange::IByteLine {
public:
    struct Written {
        uint64_t at;
        std::vector<uint8_t> bytes;
    };
    using Responder = std::function<void(ScriptedLine&, const std::vector<uint8_t>&)>;

    uint64_t now = 0;
    std::vector<Written> writes;
    Responder onWrite;
    int reads = 0;
    int throwAtRead = -1;  // the read with this index raises an error
    bool closed = false;   // a failed line: reads bring nothing, writes fail
    bool lost = false;     // closed because the other side ended the connection
    // A converter that hangs up after each exchange: once bytes were read,
    // the first read that finds nothing more finds the connection ended.
    bool endsAfterReply = false;

    // Schedules bytes to arrive `delay` ms from now, all at once.
    void Arrive(uint64_t delay, const std::vector<uint8_t>& bytes) {
        for (uint8_t b : bytes) Insert(now + delay, b);
    }
    // Schedules bytes one by one, the first after `delay`, then every `gap` ms.
    void Trickle(uint64_t delay, uint64_t gap, const std::vector<uint8_t>& bytes) {
        uint64_t at = now + delay;
        for (uint8_t b : bytes) {
            Insert(at, b);
            at += gap;
        }
    }
    // Bytes that land during a later WaitForInput with no time passing (they
    // arrive between a read that found nothing and the wait): each call
    // queues one chunk, each wait delivers the oldest.
    void ArriveOnWait(const std::vector<uint8_t>& bytes) { onWait_.push_back(bytes); }
    size_t Pending() const { return incoming_.size() + onWait_.size(); }

    int Read(uint8_t* buffer, int size) override {
        if (reads++ == throwAtRead) throw std::runtime_error("line failure");
        if (closed || size <= 0) return 0;
        int n = 0;
        while (n < size && !incoming_.empty() && incoming_.front().at <= now) {
            buffer[n++] = incoming_.front().byte;
            incoming_.pop_front();
        }
        if (n > 0) {
            replied_ = true;
        } else if (endsAfterReply && replied_ && incoming_.empty()) {
            closed = lost = true;
            replied_ = false;
        }
        return n;
    }
    int Write(const uint8_t* data, int size) override {
        if (closed) return -2;
        std::vector<uint8_t> bytes(data, data + size);
        writes.push_back({now, bytes});
        if (onWrite) onWrite(*this, bytes);
        return size;
    }
    bool WaitForInput(unsigned ms) override {
        if (!closed && !onWait_.empty()) {
            for (uint8_t b : onWait_.front()) Insert(now, b);
            onWait_.pop_front();
        }
        if (Available()) return true;
        uint64_t until = now + ms;
        if (!closed && !incoming_.empty() && incoming_.front().at <= until) {
            now = incoming_.front().at;
            return true;
        }
        now = until;
        return false;
    }
    // A line whose waits a wake-up can end (the real port is one): it may
    // be waited on without a bound. Wake-ups are scheduled like bytes.
    bool canSleep = false;
    void WakeAt(uint64_t delay) { wakes_.insert(std::upper_bound(wakes_.begin(), wakes_.end(), now + delay), now + delay); }
    bool CanSleep() const override { return canSleep; }
    platform::WaitOutcome WaitForInputOrWake(unsigned ms) override {
        const uint64_t never = ~static_cast<uint64_t>(0);
        const uint64_t until = ms == platform::kWaitForever ? never : now + ms;
        const uint64_t wake = wakes_.empty() ? never : std::max(wakes_.front(), now);
        const uint64_t byte = closed || incoming_.empty() ? never : std::max(incoming_.front().at, now);
        if (!wakes_.empty() && wake <= until && wake <= byte) {
            now = wake;
            wakes_.erase(wakes_.begin());
            return platform::WaitOutcome::kWoken;
        }
        if (byte != never && byte <= until) {
            now = byte;
            return platform::WaitOutcome::kInput;
        }
        if (until != never) now = until;  // an endless wait with nothing to come ends at once
        return platform::WaitOutcome::kTimeout;
    }
    void Sleep(unsigned ms) override { now += ms; }
    uint64_t NowMs() override { return now; }
    bool ConnectionLost() override { return lost; }

private:
    struct Byte {
        uint64_t at;
        uint8_t byte;
    };
    bool Available() const { return !closed && !incoming_.empty() && incoming_.front().at <= now; }
    void Insert(uint64_t at, uint8_t b) {
        auto pos = std::upper_bound(incoming_.begin(), incoming_.end(), at,
                                    [](uint64_t t, const Byte& x) { return t < x.at; });
        incoming_.insert(pos, Byte{at, b});
    }
    std::deque<Byte> incoming_;
    std::deque<std::vector<uint8_t>> onWait_;
    std::vector<uint64_t> wakes_;
    bool replied_ = false;
};

class ScriptedSession : public zel::exchange::IExchangeSession {
public:
    int32_t ensureResult = 0;
    int ensures = 0, releases = 0, disconnects = 0;
    int reconnects = 0;
    // When set, a successful EnsureConnected opens this line again if it is
    // closed.
    ScriptedLine* line = nullptr;
    int32_t EnsureConnected() override {
        ++ensures;
        if (ensureResult == 0 && line && line->closed) {
            line->closed = line->lost = false;
            ++reconnects;
        }
        return ensureResult;
    }
    int32_t ReleaseConnection() override {
        ++releases;
        return 0;
    }
    int32_t Disconnect() override {
        ++disconnects;
        return 0;
    }
};

}  // namespace zeltest
