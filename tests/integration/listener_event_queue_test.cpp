// The platform's event queue between the listeners and the application: it
// holds one event until the component deepens it, and refuses (drops) events
// while it is full. Key presses made while the application is busy with an
// earlier reading must all arrive, in the order they were made.
#include <string>
#include <vector>

#include "tests/integration/listener_support.h"

using zeltest::Event;
using zeltest::Line;
using zeltest::ListenerRig;

namespace {

// The weight field of a data line (up to the first ';').
std::string WeightField(const std::string& line) { return line.substr(0, line.find(';')); }

// Shows `kg` and presses the send key.
void Press(ListenerRig& rig, double kg) {
    rig.sim.SetWeight(kg);
    rig.sim.PushReading();
}

class EventQueue : public ::testing::TestWithParam<int> {};

TEST_P(EventQueue, BurstWhileApplicationIsBusyArrivesWholeAndInOrder) {
    const int model = GetParam();
    // Model 32 delivers the scale's units (grams here) times the coefficient.
    ListenerRig rig(model, Line::Pty, model == 32 ? "0.001" : nullptr);
    ASSERT_EQ(rig.openCode, 0);
    ASSERT_TRUE(rig.Settle());
    EXPECT_GE(rig.driver->EventBufferDepth(), 8) << "the component set no depth: the platform keeps one event";

    // The application is busy (takes no event) while the operator presses
    // the key five times.
    const double weights[] = {1.001, 1.002, 1.003, 1.004, 1.005};
    for (double kg : weights) {
        Press(rig, kg);
        platform::SleepMs(400);
    }
    for (int i = 0; i < 50 && rig.driver->PendingEvents() < 5; ++i) platform::SleepMs(20);
    EXPECT_EQ(rig.driver->DroppedEvents(), 0u);

    std::vector<Event> got = rig.Collect(300);
    ASSERT_EQ(got.size(), 5u);
    for (size_t i = 0; i < got.size(); ++i) {
        // Model 15 prints seven characters, the others six.
        const std::string field = WeightField(got[i].data);
        EXPECT_NE(field.find(std::to_string(1001 + static_cast<int>(i)).insert(1, ".")), std::string::npos)
            << "event " << i << ": " << got[i].data;
    }
}

INSTANTIATE_TEST_SUITE_P(Models, EventQueue, ::testing::Values(5, 32, 6, 15, 22),
                         [](const ::testing::TestParamInfo<int>& p) { return "model_" + std::to_string(p.param); });

// A platform that keeps its depth of one: a reading it refuses is offered
// again until the application has taken the earlier one.
TEST(EventQueue, RefusedReadingIsOfferedAgainUntilTaken) {
    zel::host::Component::Options keepsDepth;
    keepsDepth.refuseEventBufferDepth = true;
    ListenerRig rig(5, Line::Pty, nullptr, keepsDepth);
    ASSERT_EQ(rig.openCode, 0);
    ASSERT_TRUE(rig.Settle());
    ASSERT_EQ(rig.driver->EventBufferDepth(), 1);

    Press(rig, 2.001);
    for (int i = 0; i < 50 && rig.driver->PendingEvents() < 1; ++i) platform::SleepMs(20);
    ASSERT_EQ(rig.driver->PendingEvents(), 1u);
    Press(rig, 2.002);
    // The second reading is refused at least once while the first waits.
    for (int i = 0; i < 100 && rig.driver->DroppedEvents() == 0; ++i) platform::SleepMs(10);
    EXPECT_GE(rig.driver->DroppedEvents(), 1u);
    platform::SleepMs(300);  // still busy

    std::vector<Event> got = rig.Collect(1500);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(WeightField(got[0].data), " 2.001");
    EXPECT_EQ(WeightField(got[1].data), " 2.002");
}

TEST(EventQueue, CloseDoesNotWaitOutTheRetries) {
    zel::host::Component::Options keepsDepth;
    keepsDepth.refuseEventBufferDepth = true;
    ListenerRig rig(5, Line::Pty, nullptr, keepsDepth);
    ASSERT_EQ(rig.openCode, 0);
    ASSERT_TRUE(rig.Settle());
    Press(rig, 3.001);
    for (int i = 0; i < 50 && rig.driver->PendingEvents() < 1; ++i) platform::SleepMs(20);
    Press(rig, 3.002);
    for (int i = 0; i < 100 && rig.driver->DroppedEvents() == 0; ++i) platform::SleepMs(10);
    ASSERT_GE(rig.driver->DroppedEvents(), 1u);

    const uint64_t start = platform::MonotonicMs();
    EXPECT_TRUE(rig.Close());
    // Well inside the 2000 ms the retries of one reading may take.
    EXPECT_LT(platform::MonotonicMs() - start, 1500u);
}

}  // namespace
