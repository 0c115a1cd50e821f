// Prompribor scales through the loaded library against the simulated scale,
// on a pseudo-terminal and over TCP loopback: models 0 and 1 weighed, their
// tare and price commands on the wire, the VTA-60 cost check; model 6's
// pushed readings as external events with the scanned text.
#include <cctype>
#include <string>
#include <tuple>
#include <vector>

#include "tests/integration/listener_support.h"
#include "platform/pty.h"
#include "tests/integration/polled_support.h"

using zel::host::Value;
using zeltest::PolledRig;
using zeltest::Weighing;
using zeltest::Wire;

namespace {

using zeltest::CaseName;

struct Shown {
    double kg;
    int decimals;
    bool stable;
    double price;
};

struct Expected {
    double weight, price, cost;
    int64_t stable;
};

struct WeighCase {
    Shown shown;
    Expected expected;
};

// Model 0: grams, hundredths, the scale's cost (weight x price rounded to
// hundredths), always stable. Model 1: thousandths of the shown value.
const std::vector<WeighCase>& CasesFor(int model) {
    static const std::vector<WeighCase> vta = {
        {{1.234, 3, true, 25.50}, {1234, 2550, 3147, 1}},
        {{0.5, 3, false, 12.00}, {500, 1200, 600, 1}},
        {{0.0, 3, true, 0.0}, {0, 0, 0, 1}},             // weight equals cost: 0 at any price
        // Weight equals cost at 10.00: checked, and right. Worked out in
        // doubles this exact reading came a hundredth short and was refused.
        {{4.007, 3, true, 10.00}, {4007, 1000, 4007, 1}},
        {{-0.75, 3, true, 10.00}, {0, 1000, 0, 1}},  // no sign in the format
    };
    static const std::vector<WeighCase> vn = {
        {{12.34, 2, true, 0}, {12340, 0, 0, 1}},
        {{-0.15, 3, false, 0}, {-150, 0, 0, 0}},
        {{25.0, 0, true, 0}, {25000, 0, 0, 1}},
        {{0.5, 1, false, 0}, {500, 0, 0, 0}},
    };
    return model == 0 ? vta : vn;
}

bool Command(PolledRig& rig, const char16_t* method, const Value& value) {
    auto r = rig.component->Call(method, {Value::Text(rig.id), value});
    return r.ok && r.ret.boolean;
}

// Holds the slave of a pty line open for the whole test. A command the
// driver writes just before it closes the line would otherwise go with the
// hang-up if the simulated scale (starved on a loaded machine) has not read
// it yet; a real serial line keeps such bytes on the wire.
class LineHolder {
public:
    LineHolder(const sim::Simulator& s, Wire wire)
        : handle_(wire == Wire::Pty ? platform::TtyOpen(s.SlavePath()) : platform::kNoHandle) {
        if (wire == Wire::Pty) {
            EXPECT_NE(handle_, platform::kNoHandle) << s.SlavePath();
        }
    }
    ~LineHolder() {
        if (handle_ != platform::kNoHandle) platform::IoClose(handle_);
    }
    LineHolder(const LineHolder&) = delete;
    LineHolder& operator=(const LineHolder&) = delete;

private:
    int handle_;
};

// Generous: a starved simulator on a loaded machine.
const int kRecordWaitMs = 5000;

std::vector<sim::Record> Seen(const sim::Simulator& s, sim::Record::Kind kind) {
    std::vector<sim::Record> out;
    for (const sim::Record& r : s.Log())
        if (r.kind == kind) out.push_back(r);
    return out;
}

using zeltest::Bytes;

class PrompriborPolled : public ::testing::TestWithParam<std::tuple<int, Wire>> {};

TEST_P(PrompriborPolled, WeightsAsTheScaleShowsThem) {
    const int model = std::get<0>(GetParam());
    PolledRig rig(model, std::get<1>(GetParam()));
    ASSERT_EQ(rig.openCode, 0);
    const auto& cases = CasesFor(model);
    for (const WeighCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.shown.kg << " kg, " << c.shown.decimals << " decimals");
        rig.sim.SetWeight(c.shown.kg);
        rig.sim.SetDecimals(c.shown.decimals);
        rig.sim.SetStable(c.shown.stable);
        rig.sim.SetPrice(c.shown.price);
        Weighing w = rig.Weigh();
        EXPECT_TRUE(w.ok);
        EXPECT_EQ(w.code, 0);
        EXPECT_EQ(w.weight, c.expected.weight);
        EXPECT_EQ(w.price, c.expected.price);
        EXPECT_EQ(w.cost, c.expected.cost);
        EXPECT_EQ(w.stable, c.expected.stable);
        EXPECT_LT(w.tookMs, 700u);  // one exchange; a second attempt follows a spent budget
    }
    EXPECT_EQ(rig.sim.RequestsSeen(), static_cast<int>(cases.size()));
}

TEST_P(PrompriborPolled, BrokenOrSilentScaleGivesThree) {
    const int model = std::get<0>(GetParam());
    const uint64_t budgets = model == 0 ? 3 * 300 : 3 * 500;
    PolledRig rig(model, std::get<1>(GetParam()));
    rig.sim.SetWeight(2.0);
    int requests = 0;
    for (sim::Fault fault : {sim::Fault::BrokenFrame, sim::Fault::Silence}) {
        SCOPED_TRACE(static_cast<int>(fault));
        rig.sim.SetFault(fault);
        Weighing w = rig.Weigh();
        EXPECT_FALSE(w.ok);
        EXPECT_EQ(w.code, 3);
        EXPECT_EQ(w.weight, 0.0);
        EXPECT_EQ(w.stable, model == 0 ? 1 : 0);  // model 0 reports stable before it asks
        // A model 1 frame with a wrong end marker is refused at once; a
        // short model 0 reply and silence spend every attempt's budget.
        if (fault == sim::Fault::Silence || model == 0) {
            EXPECT_GE(w.tookMs, budgets - 20);
        }
        EXPECT_LE(w.tookMs, budgets + 1500);
        requests += 3;
        EXPECT_EQ(rig.sim.RequestsSeen(), requests);
    }
    rig.sim.SetFault(sim::Fault::None);
    Weighing w = rig.Weigh();
    EXPECT_EQ(w.code, 0);
    EXPECT_EQ(w.weight, 2000.0);
}

TEST_P(PrompriborPolled, TareOnTheWire) {
    const int model = std::get<0>(GetParam());
    PolledRig rig(model, std::get<1>(GetParam()));
    const LineHolder holder(rig.sim, std::get<1>(GetParam()));
    rig.sim.SetWeight(1.5);
    const uint64_t start = platform::MonotonicMs();
    EXPECT_TRUE(Command(rig, u"Calibrate", Value::Double(0.0)));
    const uint64_t took = platform::MonotonicMs() - start;
    EXPECT_EQ(rig.component->LastError(), 0);
    ASSERT_TRUE(rig.sim.WaitReceived(1, kRecordWaitMs));
    auto tares = Seen(rig.sim, sim::Record::Tare);
    ASSERT_EQ(tares.size(), 1u);
    EXPECT_EQ(tares[0].bytes, model == 0 ? Bytes({0x00, 0x00, 0x01}) : Bytes({0x3C, 0x00, 0x54, 0x3E}));
    EXPECT_GE(took, 145u);  // the pause after the command
    EXPECT_LT(took, 1500u);
    // The scale took the load as its tare.
    Weighing w = rig.Weigh();
    EXPECT_EQ(w.code, 0);
    EXPECT_EQ(w.weight, 0.0);
    EXPECT_EQ(rig.sim.Received().size(), 2u);  // the tare and one request, nothing else
}

TEST_P(PrompriborPolled, PriceOnTheWire) {
    const int model = std::get<0>(GetParam());
    PolledRig rig(model, std::get<1>(GetParam()));
    const LineHolder holder(rig.sim, std::get<1>(GetParam()));
    rig.sim.SetWeight(2.0);
    if (model == 1) {
        EXPECT_FALSE(Command(rig, u"SetPrice", Value::Int(1250)));
        EXPECT_EQ(rig.component->LastError(), 5);
        platform::SleepMs(100);
        EXPECT_TRUE(rig.sim.Received().empty());
        return;
    }
    struct Case {
        int32_t price;
        long long shown;  // hundredths the scale takes
    };
    // A price the five digits cannot carry is refused before the line.
    EXPECT_FALSE(Command(rig, u"SetPrice", Value::Int(123456)));
    EXPECT_EQ(rig.component->LastError(), 4);
    for (const Case& c : {Case{12345, 12345}, Case{99999, 99999}, Case{0, 0}}) {
        SCOPED_TRACE(c.price);
        rig.sim.ClearReceived();
        const uint64_t start = platform::MonotonicMs();
        EXPECT_TRUE(Command(rig, u"SetPrice", Value::Int(c.price)));
        EXPECT_LT(platform::MonotonicMs() - start, 1000u);
        EXPECT_EQ(rig.component->LastError(), 0);
        // The price goes with no pause after it, and the line is released at
        // once.
        ASSERT_TRUE(rig.sim.WaitReceived(1, kRecordWaitMs));
        Weighing w = rig.Weigh();
        EXPECT_EQ(w.code, 0);
        EXPECT_EQ(w.price, static_cast<double>(c.shown));
        ASSERT_TRUE(rig.sim.WaitReceived(2, kRecordWaitMs));
        auto prices = Seen(rig.sim, sim::Record::Price);
        ASSERT_EQ(prices.size(), 1u);  // once
        std::string expected = Bytes({0x00, 0x00, 0x02});
        for (long long v = c.shown, i = 0; i < 5; ++i, v /= 10) expected += static_cast<char>(v % 10);
        expected += '\0';
        EXPECT_EQ(prices[0].bytes, expected);
        EXPECT_EQ(prices[0].value, c.shown);
        EXPECT_EQ(rig.sim.Received().size(), 2u);  // the price and the request
    }
}

std::string PolledName(const testing::TestParamInfo<std::tuple<int, Wire>>& info) {
    return "model" + std::to_string(std::get<0>(info.param)) + "_" + zeltest::WireName(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(Models, PrompriborPolled,
                         ::testing::Combine(::testing::Values(0, 1), ::testing::Values(Wire::Pty, Wire::Tcp)),
                         PolledName);

TEST(PrompriborVta, WeightEqualToAWrongCostIsAskedAgainThenGivesOne) {
    PolledRig rig(0, Wire::Tcp);
    rig.sim.SetWeight(5.0);
    rig.sim.SetPrice(20.00);
    rig.sim.SetCost(50.00);  // 5000 hundredths, as the weight's 5000 g: 100.00 is right
    Weighing w = rig.Weigh();
    EXPECT_FALSE(w.ok);
    EXPECT_EQ(w.code, 1);
    EXPECT_EQ(rig.sim.RequestsSeen(), 3);
    // The last reply's values are reported all the same.
    EXPECT_EQ(w.weight, 5000.0);
    EXPECT_EQ(w.price, 2000.0);
    EXPECT_EQ(w.cost, 5000.0);
    EXPECT_LT(w.tookMs, 700u);  // three prompt replies, no budget spent
    rig.sim.SetCost(100.00);
    w = rig.Weigh();
    EXPECT_EQ(w.code, 0);
    EXPECT_EQ(w.cost, 10000.0);
}

TEST(PrompriborVn, StrayBytesBeforeTheFrameCostFiftyMillisecondsEach) {
    PolledRig rig(1, Wire::Pty);
    rig.sim.SetWeight(3.0);
    rig.sim.SetFault(sim::Fault::Garbage, 5);
    Weighing w = rig.Weigh();
    EXPECT_EQ(w.code, 0);
    EXPECT_EQ(w.weight, 3000.0);
    EXPECT_GE(w.tookMs, 5 * 50u - 10u);
    EXPECT_LT(w.tookMs, 1000u);
    EXPECT_EQ(rig.sim.RequestsSeen(), 1);
}

// --- model 6 ---------------------------------------------------------------

using zeltest::Event;
using zeltest::Line;
using zeltest::ListenerRig;

struct ScannerCase {
    const char* name;
    const char* coeff;
    double kg;
    int decimals;
    std::string text;
    std::string line;  // "{id}" stands for the device ID
};

const ScannerCase kScannerCases[] = {
    {"code", nullptr, 1.234, 3, "4820000000017", " 1.234;  0.00;  0.00;{id};4820000000017;"},
    {"no text", nullptr, 1.234, 3, "", " 1.234;  0.00;  0.00;{id};;"},
    {"negative two decimals", nullptr, -1.5, 2, "", "-1.500;  0.00;  0.00;{id};;"},
    {"coefficient", "2", 0.75, 3, "X1", " 1.500;  0.00;  0.00;{id};X1;"},
    {"semicolons pass", nullptr, 10.0, 0, "a;b", "10.000;  0.00;  0.00;{id};a;b;"},
};

std::string WithId(std::string text, const std::string& id) {
    size_t at = text.find("{id}");
    if (at != std::string::npos) text.replace(at, 4, id);
    return text;
}

class ScannerLines : public ::testing::TestWithParam<std::tuple<ScannerCase, Line>> {};

TEST_P(ScannerLines, EachFrameGivesOneEventWithWeightAndText) {
    const ScannerCase& c = std::get<0>(GetParam());
    ListenerRig rig(6, std::get<1>(GetParam()), c.coeff);
    ASSERT_EQ(rig.openCode, 0);
    ASSERT_TRUE(rig.Settle());
    rig.sim.SetWeight(c.kg);
    rig.sim.SetDecimals(c.decimals);
    rig.sim.SetText(c.text);
    const std::string expected = WithId(c.line, rig.id);
    for (int i = 0; i < 2; ++i) {
        rig.sim.PushReading();
        Event e;
        ASSERT_TRUE(rig.NextEvent(&e, 1000));
        EXPECT_EQ(e.data, expected);
        EXPECT_FALSE(rig.NextEvent(&e, 150)) << e.data;
    }
    // Nothing is ever written to the scale.
    EXPECT_TRUE(rig.sim.Received().empty());
    EXPECT_TRUE(rig.Close());
}

INSTANTIATE_TEST_SUITE_P(Lines, ScannerLines,
                         ::testing::Combine(::testing::ValuesIn(kScannerCases), ::testing::Values(Line::Pty, Line::Tcp)),
                         [](const ::testing::TestParamInfo<std::tuple<ScannerCase, Line>>& info) {
                             return CaseName(std::get<0>(info.param).name) + "_" +
                                    zeltest::LineName(std::get<1>(info.param));
                         });

// Frames that fail the checks give no event; the next good frame does.
struct BadScannerFrame {
    const char* name;
    bool broken;      // the simulator's frame with its CR spoilt
    std::string raw;  // else: these bytes
};

const BadScannerFrame kBadScannerFrames[] = {
    {"no CR", true, ""},
    {"CR in the first nine bytes", false, "<00123\r"},
    {"fifty bytes without CR", false, "<" + std::string(55, '1')},
    {"no start", false, "0012340\x03" "abc\r"},
};

class ScannerBadFrames : public ::testing::TestWithParam<BadScannerFrame> {};

TEST_P(ScannerBadFrames, GiveNoEvent) {
    const BadScannerFrame& c = GetParam();
    ListenerRig rig(6, Line::Pty);
    ASSERT_TRUE(rig.Settle());
    rig.sim.SetWeight(3.0);
    if (c.broken) {
        rig.sim.SetFault(sim::Fault::BrokenFrame);
        rig.sim.PushReading();
    } else {
        rig.sim.SendRaw(c.raw);
    }
    Event e;
    EXPECT_FALSE(rig.NextEvent(&e, 900)) << e.data;
    rig.sim.SetFault(sim::Fault::None);
    rig.sim.SetText("OK");
    rig.sim.PushReading();
    ASSERT_TRUE(rig.NextEvent(&e, 1500));
    EXPECT_EQ(e.data, WithId(" 3.000;  0.00;  0.00;{id};OK;", rig.id));
    EXPECT_FALSE(rig.NextEvent(&e, 150)) << e.data;
}

INSTANTIATE_TEST_SUITE_P(Bad, ScannerBadFrames, ::testing::ValuesIn(kBadScannerFrames),
                         [](const ::testing::TestParamInfo<BadScannerFrame>& info) { return CaseName(info.param.name); });

TEST(ScannerEvents, StrayBytesBeforeTheFrameAreSkipped) {
    ListenerRig rig(6, Line::Tcp);
    ASSERT_TRUE(rig.Settle());
    rig.sim.SetWeight(0.25);
    rig.sim.SetText("code");
    rig.sim.SetFault(sim::Fault::Garbage, 5);
    rig.sim.PushReading();
    Event e;
    ASSERT_TRUE(rig.NextEvent(&e, 1500));
    EXPECT_EQ(e.data, WithId(" 0.250;  0.00;  0.00;{id};code;", rig.id));
}

TEST(ScannerEvents, CommandsWriteNothing) {
    ListenerRig rig(6, Line::Pty);
    ASSERT_TRUE(rig.Settle());
    EXPECT_TRUE(rig.SetPrice(1250));
    EXPECT_EQ(rig.driver->LastError(), 0);
    EXPECT_FALSE(rig.Calibrate());
    EXPECT_EQ(rig.driver->LastError(), 5);
    auto r = rig.driver->Call(u"GetWeight", {Value::Text(rig.id16), Value()});
    EXPECT_FALSE(r.ret.boolean);
    EXPECT_EQ(rig.driver->LastError(), 5);
    platform::SleepMs(300);
    EXPECT_TRUE(rig.sim.Received().empty());
    // And the listener goes on.
    rig.sim.PushReading();
    Event e;
    EXPECT_TRUE(rig.NextEvent(&e, 1000));
}

}  // namespace
