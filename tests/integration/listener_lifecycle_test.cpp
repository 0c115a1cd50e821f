// Listener threads through the loaded library: prompt publishing and
// closing, no thread left behind, a lost connection regained, and commands
// from the platform's thread while readings arrive.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/sync.h"
#include "platform/threads_count.h"
#include "tests/integration/latency_rounds.h"
#include "tests/integration/listener_support.h"
#include "tests/skip_or_fail.h"

using zeltest::Event;
using zeltest::Line;
using zeltest::ListenerRig;

namespace {

class ListenerTiming : public ::testing::TestWithParam<Line> {};

TEST_P(ListenerTiming, FrameIsPublishedAsItLands) {
    ListenerRig rig(22, GetParam());
    ASSERT_TRUE(rig.Settle());
    // Frames landing at any point of the listener's cycle, also in its pause.
    // A listener that only looked every 50 ms step, or slept through its
    // 100 ms pause, would put the median lag near 25 ms or beyond in every
    // round; a busy machine stalls some rounds, so one round of three must
    // keep the bound. Tight figures belong to the benchmarks.
    zeltest::OneRoundKeepsMedian(14, [&](std::vector<uint64_t>& lags) {
        for (int i = 0; i < 9; ++i) {
            platform::SleepMs(static_cast<unsigned>(37 * i));
            rig.sim.PushReading();
            Event e;
            ASSERT_TRUE(rig.NextEvent(&e, 1000));
            uint64_t sent = rig.sim.LastFrameSentMs();
            ASSERT_GE(e.atMs, sent);
            lags.push_back(e.atMs - sent);
        }
    });
}

TEST_P(ListenerTiming, EveryPressOfASlowFrameArrives) {
    // A 25-byte frame at 1200 baud takes about 210 ms on the line. Wherever
    // a press falls after a silence, the frame gets its whole read budget
    // from its first byte: none is cut because it began late in a read (in
    // 500 ms reads waiting on silence about a third of them would be).
    ListenerRig rig(15, GetParam());
    ASSERT_TRUE(rig.Settle());
    rig.sim.SetPaceBaud(1200);
    const unsigned silences[] = {310, 530, 420, 660, 370, 590};
    for (unsigned silence : silences) {
        platform::SleepMs(silence);
        rig.sim.PushReading();
        Event e;
        EXPECT_TRUE(rig.NextEvent(&e, 1500)) << "a press after " << silence << " ms of silence";
    }
}

TEST_P(ListenerTiming, CloseDuringAReadIsPrompt) {
    ListenerRig rig(5, GetParam());
    ASSERT_TRUE(rig.Settle());
    // A slow frame keeps the listener inside its read.
    rig.sim.SetFault(sim::Fault::SlowBytes, 60);
    rig.sim.PushReading();
    platform::SleepMs(100);
    uint64_t start = platform::MonotonicMs();
    EXPECT_TRUE(rig.Close());
    EXPECT_LT(platform::MonotonicMs() - start, 1000u);
}

TEST_P(ListenerTiming, FrameOfASlowLineIsRead) {
    // Bytes that come one by one, 2 ms apart (a slow line, or a converter
    // that hands on every byte), spend only the time really waited: the
    // 25-byte frame takes about 50 ms of the 500 ms budget, where a whole
    // 50 ms step per byte would spend 1200 ms. The slow frame follows a
    // prompt one, so it meets a read with its budget whole. A busy machine
    // may stretch the simulator's gaps until the frame itself outlasts the
    // budget; such a frame proves nothing, and the line is set up afresh
    // (a cut frame leaves the line out of step) for another. With a tenfold
    // margin and eight tries, a run that judges no frame at all is a fault.
    int judged = 0;
    for (int attempt = 0; attempt < 8 && judged < 2; ++attempt) {
        ListenerRig rig(15, GetParam());
        ASSERT_TRUE(rig.Settle());
        rig.sim.PushReading();
        Event e;
        ASSERT_TRUE(rig.NextEvent(&e, 1500));
        rig.sim.SetFault(sim::Fault::SlowBytes, 2);
        const int framesBefore = rig.sim.FramesSent();
        const uint64_t pushed = platform::MonotonicMs();
        rig.sim.PushReading();
        const bool got = rig.NextEvent(&e, 1500);
        for (int spin = 0; spin < 200 && rig.sim.FramesSent() == framesBefore; ++spin) platform::SleepMs(10);
        const uint64_t took = rig.sim.LastFrameSentMs() - pushed;
        if (!got && took > 400) continue;  // the frame itself was too slow
        ++judged;
        EXPECT_TRUE(got) << "a frame sent in " << took << " ms";
        if (got) {
            EXPECT_EQ(e.data.size(), 24u);
        }
    }
    if (judged == 0) ZEL_SKIP_OR_FAIL("the machine stretched every frame beyond the budget");
}

class ListenerLine : public ::testing::TestWithParam<Line> {};

TEST_P(ListenerLine, LostLineIsRegained) {
    ListenerRig rig(15, GetParam());
    ASSERT_TRUE(rig.Settle());
    rig.sim.HangUp();
    // A scale that never hears from the driver: the listener has to notice
    // by itself that its line is gone.
    Event e;
    bool got = false;
    for (int attempt = 0; attempt < 20 && !got; ++attempt) {
        platform::SleepMs(100);
        if (!rig.sim.PeerReady()) continue;
        rig.sim.PushReading();
        got = rig.NextEvent(&e, 600);
    }
    EXPECT_TRUE(got);
}

INSTANTIATE_TEST_SUITE_P(Lines, ListenerLine, ::testing::Values(Line::Pty, Line::Tcp),
                         [](const ::testing::TestParamInfo<Line>& info) { return zeltest::LineName(info.param); });

INSTANTIATE_TEST_SUITE_P(Lines, ListenerTiming, ::testing::Values(Line::Pty, Line::Tcp),
                         [](const ::testing::TestParamInfo<Line>& info) { return zeltest::LineName(info.param); });

int Threads() { return platform::ProcessThreadCount(); }

// Threads of the process other than listeners (the host's, the simulator's)
// may come and go; listener threads must all be gone after Close.
bool WaitThreads(int atMost, unsigned timeoutMs) {
    uint64_t end = platform::MonotonicMs() + timeoutMs;
    while (Threads() > atMost) {
        if (platform::MonotonicMs() > end) return false;
        platform::SleepMs(5);
    }
    return true;
}

TEST(ListenerThreads, OpenCloseCyclesLeaveNoThread) {
    using zel::host::Value;
    ASSERT_GT(Threads(), 0);
    zel::host::Component driver;
    driver.SetParameter(u"model", Value::Int(5));
    driver.SetParameter(u"conntype", Value::Int(0));
    driver.SetParameter(u"cport", Value::Text(u"/dev/zel-no-such-port"));
    // One cycle first: the threads a process starts once, with its first
    // thread (a sanitizer's own), are not the listener's to count.
    ASSERT_TRUE(driver.Call(u"Close", {Value::Text(driver.Open())}).ret.boolean);
    platform::SleepMs(50);
    const int before = Threads();
    for (int i = 0; i < 200; ++i) {
        std::u16string id = driver.Open();
        ASSERT_EQ(driver.LastError(), 0) << i;
        if (i % 50 == 0) {
            // A joined thread can stay listed by the kernel for a moment
            // after pthread_join returns: give the last cycle's time to go.
            EXPECT_TRUE(WaitThreads(before + 1, 500)) << i;
            EXPECT_EQ(Threads(), before + 1) << i;
        }
        ASSERT_TRUE(driver.Call(u"Close", {Value::Text(id)}).ret.boolean);
    }
    EXPECT_TRUE(WaitThreads(before, 500));
    EXPECT_EQ(Threads(), before);
}

TEST(ListenerThreads, OpenCloseOnALiveLineLeavesNoThread) {
    using zel::host::Value;
    sim::Simulator scale(32);
    ASSERT_TRUE(scale.StartPty());
    scale.SetPushPeriodMs(30);
    zel::host::Component driver;
    driver.SetParameter(u"model", Value::Int(32));
    driver.SetParameter(u"conntype", Value::Int(0));
    driver.SetParameter(u"cport", Value::Text(zel::host::FromUtf8(scale.DevicePath())));
    const int before = Threads();
    for (int i = 0; i < 20; ++i) {
        std::u16string id = driver.Open();
        ASSERT_EQ(driver.LastError(), 0);
        platform::SleepMs(static_cast<unsigned>(i * 7 % 60));
        uint64_t start = platform::MonotonicMs();
        ASSERT_TRUE(driver.Call(u"Close", {Value::Text(id)}).ret.boolean);
        EXPECT_LT(platform::MonotonicMs() - start, 1000u);
    }
    EXPECT_TRUE(WaitThreads(before, 500));
}

// Prices and tares from the platform's thread while the listener publishes
// readings and acknowledges them: every command arrives intact, every
// reading arrives, nothing races (run under ThreadSanitizer too).
class ListenerConcurrency : public ::testing::TestWithParam<int> {};

TEST_P(ListenerConcurrency, CommandsWhileFramesArrive) {
    const int model = GetParam();
    ListenerRig rig(model, Line::Pty, model == 32 ? "0.001" : nullptr);
    ASSERT_TRUE(rig.Settle());
    rig.sim.SetWeight(1.0);
    // About as fast as the scale's own cycle with acknowledgements and
    // commands (a faster scale only fills the line's buffer).
    rig.sim.SetPushPeriodMs(150);
    int events = 0;
    const int commands = 4;
    for (int i = 0; i < commands; ++i) {
        EXPECT_TRUE(rig.SetPrice(1000 + i));
        if (model == 22) {
            EXPECT_TRUE(rig.Calibrate());
        }
        Event e;
        while (rig.NextEvent(&e, 0)) ++events;
        platform::SleepMs(120);
    }
    platform::SleepMs(500);
    rig.sim.SetPushPeriodMs(0);
    events += static_cast<int>(rig.Collect(300).size());
    EXPECT_GE(events, 4);
    int tares = 0, prices = 0;
    for (const sim::Record& r : rig.sim.Log()) {
        EXPECT_NE(r.kind, sim::Record::Unknown) << r.bytes.size() << " unknown bytes";
        tares += r.kind == sim::Record::Tare;
        prices += r.kind == sim::Record::Price;
    }
    // Every command arrives (a command flagged again before the listener
    // wrote it goes once, with the latest value).
    EXPECT_GE(tares, model == 22 ? 2 : 1);
    EXPECT_LE(tares, commands);
    if (model == 22) {
        EXPECT_GE(prices, 2);
        EXPECT_EQ(prices % 2, 0);  // each price goes twice
    }
    EXPECT_TRUE(rig.Close());
}

INSTANTIATE_TEST_SUITE_P(Models, ListenerConcurrency, ::testing::Values(22, 32));

}  // namespace
