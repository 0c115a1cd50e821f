// Event-driven scales (models 5, 32, 15, 22) through the loaded library:
// the readings a simulated scale pushes arrive as external events with the
// exact data line, malformed frames give none, and acknowledgements, tare
// and price commands reach the scale with their bytes and in time.
#include <cctype>
#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "tests/integration/listener_support.h"

using zeltest::Bytes;
using zeltest::Event;
using zeltest::Line;
using zeltest::ListenerRig;

namespace {

using zeltest::CaseName;

struct Reading {
    double weight, tare, price, cost;
    int decimals;
};

struct LineCase {
    const char* name;
    int model;
    const char* coeff;
    Reading shown;
    std::string line;  // "{id}" stands for the device ID
};

std::string WithId(std::string text, const std::string& id) {
    size_t at = text.find("{id}");
    if (at != std::string::npos) text.replace(at, 4, id);
    return text;
}

void Show(sim::Simulator& sim, const Reading& r) {
    sim.SetWeight(r.weight);
    sim.SetTare(r.tare);
    sim.SetPrice(r.price);
    sim.SetCost(r.cost);
    sim.SetDecimals(r.decimals);
}

const LineCase kLineCases[] = {
    {"5 grams", 5, nullptr, {1.234, 0, 0, 0, 3}, " 1.234;  0.00;  0.00;{id};"},
    {"5 two decimals", 5, nullptr, {123.45, 0, 0, 0, 2}, "123.450;  0.00;  0.00;{id};"},
    {"5 negative", 5, nullptr, {-1.5, 0, 0, 0, 3}, "-1.500;  0.00;  0.00;{id};"},
    {"5 coefficient", 5, "2", {0.75, 0, 0, 0, 3}, " 1.500;  0.00;  0.00;{id};"},
    {"32 grams with tare", 32, "0.001", {2.5, 0.5, 0, 0, 3}, " 2.500; 0.500;  0.00;{id};"},
    {"32 raw units", 32, nullptr, {0.012, 0.003, 0, 0, 3}, "12.000; 3.000;  0.00;{id};"},
    {"15 text as is", 15, nullptr, {1.234, 0, 12.5, 15.43, 3}, "  1.234;  12.50;  15.43;"},
    {"22 digits", 22, nullptr, {1.234, 0, 25.5, 31.47, 3}, " 1.234; 25.50; 31.47;{id};"},
    {"22 zero", 22, nullptr, {0, 0, 0, 0, 3}, " 0.000;  0.00;  0.00;{id};"},
};

class ListenerLines : public ::testing::TestWithParam<std::tuple<LineCase, Line>> {};

TEST_P(ListenerLines, EachFrameGivesOneEventWithItsLine) {
    const LineCase& c = std::get<0>(GetParam());
    ListenerRig rig(c.model, std::get<1>(GetParam()), c.coeff);
    ASSERT_EQ(rig.openCode, 0);
    ASSERT_TRUE(rig.Settle());
    Show(rig.sim, c.shown);
    const std::string expected = WithId(c.line, rig.id);
    for (int i = 0; i < 2; ++i) {
        rig.sim.PushReading();
        Event e;
        ASSERT_TRUE(rig.NextEvent(&e, 1000));
        EXPECT_EQ(e.data, expected);
        // Exactly one event per frame.
        EXPECT_FALSE(rig.NextEvent(&e, 150)) << e.data;
    }
    EXPECT_TRUE(rig.Close());
}

INSTANTIATE_TEST_SUITE_P(Lines, ListenerLines,
                         ::testing::Combine(::testing::ValuesIn(kLineCases), ::testing::Values(Line::Pty, Line::Tcp)),
                         [](const ::testing::TestParamInfo<std::tuple<LineCase, Line>>& info) {
                             return CaseName(std::get<0>(info.param).name) + "_" +
                                    zeltest::LineName(std::get<1>(info.param));
                         });

// Frames that fail the checks, or stop short, give no event; the listener
// then takes the next good frame.
struct BadFrame {
    const char* name;
    int model;
    bool brokenMarker;    // the simulator's broken frame
    std::string raw;      // else: these bytes
    unsigned recoverMs;   // a cut frame is dropped with the read budget
};

const BadFrame kBadFrames[] = {
    {"5 wrong end marker", 5, true, "", 0},
    {"5 short frame", 5, false, Bytes({0x3C, 0x00, 0x01}), 300},
    {"5 wrong start marker", 5, false, Bytes({0x3D, 0x00, 0x01, 0x23, 0x45, 0x02, 0x3E}), 0},
    {"32 wrong end marker", 32, true, "", 0},
    {"32 lone weight frame", 32, false, Bytes({0x3C, 0x00, 0x00, 0x12, 0x34, 0x03, 0x3E}), 0},
    {"15 CR instead of LF", 15, true, "", 0},
    {"15 short frame", 15, false, "  1.234\r  12.50\r", 300},
    {"22 one byte short", 22, true, "", 300},
    // In place, but the weight field holds no number.
    {"5 blank among the digits", 5, false, Bytes({0x3C, 0x00, 0xA1, 0x2F, 0x00, 0x03, 0x3E}), 0},
    {"32 blank digits", 32, false,
     Bytes({0x3C, 0x00, 0xFF, 0xFF, 0xFF, 0x03, 0x3E, 0x3D, 0x00, 0x00, 0x01, 0xF4, 0x00, 0x3E}), 0},
    {"6 dashes for the weight", 6, false, "<------\x03" "4820000000017\r", 0},
    {"6 minus among the digits", 6, false, "<12-345\x03\r", 0},
    {"15 letters for the weight", 15, false, "  ERR  \r  12.50\r  15.43\r\n", 0},
    {"15 second point", 15, false, "  1.2.3\r  12.50\r  15.43\r\n", 0},
};

class ListenerFrames : public ::testing::TestWithParam<BadFrame> {};

TEST_P(ListenerFrames, BadFramesGiveNoEvent) {
    const BadFrame& c = GetParam();
    ListenerRig rig(c.model, Line::Pty, c.model == 32 ? "0.001" : nullptr);
    ASSERT_TRUE(rig.Settle());
    rig.sim.SetWeight(3.0);
    if (c.brokenMarker) {
        rig.sim.SetFault(sim::Fault::BrokenFrame);
        rig.sim.PushReading();
    } else {
        rig.sim.SendRaw(c.raw);
    }
    Event e;
    EXPECT_FALSE(rig.NextEvent(&e, 800)) << e.data;
    // Neither a broken nor a lone weight frame is acknowledged.
    EXPECT_TRUE(rig.Seen(sim::Record::Ack).empty());
    rig.sim.SetFault(sim::Fault::None);
    platform::SleepMs(c.recoverMs);
    rig.sim.PushReading();
    ASSERT_TRUE(rig.NextEvent(&e, 1000));
    EXPECT_NE(e.data.find("3.000"), std::string::npos) << e.data;
    EXPECT_FALSE(rig.NextEvent(&e, 150)) << e.data;
}

INSTANTIATE_TEST_SUITE_P(Bad, ListenerFrames, ::testing::ValuesIn(kBadFrames),
                         [](const ::testing::TestParamInfo<BadFrame>& info) { return CaseName(info.param.name); });

// A refused frame goes on from the next place a frame may begin among the
// bytes already read: a stray byte, the tail of a cut frame or a
// header-valued byte inside a frame costs no reading, and the listener never
// stays on a window that straddles two frames.
struct ResyncCase {
    const char* name;
    int model;
    const char* coeff;
    std::string raw;
    std::vector<std::string> lines;  // "{id}" stands for the device ID
};

const std::string kVn1234 = Bytes({0x3C, 0x00, 0x00, 0x12, 0x34, 0x03, 0x3E});
const std::string kVn2500 = Bytes({0x3C, 0x00, 0x00, 0x25, 0x00, 0x03, 0x3E});
const std::string kTare500 = Bytes({0x3D, 0x00, 0x00, 0x01, 0xF4, 0x00, 0x3E});
const std::string kVta = "  1.234\r  12.50\r  15.43\r\n";

const ResyncCase kResyncCases[] = {
    {"5 a stray byte before the frame", 5, nullptr, "\x55" + kVn1234, {" 1.234;  0.00;  0.00;{id};"}},
    {"5 header-valued bytes before and inside the frame", 5, nullptr,
     Bytes({0x3C, 0x00, 0x3C, 0x3C, 0x00, 0x12, 0x34, 0x03, 0x3E}), {" 1.234;  0.00;  0.00;{id};"}},
    {"5 the tail of a cut frame", 5, nullptr, Bytes({0x12, 0x34, 0x03, 0x3E}) + kVn1234,
     {" 1.234;  0.00;  0.00;{id};"}},
    {"5 frames back to back after a stray byte", 5, nullptr, "\x3E" + kVn1234 + kVn2500,
     {" 1.234;  0.00;  0.00;{id};", " 2.500;  0.00;  0.00;{id};"}},
    {"32 a lone weight frame and then a full one", 32, "0.001", kVn1234 + kVn2500 + kTare500,
     {" 2.500; 0.500;  0.00;{id};"}},
    {"15 a stray byte before the frame", 15, nullptr, "X" + kVta, {"  1.234;  12.50;  15.43;"}},
    {"15 the tail of a cut frame", 15, nullptr, "3\r  15.43\r\n" + kVta, {"  1.234;  12.50;  15.43;"}},
};

void PrintTo(const ResyncCase& c, std::ostream* os) { *os << c.name; }

class ListenerResync : public ::testing::TestWithParam<ResyncCase> {};

TEST_P(ListenerResync, RefusedFrameGoesOnFromTheNextFrameStart) {
    const ResyncCase& c = GetParam();
    ListenerRig rig(c.model, Line::Pty, c.coeff);
    ASSERT_TRUE(rig.Settle());
    rig.sim.SendRaw(c.raw);
    for (const std::string& line : c.lines) {
        Event e;
        ASSERT_TRUE(rig.NextEvent(&e, 1500)) << "waiting for " << line;
        EXPECT_EQ(e.data, WithId(line, rig.id));
    }
    Event e;
    EXPECT_FALSE(rig.NextEvent(&e, 300)) << e.data;
}

INSTANTIATE_TEST_SUITE_P(Resync, ListenerResync, ::testing::ValuesIn(kResyncCases),
                         [](const ::testing::TestParamInfo<ResyncCase>& info) { return CaseName(info.param.name); });

// Each published reading is acknowledged once, at the listener's next
// cycle.
class ListenerAcks : public ::testing::TestWithParam<int> {};

TEST_P(ListenerAcks, ReadingsAreAcknowledged) {
    {
        ListenerRig rig(GetParam(), Line::Pty);
        ASSERT_TRUE(rig.Settle());
        for (int i = 0; i < 3; ++i) {
            rig.sim.PushReading();
            Event e;
            ASSERT_TRUE(rig.NextEvent(&e, 1000));
            ASSERT_TRUE(rig.sim.WaitReceived(static_cast<size_t>(i + 1), 1000));
            auto acks = rig.Seen(sim::Record::Ack);
            ASSERT_EQ(acks.size(), static_cast<size_t>(i + 1));
            EXPECT_EQ(acks.back().bytes, Bytes({0x3C, 0x00, 0x41, 0x3E}));
            // After the 100 ms pause, at the next cycle.
            uint64_t after = acks.back().timeMs - rig.sim.LastFrameSentMs();
            EXPECT_GE(after, 80u);
            EXPECT_LT(after, 1500u);
            platform::SleepMs(200);
        }
        EXPECT_EQ(rig.sim.Received().size(), 3u);
    }
}

INSTANTIATE_TEST_SUITE_P(Models, ListenerAcks, ::testing::Values(5, 32));

struct TareCase {
    const char* name;
    const char* coeff;
    bool calibrate;
    int32_t grams;  // SetPrice argument
    std::string bytes;
    long long digits;
};

const TareCase kTareCases[] = {
    {"Calibrate sends a zero tare", "0.001", true, 0, Bytes({0x3C, 0x00, 0x62, 0x00, 0x00, 0x00, 0x3E}), 0},
    {"grams, last six digits", "0.001", false, 1234567, Bytes({0x3C, 0x00, 0x62, 0x23, 0x45, 0x67, 0x3E}), 234567},
    {"tens of grams", "0.01", false, 1250, Bytes({0x3C, 0x00, 0x62, 0x00, 0x01, 0x25, 0x3E}), 125},
};

class ListenerTare : public ::testing::TestWithParam<TareCase> {};

TEST_P(ListenerTare, ModelVn220TareReachesTheScale) {
    const TareCase& c = GetParam();
    ListenerRig rig(32, Line::Pty, c.coeff);
    ASSERT_TRUE(rig.Settle());
    uint64_t asked = platform::MonotonicMs();
    EXPECT_TRUE(c.calibrate ? rig.Calibrate() : rig.SetPrice(c.grams));
    ASSERT_TRUE(rig.sim.WaitReceived(1, 1500));
    auto tares = rig.Seen(sim::Record::Tare);
    ASSERT_EQ(tares.size(), 1u);
    EXPECT_EQ(tares[0].bytes, c.bytes);
    EXPECT_EQ(tares[0].value, c.digits);
    // At the start of the next cycle: within a read budget and a pause
    // (600 ms), with room for a busy machine.
    EXPECT_LT(tares[0].timeMs - asked, 2000u);
    platform::SleepMs(300);
    EXPECT_EQ(rig.sim.Received().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Tares, ListenerTare, ::testing::ValuesIn(kTareCases),
                         [](const ::testing::TestParamInfo<TareCase>& info) { return CaseName(info.param.name); });

TEST(ListenerCommands, ModelVta60PriceAndTareReachTheScale) {
    ListenerRig rig(22, Line::Pty);
    ASSERT_TRUE(rig.Settle());

    uint64_t asked = platform::MonotonicMs();
    EXPECT_TRUE(rig.SetPrice(12345));
    ASSERT_TRUE(rig.sim.WaitReceived(2, 1500));
    auto prices = rig.Seen(sim::Record::Price);
    ASSERT_EQ(prices.size(), 2u);
    for (const sim::Record& r : prices) {
        EXPECT_EQ(r.bytes, Bytes({0x00, 0x00, 0x02, 0x05, 0x04, 0x03, 0x02, 0x01, 0x00}));
        EXPECT_EQ(r.value, 12345);
    }
    // Written at the listener's next read attempt (waiting for the next
    // cycle could take 600 ms), and repeated 200 ms later.
    EXPECT_LT(prices[0].timeMs - asked, 450u);
    EXPECT_GE(prices[1].timeMs - prices[0].timeMs, 180u);
    EXPECT_LT(prices[1].timeMs - prices[0].timeMs, 1000u);

    // A price the scale cannot show is refused and never sent.
    EXPECT_FALSE(rig.SetPrice(100000));
    EXPECT_EQ(rig.driver->LastError(), 4);

    platform::SleepMs(200);
    rig.sim.ClearReceived();
    asked = platform::MonotonicMs();
    EXPECT_TRUE(rig.Calibrate());
    ASSERT_TRUE(rig.sim.WaitReceived(1, 1500));
    auto tares = rig.Seen(sim::Record::Tare);
    ASSERT_EQ(tares.size(), 1u);
    EXPECT_EQ(tares[0].bytes, Bytes({0x00, 0x00, 0x01}));
    EXPECT_LT(tares[0].timeMs - asked, 450u);
    platform::SleepMs(300);
    EXPECT_EQ(rig.sim.Received().size(), 1u);

    // The scale now shows the price it was sent.
    rig.sim.SetWeight(2.0);
    rig.sim.PushReading();
    Event e;
    ASSERT_TRUE(rig.NextEvent(&e, 1000));
    EXPECT_EQ(e.data.substr(0, 14), " 2.000;123.45;");
}

// Models without a weight request or commands answer as documented.
TEST(ListenerCommands, UnsupportedOperations) {
    struct Case {
        int model;
        bool price, tare;
    };
    const Case cases[] = {{5, true, false}, {15, false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        ListenerRig rig(c.model, Line::Pty);
        ASSERT_EQ(rig.openCode, 0);
        EXPECT_EQ(rig.SetPrice(100), c.price);
        EXPECT_EQ(rig.Calibrate(), c.tare);
        EXPECT_EQ(rig.driver->LastError(), 5);
        auto r = rig.driver->Call(u"GetWeight", {zel::host::Value::Text(rig.id16), zel::host::Value()});
        EXPECT_FALSE(r.ret.boolean);
        EXPECT_EQ(rig.driver->LastError(), 5);
        ASSERT_EQ(r.params.size(), 2u);
        EXPECT_EQ(r.params[1].number, 0.0);
    }
}

}  // namespace

namespace {

// Commands flagged while the scale's line is down wait for it: once the line
// is back they are written, each exactly once (a price frame of model 22
// goes twice by design), and the listener keeps publishing.
struct DownCase {
    int model;
    bool price, tare;
    size_t prices, tares;  // records the scale sees
};

class ListenerLineDown : public ::testing::TestWithParam<DownCase> {};

TEST_P(ListenerLineDown, CommandsFlaggedWhileDownAreWrittenOnceWhenItReturns) {
    const DownCase c = GetParam();
    ListenerRig rig(c.model, Line::Tcp, c.model == 32 ? "0.001" : nullptr);
    ASSERT_TRUE(rig.Settle());
    const uint16_t port = rig.sim.TcpPort();
    rig.sim.Stop();
    platform::SleepMs(400);  // the listener has found its line gone and is retrying
    if (c.price) {
        EXPECT_TRUE(rig.SetPrice(c.model == 32 ? 1250 : 4321));
    }
    if (c.tare) {
        EXPECT_TRUE(rig.Calibrate());
    }
    platform::SleepMs(400);  // nothing may be spent on the dead line meanwhile
    rig.sim.ClearReceived();
    ASSERT_TRUE(rig.sim.StartTcp(port));
    ASSERT_TRUE(rig.sim.WaitReceived(c.prices + c.tares, 3000));
    platform::SleepMs(600);  // and nothing more follows
    EXPECT_EQ(rig.Seen(sim::Record::Price).size(), c.prices);
    EXPECT_EQ(rig.Seen(sim::Record::Tare).size(), c.tares);
    for (const sim::Record& r : rig.Seen(sim::Record::Price)) EXPECT_EQ(r.value, 4321);
    EXPECT_EQ(rig.Seen(sim::Record::Unknown).size(), 0u);
    rig.sim.PushReading();
    Event e;
    EXPECT_TRUE(rig.NextEvent(&e, 1500));
}

INSTANTIATE_TEST_SUITE_P(Models, ListenerLineDown,
                         ::testing::Values(DownCase{22, true, true, 2, 1}, DownCase{32, true, false, 0, 1},
                                           DownCase{32, false, true, 0, 1}));

}  // namespace
