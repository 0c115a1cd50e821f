// The scale's state alone: what messages do to the display, what they
// answer, and what the log keeps.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "platform/sync.h"
#include "sim/Models.h"
#include "sim/ScaleState.h"

namespace {

using Msg = sim::CommandMatcher::Message;
using K = sim::CommandMatcher;

std::string ShowWeight(const sim::Display& d) { return std::to_string(static_cast<long long>(std::llround(d.weight * 1000))); }

sim::SimModel Standard() {
    sim::SimModel m;
    m.model = 9999;
    m.encode = ShowWeight;
    m.effect = sim::StandardEffect;
    m.answer = sim::EchoAnswer;
    return m;
}

TEST(SimScaleState, MessagesChangeTheDisplayBeforeTheirRecord) {
    const struct {
        const char* name;
        std::vector<Msg> msgs;
        double weight, tare, price;
        bool zeroed;
        int requests;
        std::vector<sim::Record::Kind> kinds;
        std::string lastAnswer;
    } cases[] = {
        {"request: counted, display kept", {{K::Request, "R", 0}}, 1.5, 0.2, 0, false, 1, {sim::Record::Request}, ""},
        {"tare takes the pan", {{K::Tare, "T", 0}}, 0, 1.7, 0, true, 0, {sim::Record::Tare}, "T"},
        {"zero", {{K::Zero, "Z", 0}}, 0, 0.2, 0, true, 0, {sim::Record::Zero}, "Z"},
        {"price in hundredths", {{K::Price, "P1250", 1250}}, 1.5, 0.2, 12.5, false, 0, {sim::Record::Price}, "P1250"},
        {"unknown bytes: recorded only", {{K::Unknown, "xx", 0}}, 1.5, 0.2, 0, false, 0, {sim::Record::Unknown}, ""},
        {"ack then requests",
         {{K::Ack, "\x06", 0}, {K::Request, "R", 0}, {K::Request, "R", 0}},
         1.5, 0.2, 0, false, 2,
         {sim::Record::Ack, sim::Record::Request, sim::Record::Request}, ""},
    };
    const sim::SimModel model = Standard();
    for (const auto& c : cases) {
        platform::RecursiveMutex mu;
        sim::ScaleState st(&model, mu);
        st.SetWeight(1.5);
        st.SetTare(0.2);
        std::vector<std::string> seenFrames;
        st.SetObserver([&](const sim::Record&) { seenFrames.push_back(st.Frame()); });
        std::string answer;
        for (const Msg& m : c.msgs) {
            st.Apply(m);
            answer = st.Answer(m);
        }
        const sim::Display d = st.Shown();
        EXPECT_DOUBLE_EQ(d.weight, c.weight) << c.name;
        EXPECT_DOUBLE_EQ(d.tare, c.tare) << c.name;
        EXPECT_DOUBLE_EQ(d.price, c.price) << c.name;
        EXPECT_EQ(d.zeroed, c.zeroed) << c.name;
        EXPECT_EQ(st.Requests(), c.requests) << c.name;
        EXPECT_EQ(answer, c.lastAnswer) << c.name;
        const std::vector<sim::Record> log = st.Log();
        ASSERT_EQ(log.size(), c.kinds.size()) << c.name;
        for (size_t i = 0; i < log.size(); ++i) EXPECT_EQ(log[i].kind, c.kinds[i]) << c.name << " " << i;
        // The observer of the last record already saw its effect.
        ASSERT_FALSE(seenFrames.empty()) << c.name;
        EXPECT_EQ(seenFrames.back(), ShowWeight(d)) << c.name;
        EXPECT_TRUE(st.WaitReceived(c.kinds.size(), 0)) << c.name;
    }
}

TEST(SimScaleState, CostIsComputedUnlessFixedAndBadValuesAreIgnored) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        const char* name;
        double weight, price, fixedCost;  // fixedCost NaN: not fixed
        double cost;
    } cases[] = {
        {"rounded to hundredths", 1.234, 10.0, nan, 12.34},
        {"half a cent rounds away from zero", 0.125, 1.0, nan, 0.13},
        {"fixed wins", 2.0, 3.0, 99.99, 99.99},
        {"infinite weight ignored", inf, 2.0, nan, 0.0},
        {"NaN price ignored", 1.0, nan, nan, 0.0},
    };
    for (const auto& c : cases) {
        platform::RecursiveMutex mu;
        sim::ScaleState st(nullptr, mu);
        st.SetWeight(c.weight);
        st.SetPrice(c.price);
        if (!std::isnan(c.fixedCost)) st.SetCost(c.fixedCost);
        EXPECT_DOUBLE_EQ(st.Current().cost, c.cost) << c.name;
        EXPECT_EQ(st.Frame(), "") << c.name;  // no descriptor, no frame
    }
}

TEST(SimScaleState, LogKeepsTheNewestAndCountsOnlyReceived) {
    platform::RecursiveMutex mu;
    sim::ScaleState st(nullptr, mu);
    st.AddRecord(sim::Record::Request, "first", 0);
    st.FrameDone("frame", 1234);
    st.AddRecord(sim::Record::LineCut, "", 0);
    EXPECT_EQ(st.Received(), std::vector<std::string>{"first"});
    EXPECT_EQ(st.Frames(), 1);
    EXPECT_EQ(st.LastFrameSentMs(), 1234u);
    EXPECT_TRUE(st.WaitReceived(1, 0));
    EXPECT_FALSE(st.WaitReceived(2, 0));

    st.ClearLog();
    EXPECT_TRUE(st.Log().empty());
    EXPECT_FALSE(st.WaitReceived(1, 0));
    for (size_t i = 0; i < sim::ScaleState::kLogLimit + 1; ++i)
        st.AddRecord(sim::Record::Unknown, std::to_string(i), 0);
    const std::vector<sim::Record> log = st.Log();
    ASSERT_EQ(log.size(), sim::ScaleState::kLogLimit / 2 + 1);
    EXPECT_EQ(log.back().bytes, std::to_string(sim::ScaleState::kLogLimit));
    // Trimming the log keeps the count of everything received.
    EXPECT_TRUE(st.WaitReceived(sim::ScaleState::kLogLimit + 1, 0));
}

}  // namespace
