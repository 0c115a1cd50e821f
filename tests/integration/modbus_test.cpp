// Models 40 (KELI D12) and 41 (BST106) weighed through the loaded library
// against the simulated indicators, on a pseudo-terminal and over TCP.
#include <cmath>
#include <string>
#include <vector>

#include "tests/integration/polled_support.h"

using zeltest::PolledRig;
using zeltest::Weighing;
using zeltest::Wire;

namespace {

struct Shown {
    double kg;
    int decimals;
    bool stable;
};

// The D12 reports kilograms with the decimals it shows (at most 4), never
// stable; the BST106 its count (grams for three decimals), with the stable
// bit.
double ExpectedWeight(int model, const Shown& s) {
    if (model == 40) {
        const double scale = std::pow(10.0, std::min(s.decimals, 4));
        return std::round(s.kg * scale) / scale;
    }
    return std::round(s.kg * std::pow(10.0, std::min(s.decimals, 3)));
}

int64_t ExpectedStable(int model, const Shown& s) { return model == 41 && s.stable ? 1 : 0; }

// Attempts x budget of a request nobody answers.
uint64_t SilentMs(int model) { return model == 41 ? 3 * 300 : 3 * 500; }

std::string Bytes(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s.push_back(static_cast<char>(b));
    return s;
}

class ModbusWeighing : public ::testing::TestWithParam<std::tuple<int, Wire>> {
protected:
    int Model() const { return std::get<0>(GetParam()); }
    Wire WireKind() const { return std::get<1>(GetParam()); }
};

TEST_P(ModbusWeighing, WeightsAsTheIndicatorShowsThem) {
    const int model = Model();
    PolledRig rig(model, WireKind());
    ASSERT_EQ(rig.openCode, 0);
    const Shown shown[] = {
        {1.234, 3, true}, {-0.75, 3, true}, {0.5, 3, false}, {0.0, 3, true},
        {12.5, 1, true},  {250, 0, false},  {-3.25, 2, true}, {0.1234, 4, true},
    };
    for (const Shown& s : shown) {
        SCOPED_TRACE(testing::Message() << s.kg << " kg, " << s.decimals << " decimals, stable " << s.stable);
        rig.sim.SetWeight(s.kg);
        rig.sim.SetDecimals(s.decimals);
        rig.sim.SetStable(s.stable);
        Weighing w = rig.Weigh();
        EXPECT_TRUE(w.ok);
        EXPECT_EQ(w.code, 0);
        EXPECT_NEAR(w.weight, ExpectedWeight(model, s), 1e-9);
        EXPECT_EQ(w.price, 0.0);
        EXPECT_EQ(w.cost, 0.0);
        EXPECT_EQ(w.stable, ExpectedStable(model, s));
    }
    // One request per weighing: every reply was taken at the first attempt.
    EXPECT_EQ(rig.sim.RequestsSeen(), 8);
}

TEST_P(ModbusWeighing, BrokenRepliesAreRefused) {
    // The BST106 reply with another byte count, the D12 reply with the
    // exception function 83.
    PolledRig rig(Model(), WireKind());
    rig.sim.SetWeight(2.0);
    rig.sim.SetFault(sim::Fault::BrokenFrame);
    Weighing w = rig.Weigh();
    EXPECT_FALSE(w.ok);
    EXPECT_EQ(w.code, 3);
    EXPECT_EQ(w.weight, 0.0);
    EXPECT_EQ(rig.sim.RequestsSeen(), 3);
    rig.sim.SetFault(sim::Fault::None);
    w = rig.Weigh();
    EXPECT_EQ(w.code, 0);
    EXPECT_NEAR(w.weight, ExpectedWeight(Model(), {2.0, 3, true}), 1e-9);
}

TEST_P(ModbusWeighing, SilentIndicatorGivesThreeWithinTheBudgets) {
    PolledRig rig(Model(), WireKind());
    rig.sim.SetFault(sim::Fault::Silence);
    Weighing w = rig.Weigh();
    EXPECT_EQ(w.code, 3);
    EXPECT_EQ(w.stable, 0);
    EXPECT_GE(w.tookMs, SilentMs(Model()) - 20);
    EXPECT_LE(w.tookMs, SilentMs(Model()) + 1500);
    EXPECT_EQ(rig.sim.RequestsSeen(), 3);
}

TEST_P(ModbusWeighing, TareWritesItsRegisterAndTheEchoIsDrained) {
    // The BST106 tares with register 7; the D12 has only a zero (register
    // 1), which its tare sends. The slave answers the write with the same
    // bytes, which confirm it. Both with the line kept open and released
    // between calls.
    const int model = Model();
    const std::string command = model == 41 ? Bytes({0x01, 0x06, 0x00, 0x07, 0xA5, 0x0B, 0x02, 0x9C})
                                            : Bytes({0x01, 0x06, 0x00, 0x01, 0x00, 0x17, 0x98, 0x04});
    const sim::Record::Kind kind = model == 41 ? sim::Record::Tare : sim::Record::Zero;
    for (bool keep : {true, false}) {
        SCOPED_TRACE(keep ? "kept" : "released");
        PolledRig rig(model, WireKind(), keep);
        ASSERT_EQ(rig.openCode, 0);
        rig.sim.SetWeight(1.5);
        ASSERT_EQ(rig.Weigh().code, 0);
        rig.sim.ClearReceived();

        const uint64_t start = platform::MonotonicMs();
        auto r = rig.component->Call(u"Calibrate", {zel::host::Value::Text(rig.id), zel::host::Value::Double(0.0)});
        const uint64_t took = platform::MonotonicMs() - start;
        EXPECT_TRUE(r.ok && r.ret.boolean);
        EXPECT_EQ(rig.component->LastError(), 0);
        EXPECT_GE(took, 150u - 5);  // the pause after the write
        EXPECT_LT(took, 1500u);
        ASSERT_TRUE(rig.sim.WaitReceived(1, 1000));
        std::vector<sim::Record> log = rig.sim.Log();
        std::vector<sim::Record> seen;
        bool echoed = false;
        for (const sim::Record& rec : log) {
            if (rec.kind == sim::Record::Sent && rec.bytes == command) echoed = true;
            if (rec.kind != sim::Record::Sent) seen.push_back(rec);
        }
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].kind, kind);
        EXPECT_EQ(seen[0].bytes, command);
        EXPECT_TRUE(echoed);
        EXPECT_TRUE(rig.sim.Zeroed());

        // The next weighing reads the tared indicator (its first request
        // answered, unless a loaded machine made the reply late).
        Weighing w = rig.Weigh();
        EXPECT_EQ(w.code, 0);
        EXPECT_EQ(w.weight, 0.0);
        EXPECT_GE(rig.sim.RequestsSeen(), 2);
    }
}

TEST_P(ModbusWeighing, UnansweredTareGivesThree) {
    // An indicator that takes the write but never answers it: the write is
    // not confirmed, after the pause and the read budget.
    const int model = Model();
    PolledRig rig(model, WireKind());
    ASSERT_EQ(rig.openCode, 0);
    rig.sim.SetFault(sim::Fault::Silence);
    const uint64_t start = platform::MonotonicMs();
    auto r = rig.component->Call(u"Calibrate", {zel::host::Value::Text(rig.id), zel::host::Value::Double(0.0)});
    const uint64_t took = platform::MonotonicMs() - start;
    EXPECT_FALSE(r.ok && r.ret.boolean);
    EXPECT_EQ(rig.component->LastError(), 3);
    const uint64_t budget = model == 41 ? 300 : 500;
    EXPECT_GE(took, 150 + budget - 20);
    EXPECT_LT(took, 150 + budget + 1000);
    ASSERT_TRUE(rig.sim.WaitReceived(1, 1000));
    rig.sim.SetFault(sim::Fault::None);
    r = rig.component->Call(u"Calibrate", {zel::host::Value::Text(rig.id), zel::host::Value::Double(0.0)});
    EXPECT_TRUE(r.ok && r.ret.boolean);
    EXPECT_EQ(rig.component->LastError(), 0);
}

std::string Name(const testing::TestParamInfo<std::tuple<int, Wire>>& info) {
    return "model" + std::to_string(std::get<0>(info.param)) + "_" + zeltest::WireName(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(Models, ModbusWeighing,
                         ::testing::Combine(::testing::Values(40, 41), ::testing::Values(Wire::Pty, Wire::Tcp)), Name);

TEST(ModbusFaults, NoiseBeforeTheReply) {
    // The D12 skips bytes before the slave address, 50 ms each; the BST106
    // takes the first 11 bytes as they come, so a reply behind noise is
    // refused at every attempt.
    struct Case {
        int model;
        int32_t code;
        int requests;
    };
    for (Case c : {Case{40, 0, 1}, Case{41, 3, 3}}) {
        SCOPED_TRACE(c.model);
        PolledRig rig(c.model, Wire::Tcp);
        rig.sim.SetWeight(3.0);
        rig.sim.SetFault(sim::Fault::Garbage, 5);
        Weighing w = rig.Weigh();
        EXPECT_EQ(w.code, c.code);
        EXPECT_EQ(rig.sim.RequestsSeen(), c.requests);
        if (c.code == 0) {
            EXPECT_EQ(w.weight, 3.0);
            EXPECT_GE(w.tookMs, 5 * 50u - 10u);
            EXPECT_LT(w.tookMs, 1000u);  // a second attempt would pass 1000
        }
    }
}

TEST(ModbusFaults, PriceIsRefusedWithoutTouchingTheLine) {
    for (int model : {40, 41}) {
        SCOPED_TRACE(model);
        PolledRig rig(model, Wire::Pty);
        auto r = rig.component->Call(u"SetPrice", {zel::host::Value::Text(rig.id), zel::host::Value::Int(1250)});
        EXPECT_FALSE(r.ok && r.ret.boolean);
        EXPECT_EQ(rig.component->LastError(), 5);
        platform::SleepMs(100);
        EXPECT_TRUE(rig.sim.Received().empty());
    }
}

}  // namespace
