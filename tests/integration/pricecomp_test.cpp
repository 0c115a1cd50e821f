// Price-computing scales with digit-field replies (17, 21, 28, 30) through
// the loaded library against the simulated scale, on a pseudo-terminal and
// over TCP loopback: readings, price and tare on the wire with their pauses,
// silence, short replies, and a scale that answers the first request only.
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/integration/polled_support.h"

using zeltest::Weighing;
using zeltest::Wire;
using zel::host::Value;

namespace {

// As PolledRig, with a hook on what the scale sees, set before it starts.
// The polled rig, plus the commands of the price-computing scales.
class PriceRig : public zeltest::PolledRig {
public:
    using PolledRig::PolledRig;

    // The result code of a command, and how long its call took.
    int32_t SetPrice(int32_t hundredths, uint64_t* tookMs = nullptr) {
        return Command(u"SetPrice", {Value::Text(id), Value::Int(hundredths)}, tookMs);
    }
    int32_t Calibrate(uint64_t* tookMs = nullptr) {
        return Command(u"Calibrate", {Value::Text(id), Value::Double(0.0)}, tookMs);
    }

    std::vector<sim::Record> Seen(sim::Record::Kind kind) const {
        std::vector<sim::Record> out;
        for (const sim::Record& r : sim.Log())
            if (r.kind == kind) out.push_back(r);
        return out;
    }

private:
    int32_t Command(const std::u16string& method, const std::vector<Value>& args, uint64_t* tookMs) {
        const uint64_t start = platform::MonotonicMs();
        auto r = component->Call(method, args);
        if (tookMs) *tookMs = platform::MonotonicMs() - start;
        const int32_t code = component->LastError();
        EXPECT_EQ(r.ok && r.ret.boolean, code == 0);
        return code;
    }
};

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s += static_cast<char>(v);
    return s;
}

bool AsksThreeTimes(int model) { return model == 28 || model == 30; }

struct Shown {
    double kg;
    int decimals;
    double price;  // per kg
};

struct Expected {
    double weight, price, cost;
    int64_t stable;
};

// Weight in kg from grams; price and cost from hundredths (ICS NT: the
// hundredths as they are). BTHE has no sign and reports no stability.
Expected Expect(int model, const Shown& s) {
    double grams = std::round(s.kg * std::pow(10.0, s.decimals)) * std::pow(10.0, 3 - s.decimals);
    double price = std::round(s.price * 100);
    double cost = std::round(s.kg * s.price * 100.0);  // the simulator's: from the weight on the pan
    if (model == 28 && grams < 0) grams = 0;
    if (model == 28 && cost < 0) cost = 0;
    const double money = model == 30 ? 1.0 : 100.0;
    return {grams / 1000.0, price / money, cost / money, model == 28 ? 0 : 1};
}

class PriceComputing : public ::testing::TestWithParam<std::tuple<int, Wire>> {
protected:
    int Model() const { return std::get<0>(GetParam()); }
    Wire Line() const { return std::get<1>(GetParam()); }
};

TEST_P(PriceComputing, ReadsWeightPriceAndCost) {
    PriceRig rig(Model(), Line());
    ASSERT_EQ(rig.openCode, 0);
    const Shown shown[] = {
        {1.234, 3, 12.50},
        {0.5, 2, 999.99},
        {-0.75, 3, 10.00},
        {0.0, 3, 0.0},
        {25.125, 1, 1.05},
    };
    for (const Shown& s : shown) {
        SCOPED_TRACE(testing::Message() << s.kg << " kg, " << s.decimals << " decimals, price " << s.price);
        rig.sim.SetWeight(s.kg);
        rig.sim.SetDecimals(s.decimals);
        rig.sim.SetPrice(s.price);
        rig.sim.ClearReceived();
        Weighing w = rig.Weigh();
        const Expected e = Expect(Model(), s);
        EXPECT_TRUE(w.ok);
        EXPECT_EQ(w.code, 0);
        EXPECT_NEAR(w.weight, e.weight, 1e-9);
        EXPECT_NEAR(w.price, e.price, 1e-9);
        EXPECT_NEAR(w.cost, e.cost, 1e-9);
        EXPECT_EQ(w.stable, e.stable);
        EXPECT_EQ(rig.Seen(sim::Record::Request).size(), AsksThreeTimes(Model()) ? 3u : 1u);
        // Prompt replies: no exchange waited out its 300 ms.
        EXPECT_LT(w.tookMs, 1000u);
    }
}

TEST_P(PriceComputing, SilentScaleGivesThreeAfterThreeBudgets) {
    PriceRig rig(Model(), Line());
    rig.sim.SetFault(sim::Fault::Silence);
    Weighing w = rig.Weigh();
    EXPECT_FALSE(w.ok);
    EXPECT_EQ(w.code, 3);
    EXPECT_EQ(w.weight, 0.0);
    EXPECT_EQ(w.price, 0.0);
    EXPECT_EQ(w.stable, 1);  // set before the exchange, kept without a reply
    EXPECT_GE(w.tookMs, 3 * 300u - 20u);
    EXPECT_LE(w.tookMs, 3 * 300u + 1500u);
    EXPECT_EQ(rig.sim.RequestsSeen(), 3);
}

TEST_P(PriceComputing, ShortRepliesAreRefusedUntilTheScaleMends) {
    PriceRig rig(Model(), Line());
    rig.sim.SetWeight(2.0);
    rig.sim.SetFault(sim::Fault::BrokenFrame);  // one byte short
    Weighing w = rig.Weigh();
    EXPECT_EQ(w.code, 3);
    EXPECT_EQ(w.weight, 0.0);
    // A busy machine can hold the simulator's thread back past the
    // driver's last budget: let it answer the last request (short still)
    // before the fault goes, so no late whole frame lands in the next call.
    for (uint64_t end = platform::MonotonicMs() + 3000;
         (rig.sim.RequestsSeen() < 3 || rig.sim.FramesSent() < 3) && platform::MonotonicMs() < end;)
        platform::SleepMs(5);
    EXPECT_EQ(rig.sim.RequestsSeen(), 3);
    rig.sim.SetFault(sim::Fault::None);
    w = rig.Weigh();
    EXPECT_EQ(w.code, 0);
    EXPECT_NEAR(w.weight, 2.0, 1e-9);
}

TEST_P(PriceComputing, PriceAndTareOnTheWire) {
    // On a pty the line is kept open: the simulated scale does not read
    // bytes from a client that opens the pty, writes and closes it again
    // before the scale has seen it there (a price without a pause).
    PriceRig rig(Model(), Line(), /*keepConnection=*/Line() == Wire::Pty);
    ASSERT_EQ(rig.openCode, 0);
    rig.sim.SetWeight(2.0);
    if (Model() == 17) {
        EXPECT_EQ(rig.SetPrice(1250), 5);
        EXPECT_EQ(rig.Calibrate(), 5);
        platform::SleepMs(100);
        EXPECT_TRUE(rig.sim.Received().empty());
        return;
    }
    // The price: JADEVER twice, 200 ms apart, then a read (the call lasts
    // two pauses); ICS and BTHE once, no pause.
    std::string frame;
    switch (Model()) {
        case 21: frame = Bytes({0x00, 0x00, 0x02, 0x00, 0x05, 0x02, 0x01, 0x00, 0x00}); break;
        case 28: frame = Bytes({0x2A, 0x02, 0x00, 0x05, 0x02, 0x01, 0x00, 0x00}); break;
        default: frame = Bytes({0x00, 0x00, 0x02, 0x30, 0x35, 0x32, 0x31, 0x30, 0x30}); break;
    }
    const size_t copies = Model() == 21 ? 2 : 1;
    uint64_t took = 0;
    EXPECT_EQ(rig.SetPrice(1250, &took), 0);
    ASSERT_TRUE(rig.sim.WaitReceived(copies, 2000));
    auto prices = rig.Seen(sim::Record::Price);
    ASSERT_EQ(prices.size(), copies);
    for (const sim::Record& r : prices) {
        EXPECT_EQ(r.bytes, frame);
        EXPECT_EQ(r.value, 1250);
    }
    if (Model() == 21) {
        EXPECT_GE(prices[1].timeMs - prices[0].timeMs, 180u);
        EXPECT_LT(prices[1].timeMs - prices[0].timeMs, 1000u);
        EXPECT_GE(took, 2 * 200u - 2u);
    }
    EXPECT_LT(took, 2000u);
    EXPECT_TRUE(rig.Seen(sim::Record::Unknown).empty());
    // The scale shows the price it got, and the cost of what lies on it.
    Weighing w = rig.Weigh();
    EXPECT_EQ(w.code, 0);
    EXPECT_NEAR(w.price, Model() == 30 ? 1250.0 : 12.5, 1e-9);
    EXPECT_NEAR(w.cost, Model() == 30 ? 2500.0 : 25.0, 1e-9);

    // A price of five digits and more would reach the scale cut: refused.
    rig.sim.ClearReceived();
    EXPECT_EQ(rig.SetPrice(100000), 4);
    EXPECT_EQ(rig.SetPrice(123456), 4);

    // Tare: its bytes, then a 150 ms pause; the scale takes the load off.
    EXPECT_EQ(rig.Calibrate(&took), 0);
    ASSERT_TRUE(rig.sim.WaitReceived(1, 2000));
    auto tares = rig.Seen(sim::Record::Tare);
    ASSERT_EQ(tares.size(), 1u);
    EXPECT_EQ(tares[0].bytes, Model() == 28 ? Bytes({0x2A, 0x01}) : Bytes({0x00, 0x00, 0x01}));
    EXPECT_GE(took, 150u - 2u);
    EXPECT_LT(took, 2000u);
    EXPECT_EQ(rig.sim.Received().size(), 1u);  // the refused prices sent nothing
    w = rig.Weigh();
    EXPECT_EQ(w.code, 0);
    EXPECT_EQ(w.weight, 0.0);
    EXPECT_DOUBLE_EQ(rig.sim.Tare(), 2.0);
}

std::string Name(const testing::TestParamInfo<std::tuple<int, Wire>>& info) {
    return "model" + std::to_string(std::get<0>(info.param)) + "_" + zeltest::WireName(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(Models, PriceComputing,
                         ::testing::Combine(::testing::Values(17, 21, 28, 30), ::testing::Values(Wire::Pty, Wire::Tcp)),
                         Name);

TEST(PriceComputingFaults, AScaleThatAnswersOnlyTheFirstOfThreeRequests) {
    // Models 28 and 30 ask three times: the two silent exchanges after the
    // first reply leave its values and result 0.
    for (int model : {28, 30}) {
        for (Wire wire : {Wire::Pty, Wire::Tcp}) {
            SCOPED_TRACE(testing::Message() << model << " " << zeltest::WireName(wire));
            // Silent from the second request on, before its answer would go.
            PriceRig rig(model, wire, false, [](sim::Simulator& s, const sim::Record& r) {
                if (r.kind == sim::Record::Request && s.RequestsSeen() >= 2) s.SetFault(sim::Fault::Silence);
            });
            ASSERT_EQ(rig.openCode, 0);
            rig.sim.SetWeight(1.234);
            rig.sim.SetPrice(10.0);
            Weighing w = rig.Weigh();
            EXPECT_TRUE(w.ok);
            EXPECT_EQ(w.code, 0);
            EXPECT_NEAR(w.weight, 1.234, 1e-9);
            EXPECT_NEAR(w.price, model == 30 ? 1000.0 : 10.0, 1e-9);
            EXPECT_NEAR(w.cost, model == 30 ? 1234.0 : 12.34, 1e-9);
            EXPECT_EQ(rig.sim.RequestsSeen(), 3);
            EXPECT_EQ(rig.sim.FramesSent(), 1);
            EXPECT_GE(w.tookMs, 2 * 300u - 20u);
            EXPECT_LE(w.tookMs, 3 * 300u + 1500u);
        }
    }
}

}  // namespace
