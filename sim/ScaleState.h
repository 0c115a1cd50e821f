// What the simulated scale shows and what it has seen: the display, the
// effects of recognised messages on it, the counters and the record log.
//
// Thread-safe: every member is guarded by the mutex given to the
// constructor (the simulator's own, so the display, the log and the line
// change under one lock). The observer is called outside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/sync.h"
#include "sim/Frames.h"
#include "sim/Simulator.h"

namespace sim {

struct SimModel;

// The record kind of a recognised message.
Record::Kind RecordKindOf(CommandMatcher::Kind kind);

class ScaleState {
public:
    static constexpr size_t kLogLimit = 100000;  // records kept; the older half goes first

    // `desc`: the model's descriptor, null for none (no frame, no effects).
    ScaleState(const SimModel* desc, platform::RecursiveMutex& mu) : desc_(desc), mu_(mu) {}
    ScaleState(const ScaleState&) = delete;
    ScaleState& operator=(const ScaleState&) = delete;

    // Non-finite values are ignored.
    void SetWeight(double kg);  // also clears `zeroed`
    void SetStable(bool stable);
    void SetOverload(bool overload);
    void SetPrice(double perKg);
    void SetCost(double cost);  // fixes the cost shown from now on
    void SetTare(double kg);
    void SetDecimals(int decimals);  // clamped to 0..4
    void SetNegative(bool negative);
    void SetText(const std::string& text);

    Display Shown() const;    // as set (cost as stored)
    Display Current() const;  // as sent: cost = weight x price to hundredths unless fixed
    std::string Frame() const;  // the model's frame of Current(); "" without an encoder
    std::string Encode(const Display& d) const;

    // A recognised message: a request is counted, a command's effect is
    // applied; then it is recorded, so a waiter woken by it sees the effect.
    void Apply(const CommandMatcher::Message& m);
    // The descriptor's answer to a command, "" for none or for a request.
    std::string Answer(const CommandMatcher::Message& m) const;

    void AddRecord(Record::Kind kind, const std::string& bytes, long long value);
    // A frame went out in full at `nowMs`.
    void FrameDone(const std::string& bytes, uint64_t nowMs);

    int Requests() const;
    int Frames() const;
    uint64_t LastFrameSentMs() const;

    std::vector<std::string> Received() const;  // no Sent or LineCut records
    std::vector<Record> Log() const;
    void ClearLog();
    bool WaitReceived(size_t count, int timeoutMs) const;
    void SetObserver(std::function<void(const Record&)> observer);

private:
    static bool IsCommand(CommandMatcher::Kind k) {
        return k != CommandMatcher::Request && k != CommandMatcher::Unknown;
    }

    const SimModel* const desc_;
    platform::RecursiveMutex& mu_;
    Display disp_;
    bool costFixed_ = false;
    int requests_ = 0, frames_ = 0;
    uint64_t lastSentMs_ = 0;
    std::vector<Record> log_;
    size_t receivedTotal_ = 0;  // received records ever made (since ClearLog)
    std::function<void(const Record&)> observer_;
    mutable platform::Event recordEvent_;  // signalled for every record
};

}  // namespace sim
