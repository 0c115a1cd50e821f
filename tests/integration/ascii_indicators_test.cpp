// Models 35, 23, 26, 16 and 11 weighed through the loaded library against
// the simulated indicators, on a pseudo-terminal and over TCP loopback.
#include <cmath>
#include <string>

#include "tests/integration/polled_support.h"

using zeltest::PolledRig;
using zeltest::Weighing;
using zeltest::Wire;

namespace {

struct Expected {
    double weight;
    int64_t stable;
};

// Radwag and KELI report kilograms as shown; DIGI, HBM and R320 the
// display's digits, grams at three decimals. HBM and R320 report no
// stability, KELI always reports stable.
Expected Expect(int model, double kg, bool stable) {
    const double grams = std::round(kg * 1000);
    switch (model) {
        case 35: return {kg, stable ? 1 : 0};
        case 23: return {grams, stable ? 1 : 0};
        case 16: return {kg, 1};
        default: return {grams, 0};  // 26, 11
    }
}

int Attempts(int model) { return model == 35 || model == 11 ? 3 : 2; }

using Param = std::tuple<int, Wire>;
class AsciiIndicators : public ::testing::TestWithParam<Param> {};

TEST_P(AsciiIndicators, WeightsAsTheScaleShowsThem) {
    const int model = std::get<0>(GetParam());
    PolledRig rig(model, std::get<1>(GetParam()));
    ASSERT_EQ(rig.openCode, 0);
    const struct {
        double kg;
        bool stable;
    } shown[] = {{1.234, true}, {0.5, false}, {-0.75, true}, {0.0, true}, {12.345, false}};
    for (const auto& s : shown) {
        SCOPED_TRACE(testing::Message() << s.kg << " kg, stable " << s.stable);
        rig.sim.SetWeight(s.kg);
        rig.sim.SetStable(s.stable);
        rig.sim.SetPrice(10.0);
        Weighing w = rig.Weigh();
        const Expected e = Expect(model, s.kg, s.stable);
        EXPECT_TRUE(w.ok);
        EXPECT_EQ(w.code, 0);
        EXPECT_NEAR(w.weight, e.weight, 1e-9);
        EXPECT_EQ(w.stable, e.stable);
        EXPECT_EQ(w.price, 0.0);
        EXPECT_EQ(w.cost, 0.0);
        // Taken at its terminator: a reply that had to wait out its budget
        // would take 500 ms or more.
        EXPECT_LT(w.tookMs, 450u);
    }
    EXPECT_EQ(rig.sim.RequestsSeen(), 5);
}

TEST_P(AsciiIndicators, BrokenRepliesAreRefusedOnEveryAttempt) {
    const int model = std::get<0>(GetParam());
    PolledRig rig(model, std::get<1>(GetParam()));
    rig.sim.SetWeight(2.0);
    rig.sim.SetFault(sim::Fault::BrokenFrame);
    Weighing w = rig.Weigh();
    EXPECT_FALSE(w.ok);
    EXPECT_EQ(w.code, 3);
    EXPECT_EQ(w.weight, 0.0);
    EXPECT_EQ(rig.sim.RequestsSeen(), Attempts(model));
    EXPECT_LE(w.tookMs, Attempts(model) * 500u + 1500u);
    rig.sim.SetFault(sim::Fault::None);
    w = rig.Weigh();
    EXPECT_EQ(w.code, 0);
    EXPECT_NEAR(w.weight, Expect(model, 2.0, true).weight, 1e-9);
}

TEST_P(AsciiIndicators, TareOnTheWire) {
    const int model = std::get<0>(GetParam());
    struct Tare {
        std::string bytes;
        uint64_t pauseMs;
    };
    const bool takesTare = model == 35 || model == 26;
    const Tare tare = model == 35 ? Tare{"I\r\n", 600} : Tare{"S1;TAR;", 150};
    PolledRig rig(model, std::get<1>(GetParam()));
    rig.sim.SetWeight(1.5);
    const uint64_t start = platform::MonotonicMs();
    auto r = rig.component->Call(u"Calibrate", {zel::host::Value::Text(rig.id), zel::host::Value::Double(0.0)});
    const uint64_t took = platform::MonotonicMs() - start;
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.ret.boolean, takesTare);
    EXPECT_EQ(rig.component->LastError(), takesTare ? 0 : 5);
    if (!takesTare) {
        platform::SleepMs(100);
        EXPECT_TRUE(rig.sim.Received().empty());
        return;
    }
    ASSERT_TRUE(rig.sim.WaitReceived(1, 2000));
    const auto log = rig.sim.Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0].kind, sim::Record::Tare);
    EXPECT_EQ(log[0].bytes, tare.bytes);
    EXPECT_GE(took, tare.pauseMs - 5);
    EXPECT_LT(took, tare.pauseMs + 1500);
    // The scale's answer to the tare is dropped, never taken for a reply;
    // the pan now reads zero.
    Weighing w = rig.Weigh();
    EXPECT_EQ(w.code, 0);
    EXPECT_EQ(w.weight, 0.0);
    EXPECT_EQ(rig.sim.RequestsSeen(), 1);
}

std::string Name(const testing::TestParamInfo<Param>& info) {
    return "model" + std::to_string(std::get<0>(info.param)) + "_" + zeltest::WireName(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(Models, AsciiIndicators,
                         ::testing::Combine(::testing::Values(35, 23, 26, 16, 11), ::testing::Values(Wire::Pty, Wire::Tcp)),
                         Name);

TEST(AsciiIndicatorFaults, SilentScaleGivesThreeWithinItsAttempts) {
    // Each model on one wire: a silent line costs whole budgets, and both
    // wires wait alike.
    struct Case {
        int model;
        Wire wire;
    };
    for (Case c : {Case{35, Wire::Pty}, Case{23, Wire::Tcp}, Case{26, Wire::Pty}, Case{16, Wire::Tcp},
                   Case{11, Wire::Tcp}}) {
        SCOPED_TRACE(testing::Message() << c.model << " " << zeltest::WireName(c.wire));
        PolledRig rig(c.model, c.wire);
        rig.sim.SetFault(sim::Fault::Silence);
        Weighing w = rig.Weigh();
        EXPECT_EQ(w.code, 3);
        const uint64_t budgets = Attempts(c.model) * 500u;
        EXPECT_GE(w.tookMs, budgets - 20);
        EXPECT_LE(w.tookMs, budgets + 1500);
        EXPECT_EQ(rig.sim.RequestsSeen(), Attempts(c.model));
    }
}

TEST(AsciiIndicatorFaults, RadwagSkipsStrayBytesAtFiftyMillisecondsEach) {
    for (Wire wire : {Wire::Pty, Wire::Tcp}) {
        SCOPED_TRACE(zeltest::WireName(wire));
        PolledRig rig(35, wire);
        rig.sim.SetWeight(3.0);
        rig.sim.SetFault(sim::Fault::Garbage, 5);
        Weighing w = rig.Weigh();
        EXPECT_EQ(w.code, 0);
        EXPECT_EQ(w.weight, 3.0);
        EXPECT_GE(w.tookMs, 5 * 50u - 10u);
        EXPECT_LT(w.tookMs, 1000u);
        EXPECT_EQ(rig.sim.RequestsSeen(), 1);
    }
}

TEST(AsciiIndicatorFaults, R320WithoutANumberAnswersThreeAfterOneRequest) {
    PolledRig rig(11, Wire::Tcp);
    rig.sim.SetWeight(1.0);
    rig.sim.SetOverload(true);  // the indicator shows letters
    Weighing w = rig.Weigh();
    EXPECT_EQ(w.code, 3);
    EXPECT_EQ(w.weight, 0.0);
    EXPECT_LT(w.tookMs, 450u);
    platform::SleepMs(50);
    EXPECT_EQ(rig.sim.RequestsSeen(), 1);
}

TEST(AsciiIndicatorFaults, RangeMarksGiveOverloadAfterOneRequest) {
    // Radwag's '^', DIGI's out-of-range bit with dashes: once no answer (3
    // after every attempt) or a weight.
    for (int model : {35, 23}) {
        SCOPED_TRACE(model);
        PolledRig rig(model, Wire::Tcp);
        rig.sim.SetWeight(5.0);
        rig.sim.SetOverload(true);
        Weighing w = rig.Weigh();
        EXPECT_FALSE(w.ok);
        EXPECT_EQ(w.code, 7);
        EXPECT_EQ(w.weight, 0.0);
        EXPECT_EQ(w.stable, 0);
        EXPECT_EQ(rig.sim.RequestsSeen(), 1);
        rig.sim.SetOverload(false);
        w = rig.Weigh();
        EXPECT_EQ(w.code, 0);
        EXPECT_NEAR(w.weight, Expect(model, 5.0, true).weight, 1e-9);
    }
}

TEST(AsciiIndicatorFaults, SlowBytesStillEndAtTheTerminator) {
    // A reply a byte every 5 ms, as from a slow line, is taken whole and at
    // once; at 60 ms a byte the budget runs out long before the end.
    struct Case {
        int model;
        int gapMs;
        int32_t code;
    };
    for (Case c : {Case{26, 5, 0}, Case{16, 5, 0}, Case{23, 60, 3}}) {
        SCOPED_TRACE(testing::Message() << c.model << ", " << c.gapMs << " ms per byte");
        PolledRig rig(c.model, Wire::Tcp);
        rig.sim.SetWeight(1.0);
        rig.sim.SetFault(sim::Fault::SlowBytes, c.gapMs);
        Weighing w = rig.Weigh();
        EXPECT_EQ(w.code, c.code);
        if (c.code == 0) {
            EXPECT_EQ(w.weight, c.model == 16 ? 1.0 : 1000.0);
            EXPECT_EQ(rig.sim.RequestsSeen(), 1);
        }
    }
}

}  // namespace
