// When the scale sends on its own: the periodic push of an event model and
// the frames of a streaming one. Frame-level times on a millisecond clock the
// caller passes in (platform::MonotonicMs() in the simulator), so it can be
// driven on any clock.
//
// Not thread-safe: the simulator keeps it under its mutex.
#pragma once

#include <cstdint>

namespace sim {

class Schedule {
public:
    static constexpr int kDefaultStreamGapMs = 100;
    static constexpr int kMaxStreamGapMs = 3600000;

    // Pushes: a frame every `ms` from `now` on (0 or less: off).
    void SetPushPeriod(int ms, uint64_t now);
    int PushPeriodMs() const { return pushPeriodMs_; }
    // True when a push is due at `now`; the next one is then a period later.
    bool TakePush(uint64_t now);
    // Milliseconds until the next push (0: due), at most `cap`; `cap` when off.
    int PushWaitMs(uint64_t now, int cap) const;

    // Streams: the pause between frames (clamped to 0..kMaxStreamGapMs).
    void SetStreamGap(int ms);
    int StreamGapMs() const { return streamGapMs_; }
    // A frame ended, or was skipped, at `now`: the next one goes the gap
    // after it, or `minPauseMs` after it when that is longer.
    void FrameEnded(uint64_t now, int minPauseMs);
    // No client held the line: look again at `atMs` instead (0: no retry).
    void RetryAt(uint64_t atMs) { retryMs_ = atMs; }
    // When the next streamed frame is due.
    uint64_t StreamDueMs() const;
    // Milliseconds until the next streamed frame (0: due), at most `cap`.
    int StreamWaitMs(uint64_t now, int cap) const;
    // A fresh start: a frame is due at once.
    void RestartStream();

private:
    int pushPeriodMs_ = 0;
    uint64_t nextPushMs_ = 0;
    int streamGapMs_ = kDefaultStreamGapMs;
    uint64_t idleFromMs_ = 0;  // when the last frame ended (or was skipped)
    int minPauseMs_ = 0;       // at least this long before the next one
    uint64_t retryMs_ = 0;     // no client yet: when to look again
};

}  // namespace sim
