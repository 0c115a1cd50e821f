// The schedule alone, on a clock the test turns: when pushes and streamed
// frames fall due.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "sim/Schedule.h"

namespace {

TEST(SimSchedule, PushesFallDueAPeriodApart) {
    const struct {
        const char* name;
        int periodMs;
        uint64_t setAt;
        std::vector<uint64_t> polls;     // clock readings, in order
        std::vector<bool> due;           // TakePush at each
    } cases[] = {
        {"off", 0, 1000, {1000, 5000, 100000}, {false, false, false}},
        {"negative is off", -5, 1000, {1000, 2000}, {false, false}},
        {"not before the first period", 100, 1000, {1000, 1099, 1100}, {false, false, true}},
        {"next counts from the push, not the plan", 100, 1000, {1150, 1249, 1250}, {true, false, true}},
        {"one push for a long lapse", 50, 0, {500, 500, 549, 550}, {true, false, false, true}},
    };
    for (const auto& c : cases) {
        sim::Schedule s;
        s.SetPushPeriod(c.periodMs, c.setAt);
        for (size_t i = 0; i < c.polls.size(); ++i)
            EXPECT_EQ(s.TakePush(c.polls[i]), c.due[i]) << c.name << " poll " << i;
    }
}

TEST(SimSchedule, PushWaitIsCappedAndNeverNegative) {
    const struct {
        const char* name;
        int periodMs;
        uint64_t now;
        int cap;
        int wait;
    } cases[] = {
        {"off: the cap", 0, 10, 200, 200},
        {"ahead", 100, 30, 200, 70},
        {"ahead beyond the cap", 1000, 0, 200, 200},
        {"due", 100, 100, 200, 0},
        {"overdue", 100, 5000, 200, 0},
    };
    for (const auto& c : cases) {
        sim::Schedule s;
        s.SetPushPeriod(c.periodMs, 0);
        EXPECT_EQ(s.PushWaitMs(c.now, c.cap), c.wait) << c.name;
    }
}

TEST(SimSchedule, StreamedFramesFollowGapPauseAndRetry) {
    const struct {
        const char* name;
        int gapMs;
        uint64_t endedAt;
        int minPauseMs;
        uint64_t retryAt;
        uint64_t due;
    } cases[] = {
        {"default gap", -1, 1000, 0, 0, 1100},
        {"back to back", 0, 1000, 0, 0, 1000},
        {"a longer pause wins", 5, 1000, 20, 0, 1020},
        {"a longer gap wins", 50, 1000, 20, 0, 1050},
        {"negative gap is none", -7, 1000, 0, 0, 1000},
        {"gap clamped to an hour", 99999999, 0, 0, 0, 3600000},
        {"a retry overrides", 100, 1000, 0, 1010, 1010},
    };
    for (const auto& c : cases) {
        sim::Schedule s;
        if (c.gapMs != -1) s.SetStreamGap(c.gapMs);
        s.FrameEnded(c.endedAt, c.minPauseMs);
        s.RetryAt(c.retryAt);
        EXPECT_EQ(s.StreamDueMs(), c.due) << c.name;
        EXPECT_EQ(s.StreamWaitMs(c.due, 200), 0) << c.name;
        if (c.due > 0) {
            EXPECT_EQ(s.StreamWaitMs(c.due - 1, 200), 1) << c.name;
        }
    }
}

TEST(SimSchedule, GapChangedDuringAPauseAppliesAndRestartIsDueAtOnce) {
    sim::Schedule s;
    s.FrameEnded(1000, 0);
    s.SetStreamGap(500);
    EXPECT_EQ(s.StreamDueMs(), 1500u);
    EXPECT_EQ(s.StreamWaitMs(1000, 200), 200);
    s.RetryAt(1200);
    s.SetStreamGap(0);
    s.RestartStream();
    EXPECT_EQ(s.StreamDueMs(), 0u);
    EXPECT_EQ(s.StreamWaitMs(1, 200), 0);
}

}  // namespace
