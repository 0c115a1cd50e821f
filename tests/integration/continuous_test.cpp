// Scales that transmit all the time (models 18, 19, 25, 29, 33, 36, 39),
// weighed through the loaded library against the simulated scale on a
// pseudo-terminal and over TCP loopback.
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/integration/polled_support.h"

using zeltest::PolledRig;
using zeltest::Weighing;
using zeltest::Wire;

namespace {

const int kModels[] = {18, 19, 25, 29, 33, 36, 39};

bool PerCallBudget(int model) { return model == 19 || model == 25 || model == 29; }

// T7E frames carry no stable flag; ESIT Smart2 frames are always stable.
int64_t StableOf(int model, bool shown) {
    if (model == 29) return 0;
    if (model == 36) return 1;
    return shown ? 1 : 0;
}

// Waits until two whole frames went out after a change of the display, so
// the next reading cannot meet a frame made before it. A line the driver
// closed carries nothing more (the scale may not have noticed yet): the
// next connection's first frame already shows the change.
void Settle(PolledRig& rig) {
    const int sent = rig.sim.FramesSent();
    for (int spin = 0; spin < 50 && rig.sim.FramesSent() < sent + 2; ++spin) {
        if (!rig.sim.PeerReady()) return;
        platform::SleepMs(5);
    }
}

class ContinuousWeighing : public ::testing::TestWithParam<std::tuple<int, Wire>> {};

TEST_P(ContinuousWeighing, WeightsAsTheScaleShowsThem) {
    const int model = std::get<0>(GetParam());
    PolledRig rig(model, std::get<1>(GetParam()));
    ASSERT_EQ(rig.openCode, 0);
    rig.sim.SetStreamGapMs(20);
    const struct {
        double kg;
        int decimals;
        bool stable;
    } shown[] = {{1.234, 3, true}, {-0.75, 2, false}, {0.0, 3, true}, {12.345, 3, false}, {25.0, 0, true}};
    for (const auto& s : shown) {
        SCOPED_TRACE(testing::Message() << s.kg << " kg, stable " << s.stable);
        rig.sim.SetWeight(s.kg);
        rig.sim.SetDecimals(s.decimals);
        rig.sim.SetStable(s.stable);
        Settle(rig);
        Weighing w = rig.Weigh();
        EXPECT_TRUE(w.ok);
        EXPECT_EQ(w.code, 0);
        EXPECT_NEAR(w.weight, s.kg, 1e-9);
        EXPECT_EQ(w.stable, StableOf(model, s.stable));
        EXPECT_EQ(w.price, 0.0);
        EXPECT_EQ(w.cost, 0.0);
        // The next frame starts within the 20 ms gap: one attempt.
        EXPECT_LT(w.tookMs, 400u);
    }
    // Nothing is ever sent to these scales.
    EXPECT_TRUE(rig.sim.Received().empty());
}

TEST_P(ContinuousWeighing, NoiseBetweenFramesWithAndWithoutAGap) {
    const int model = std::get<0>(GetParam());
    PolledRig rig(model, std::get<1>(GetParam()), /*keepConnection=*/true);
    rig.sim.SetWeight(-3.5);
    rig.sim.SetPaceBaud(115200);
    rig.sim.SetFault(sim::Fault::Garbage, 25);
    for (int gap : {0, 30}) {
        rig.sim.SetStreamGapMs(gap);
        Settle(rig);
        for (int i = 0; i < 10; ++i) {
            SCOPED_TRACE(testing::Message() << "gap " << gap << ", call " << i);
            Weighing w = rig.Weigh();
            ASSERT_EQ(w.code, 0);
            EXPECT_EQ(w.weight, -3.5);
            EXPECT_LT(w.tookMs, 400u);
        }
    }
}

std::string Name(const testing::TestParamInfo<std::tuple<int, Wire>>& info) {
    return "model" + std::to_string(std::get<0>(info.param)) + "_" + zeltest::WireName(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(Models, ContinuousWeighing,
                         ::testing::Combine(::testing::ValuesIn(kModels), ::testing::Values(Wire::Pty, Wire::Tcp)),
                         Name);

TEST(ContinuousStreams, FramesBackToBackAreReadRightEveryTime) {
    // Each call drains the line and so joins the stream at whatever byte is
    // next: inside a frame, at a byte with a header's value (the CR that ends
    // a CR-headed frame, an OCS check byte of 7F), between frames. Every
    // call must still read the frame the scale sends.
    // About 2-3 s per model, with either sanitizer too.
    const int calls = 1000;
    const struct {
        int model;
        double kg;
        bool stable;
    } cases[] = {{18, 2.069, true},  // its check byte is 7F
                 {19, -12.345, true}, {25, 123.45, false}, {29, -1.234, false},
                 {33, 0.505, true},   {36, -99.999, true}, {39, -7.5, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << c.model);
        PolledRig rig(c.model, Wire::Pty, /*keepConnection=*/true);
        ASSERT_EQ(rig.openCode, 0);
        rig.sim.SetWeight(c.kg);
        rig.sim.SetStable(c.stable);
        rig.sim.SetStreamGapMs(0);
        rig.sim.SetPaceBaud(115200);
        Settle(rig);
        int wrong = 0;
        uint64_t slowest = 0;
        const uint64_t start = platform::MonotonicMs();
        for (int i = 0; i < calls; ++i) {
            Weighing w = rig.Weigh();
            if (w.code != 0 || w.weight != c.kg || w.stable != StableOf(c.model, c.stable)) {
                if (++wrong <= 3) ADD_FAILURE() << "call " << i << ": code " << w.code << ", " << w.weight << " kg";
            }
            if (w.tookMs > slowest) slowest = w.tookMs;
        }
        EXPECT_EQ(wrong, 0);
        // A frame lasts about 2 ms at this speed: no call should wait for
        // a 50 ms polling step, let alone another attempt (a busy machine
        // may stall one call now and then; only a gross figure is held).
        EXPECT_LT(slowest, 1000u);
        std::printf("model %d: %d calls in %llu ms, slowest %llu ms\n", c.model, calls,
                    static_cast<unsigned long long>(platform::MonotonicMs() - start),
                    static_cast<unsigned long long>(slowest));
    }
}

TEST(ContinuousStreams, BrokenFramesAreRefused) {
    // T7E has no check: any eight bytes after '=' are a frame.
    const struct {
        int model;
        Wire wire;
    } cases[] = {{18, Wire::Tcp}, {19, Wire::Pty}, {25, Wire::Tcp}, {33, Wire::Pty}, {36, Wire::Tcp}, {39, Wire::Pty}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << c.model << " " << zeltest::WireName(c.wire));
        PolledRig rig(c.model, c.wire);
        rig.sim.SetWeight(2.0);
        rig.sim.SetStreamGapMs(20);
        rig.sim.SetFault(sim::Fault::BrokenFrame);
        Weighing w = rig.Weigh();
        EXPECT_FALSE(w.ok);
        EXPECT_EQ(w.code, 3);
        EXPECT_EQ(w.weight, 0.0);
        // The budget goes on waiting between frames and on the bytes of
        // refused frames: all of it in one attempt (per call) or in each of
        // three (per attempt).
        EXPECT_LE(w.tookMs, (PerCallBudget(c.model) ? 500u : 1500u) + 1500u);
        rig.sim.SetFault(sim::Fault::None);
        Settle(rig);
        w = rig.Weigh();
        EXPECT_EQ(w.code, 0);
        EXPECT_EQ(w.weight, 2.0);
    }
}

TEST(ContinuousStreams, OverloadMarkGivesSevenNotAWeight) {
    // "OL" in the status (and, on the ВИС, in the weight field) read as the
    // weight field's number or as 0 kg with result 0.
    for (int model : {19, 39}) {
        SCOPED_TRACE(testing::Message() << "model " << model);
        PolledRig rig(model, Wire::Pty, /*keepConnection=*/true);
        ASSERT_EQ(rig.openCode, 0);
        rig.sim.SetWeight(3.0);
        rig.sim.SetStreamGapMs(20);
        rig.sim.SetOverload(true);
        Settle(rig);
        Weighing w = rig.Weigh();
        EXPECT_FALSE(w.ok);
        EXPECT_EQ(w.code, 7);
        EXPECT_EQ(w.weight, 0.0);
        EXPECT_EQ(w.stable, 0);
        rig.sim.SetOverload(false);
        Settle(rig);
        w = rig.Weigh();
        EXPECT_EQ(w.code, 0);
        EXPECT_EQ(w.weight, 3.0);
    }
}

TEST(ContinuousStreams, SilentScaleGivesThreeWithinTheBudget) {
    // Per call: the 500 ms budget spans the three attempts; per attempt:
    // 3 x 500 ms.
    const struct {
        int model;
        Wire wire;
    } cases[] = {{25, Wire::Pty}, {29, Wire::Tcp}, {18, Wire::Tcp}, {36, Wire::Pty}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << c.model);
        PolledRig rig(c.model, c.wire);
        rig.sim.SetFault(sim::Fault::Silence);
        const uint64_t budget = PerCallBudget(c.model) ? 500 : 1500;
        Weighing w = rig.Weigh();
        EXPECT_EQ(w.code, 3);
        EXPECT_EQ(w.weight, 0.0);
        EXPECT_EQ(w.stable, 0);
        EXPECT_GE(w.tookMs, budget - 20);
        EXPECT_LE(w.tookMs, budget + 1500);
    }
}

}  // namespace
