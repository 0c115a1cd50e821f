// Command-and-reply indicators (models 2, 3, 4, 9, 24, 37) weighed, tared
// and commanded through the loaded library against the simulated scale, on a
// pseudo-terminal and over TCP loopback.
#include <cmath>
#include <string>
#include <vector>

#include "platform/serial.h"
#include "tests/integration/polled_support.h"

using zeltest::PolledRig;
using zeltest::Weighing;
using zeltest::Wire;
using zel::host::Value;

namespace {

const int kModels[] = {2, 3, 4, 9, 24, 37};

bool InGrams(int model) { return model == 2 || model == 4 || model == 9; }

int Attempts(int model) { return model == 9 ? 2 : 3; }

// The weight a model reports for what its scale shows.
double Expected(int model, double kg) { return InGrams(model) ? std::round(kg * 1000) : kg; }

// Model 4 reports the scale's stable flag; the Axis and the IQ plus always
// report stable, the others never.
int64_t ExpectedStable(int model, bool stable) {
    if (model == 4) return stable ? 1 : 0;
    return model == 9 || model == 24 ? 1 : 0;
}

std::vector<sim::Record> RecordsOf(const sim::Simulator& s, sim::Record::Kind kind) {
    std::vector<sim::Record> out;
    for (const sim::Record& r : s.Log()) {
        if (r.kind == kind) out.push_back(r);
    }
    return out;
}

struct Timed {
    int32_t code;
    uint64_t tookMs;
};

Timed Call(PolledRig& rig, const char16_t* method, Value argument) {
    const uint64_t start = platform::MonotonicMs();
    auto r = rig.component->Call(method, {Value::Text(rig.id), argument});
    Timed t{rig.component->LastError(), platform::MonotonicMs() - start};
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.ret.boolean, t.code == 0);
    return t;
}

class IndicatorWeighing : public ::testing::TestWithParam<std::tuple<int, Wire>> {};

TEST_P(IndicatorWeighing, WeightsAsTheScaleShowsThem) {
    const int model = std::get<0>(GetParam());
    PolledRig rig(model, std::get<1>(GetParam()));
    ASSERT_EQ(rig.openCode, 0);
    const struct {
        double kg;
        bool stable;
        int decimals;
    } shown[] = {{1.234, true, 3}, {0.5, false, 3}, {-0.75, true, 3}, {0.0, true, 3}, {12.345, false, 3},
                 {32.3, true, 1}, {-2.5, false, 2}};
    for (const auto& s : shown) {
        SCOPED_TRACE(testing::Message() << s.kg << " kg, stable " << s.stable << ", " << s.decimals << " decimals");
        rig.sim.SetWeight(s.kg);
        rig.sim.SetStable(s.stable);
        rig.sim.SetDecimals(s.decimals);
        rig.sim.SetPrice(12.5);  // no indicator reports one
        Weighing w = rig.Weigh();
        EXPECT_TRUE(w.ok);
        EXPECT_EQ(w.code, 0);
        EXPECT_NEAR(w.weight, Expected(model, s.kg), 1e-9);
        EXPECT_EQ(w.price, 0.0);
        EXPECT_EQ(w.cost, 0.0);
        EXPECT_EQ(w.stable, ExpectedStable(model, s.stable));
    }
    // One request per call: every first reply was taken.
    EXPECT_EQ(rig.sim.RequestsSeen(), 7);
}

TEST_P(IndicatorWeighing, BrokenFramesAreRefused) {
    const int model = std::get<0>(GetParam());
    PolledRig rig(model, std::get<1>(GetParam()));
    rig.sim.SetWeight(2.0);
    rig.sim.SetStable(true);
    rig.sim.SetFault(sim::Fault::BrokenFrame);
    Weighing w = rig.Weigh();
    EXPECT_FALSE(w.ok);
    EXPECT_EQ(w.code, 3);
    EXPECT_EQ(w.weight, 0.0);
    // Model 4 takes its stable flag from every complete frame, refused or not.
    EXPECT_EQ(w.stable, model == 4 ? 1 : 0);
    EXPECT_EQ(rig.sim.RequestsSeen(), Attempts(model));
    // The scale mends; the next call weighs.
    rig.sim.SetFault(sim::Fault::None);
    w = rig.Weigh();
    EXPECT_EQ(w.code, 0);
    EXPECT_EQ(w.weight, Expected(model, 2.0));
}

TEST_P(IndicatorWeighing, TareGoesOnTheWireThenAPause) {
    const int model = std::get<0>(GetParam());
    PolledRig rig(model, std::get<1>(GetParam()));
    rig.sim.SetWeight(1.5);
    Timed t = Call(rig, u"Calibrate", Value::Double(0.0));
    EXPECT_EQ(t.code, 0);
    EXPECT_GE(t.tookMs, 149u);   // the pause after the command
    EXPECT_LT(t.tookMs, 1500u);  // and nothing waited for beyond it
    ASSERT_TRUE(rig.sim.WaitReceived(1, 2000));
    const std::vector<sim::Record> tares = RecordsOf(rig.sim, sim::Record::Tare);
    ASSERT_EQ(tares.size(), 1u);
    EXPECT_TRUE(RecordsOf(rig.sim, sim::Record::Unknown).empty());
    // The scale took the load as its tare.
    EXPECT_DOUBLE_EQ(rig.sim.Tare(), 1.5);
    Weighing w = rig.Weigh();
    EXPECT_EQ(w.code, 0);
    EXPECT_EQ(w.weight, 0.0);
}

std::string Name(const testing::TestParamInfo<std::tuple<int, Wire>>& info) {
    return "model" + std::to_string(std::get<0>(info.param)) + "_" + zeltest::WireName(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(Models, IndicatorWeighing,
                         ::testing::Combine(::testing::ValuesIn(kModels), ::testing::Values(Wire::Pty, Wire::Tcp)),
                         Name);

TEST(IndicatorFaults, SilentScaleGivesThreeWithinItsAttempts) {
    // Each attempt waits out its 500 ms; the wires alternate.
    for (size_t i = 0; i < sizeof(kModels) / sizeof(kModels[0]); ++i) {
        const int model = kModels[i];
        SCOPED_TRACE(model);
        PolledRig rig(model, i % 2 ? Wire::Tcp : Wire::Pty);
        rig.sim.SetFault(sim::Fault::Silence);
        Weighing w = rig.Weigh();
        const uint64_t budget = static_cast<uint64_t>(Attempts(model)) * 500;
        EXPECT_EQ(w.code, 3);
        EXPECT_EQ(w.weight, 0.0);
        EXPECT_GE(w.tookMs, budget - 20);
        EXPECT_LE(w.tookMs, budget + 1500);
        EXPECT_EQ(rig.sim.RequestsSeen(), Attempts(model));
    }
}

TEST(IndicatorFaults, GarbageBeforeTheFrameIsSkipped) {
    // Five wrong bytes before the header cost a 50 ms pause each, within the
    // first attempt's budget. Model 37's frames have no header.
    for (int model : {2, 3, 4, 9, 24}) {
        SCOPED_TRACE(model);
        PolledRig rig(model, Wire::Pty);
        rig.sim.SetWeight(3.0);
        rig.sim.SetFault(sim::Fault::Garbage, 5);
        Weighing w = rig.Weigh();
        EXPECT_EQ(w.code, 0);
        EXPECT_EQ(w.weight, Expected(model, 3.0));
        EXPECT_GE(w.tookMs, 5 * 50u - 10u);
        EXPECT_EQ(rig.sim.RequestsSeen(), 1);
    }
}

TEST(IndicatorFaults, TbeBlankDisplayEndsTheCall) {
    for (Wire wire : {Wire::Pty, Wire::Tcp}) {
        SCOPED_TRACE(zeltest::WireName(wire));
        PolledRig rig(2, wire);
        rig.sim.SetWeight(7.0);
        rig.sim.SetOverload(true);  // the display goes blank
        Weighing w = rig.Weigh();
        EXPECT_EQ(w.code, 3);
        EXPECT_EQ(w.weight, 0.0);
        EXPECT_EQ(rig.sim.RequestsSeen(), 1);  // not asked again
        EXPECT_LT(w.tookMs, 500u);             // no budget spent waiting
        rig.sim.SetOverload(false);
        EXPECT_EQ(rig.Weigh().weight, 7000.0);
    }
}

TEST(IndicatorFaults, Tb1StateLetters) {
    PolledRig rig(3, Wire::Tcp);
    rig.sim.SetWeight(0.5);
    rig.sim.SetNegative(true);  // 'N' with the magnitude
    Weighing w = rig.Weigh();
    EXPECT_EQ(w.code, 0);
    EXPECT_EQ(w.weight, -0.5);
    rig.sim.SetNegative(false);
    rig.sim.SetOverload(true);  // 'E': the weight, and the call fails with 1099
    w = rig.Weigh();
    EXPECT_FALSE(w.ok);
    EXPECT_EQ(w.code, 1099);
    EXPECT_EQ(w.weight, 0.5);
    EXPECT_EQ(rig.sim.RequestsSeen(), 2);
    auto text = rig.component->Call(u"GetLastError", {Value()});
    ASSERT_EQ(text.params.size(), 1u);
    EXPECT_EQ(text.params[0].text, u"UnknownError");
}

TEST(IndicatorFaults, VnOldBadDigitsCloseTheLineAndTheNextCallOpensIt) {
    // Even a device that keeps its line loses it to a frame with digits
    // that are none; the next call connects again and reads.
    for (Wire wire : {Wire::Pty, Wire::Tcp}) {
        SCOPED_TRACE(zeltest::WireName(wire));
        PolledRig rig(4, wire, /*keepConnection=*/true);
        rig.sim.SetWeight(1.25);
        ASSERT_EQ(rig.Weigh().code, 0);
        const int connections = rig.sim.Connections();
        rig.sim.SetOverload(true);  // digits EE EE EE
        Weighing w = rig.Weigh();
        EXPECT_EQ(w.code, 3);
        EXPECT_EQ(w.weight, 0.0);
        EXPECT_EQ(w.stable, 1);  // from the frame's status
        EXPECT_EQ(rig.sim.RequestsSeen(), 2);
        EXPECT_LT(w.tookMs, 500u);
        if (wire == Wire::Pty) {
            // The port is free: another program can open it.
            EXPECT_FALSE(rig.sim.PeerReady());
            platform::SerialLine other;
            EXPECT_TRUE(other.Open(rig.sim.DevicePath().c_str()));
            other.Close();
        }
        rig.sim.SetOverload(false);
        w = rig.Weigh();
        EXPECT_EQ(w.code, 0);
        EXPECT_EQ(w.weight, 1250.0);
        EXPECT_EQ(rig.sim.RequestsSeen(), 3);
        if (wire == Wire::Tcp) {
            EXPECT_EQ(rig.sim.Connections(), connections + 1);
        }
    }
}

TEST(IndicatorCommands, IqPlusPriceSelectsACommand) {
    for (Wire wire : {Wire::Pty, Wire::Tcp}) {
        SCOPED_TRACE(zeltest::WireName(wire));
        PolledRig rig(24, wire);
        const struct {
            int32_t value;
            const char* bytes;
        } cases[] = {{12345, "STREAM=OFF\r\n"}, {1, "EX\r\n"}, {2, "SX\r\n"}};
        for (const auto& c : cases) {
            SCOPED_TRACE(c.value);
            rig.sim.ClearReceived();
            Timed t = Call(rig, u"SetPrice", Value::Int(c.value));
            EXPECT_EQ(t.code, 0);
            EXPECT_GE(t.tookMs, 149u);
            EXPECT_LT(t.tookMs, 1500u);
            ASSERT_TRUE(rig.sim.WaitReceived(1, 2000));
            const std::vector<sim::Record> got = RecordsOf(rig.sim, sim::Record::Command);
            ASSERT_EQ(got.size(), 1u);
            EXPECT_EQ(got[0].bytes, c.bytes);
        }
        // The scale still weighs after them.
        rig.sim.SetWeight(4.5);
        EXPECT_EQ(rig.Weigh().weight, 4.5);
    }
}

TEST(IndicatorCommands, IqPlusUnknownPriceLeavesTheLineFree) {
    // 5 and nothing written; with the line not kept, the port is closed
    // after the call, so another program can open it.
    PolledRig rig(24, Wire::Pty, /*keepConnection=*/false);
    ASSERT_EQ(rig.openCode, 0);
    rig.sim.SetWeight(1.0);
    for (int32_t value : {7, 0, 100}) {
        SCOPED_TRACE(value);
        Timed t = Call(rig, u"SetPrice", Value::Int(value));
        EXPECT_EQ(t.code, 5);
        EXPECT_FALSE(rig.sim.PeerReady());
        platform::SerialLine other;
        EXPECT_TRUE(other.Open(rig.sim.DevicePath().c_str()));
        other.Close();
    }
    EXPECT_TRUE(rig.sim.Received().empty());
    // The driver itself weighs on.
    Weighing w = rig.Weigh();
    EXPECT_EQ(w.code, 0);
    EXPECT_EQ(w.weight, 1.0);
}

}  // namespace
