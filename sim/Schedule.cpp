#include "sim/Schedule.h"

#include <algorithm>

namespace sim {

namespace {

int WaitUntil(uint64_t due, uint64_t now, int cap) {
    const int64_t left = static_cast<int64_t>(due) - static_cast<int64_t>(now);
    return left > 0 ? static_cast<int>(std::min<int64_t>(left, cap)) : 0;
}

}  // namespace

void Schedule::SetPushPeriod(int ms, uint64_t now) {
    pushPeriodMs_ = ms > 0 ? ms : 0;
    nextPushMs_ = now + static_cast<uint64_t>(pushPeriodMs_);
}

bool Schedule::TakePush(uint64_t now) {
    if (pushPeriodMs_ <= 0 || now < nextPushMs_) return false;
    nextPushMs_ = now + static_cast<uint64_t>(pushPeriodMs_);
    return true;
}

int Schedule::PushWaitMs(uint64_t now, int cap) const {
    if (pushPeriodMs_ <= 0) return cap;
    return WaitUntil(nextPushMs_, now, cap);
}

void Schedule::SetStreamGap(int ms) { streamGapMs_ = ms < 0 ? 0 : std::min(ms, kMaxStreamGapMs); }

void Schedule::FrameEnded(uint64_t now, int minPauseMs) {
    idleFromMs_ = now;
    minPauseMs_ = minPauseMs;
}

// The gap as set now counts, so a changed gap applies to the pause under way.
uint64_t Schedule::StreamDueMs() const {
    if (retryMs_) return retryMs_;
    return idleFromMs_ + static_cast<uint64_t>(std::max(streamGapMs_, minPauseMs_));
}

int Schedule::StreamWaitMs(uint64_t now, int cap) const { return WaitUntil(StreamDueMs(), now, cap); }

void Schedule::RestartStream() {
    FrameEnded(0, 0);
    retryMs_ = 0;
}

}  // namespace sim
