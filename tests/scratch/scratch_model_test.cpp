// A pushing model added to the table as a row and its description alone:
// detect's judging names it from its bytes, and the per-press judging that
// decode prints takes each press, with nothing in tools/ changed for it.
#include <gtest/gtest.h>

#include <string>

#include "devices/ModelTable.h"
#include "tools/detect_plan.h"

using namespace zelscales::detect;

TEST(ScratchModel, DetectAndDecodeTakeANewPushingModelFromItsRow) {
    ASSERT_TRUE(Pushes(42));
    // Listened for at its framing, and given a press window.
    const Plan plan = BuildPlan({9600}, false);
    bool heard = false, pressed = false;
    for (const Step& s : plan.steps) {
        for (int m : s.models) {
            heard = heard || (m == 42 && s.listen && !s.presses);
            pressed = pressed || (m == 42 && s.presses);
        }
    }
    EXPECT_TRUE(heard);
    EXPECT_TRUE(pressed);

    Step step;
    step.listen = true;
    step.models = {5, 6, 15, 22, 32, 42};
    const std::string press = "#1234\r";
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<size_t> bursts;
        std::string models;
    };
    const Case cases[] = {
        {"two presses", press + press, {6}, "42"},
        {"two presses back to back", press + press, {}, "42"},
        {"one press", press, {}, ""},
        {"a press inside noise", "xx" + press + "yy" + press + "z", {}, ""},
        {"letters in place of digits", "#12a4\r#12a4\r", {6}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Finding f = Judge(step, c.bytes, c.bursts);
        EXPECT_EQ(GroupName(f.models), c.models);
        // In the row's unit (grams), as the description reads it.
        if (!f.models.empty()) {
            EXPECT_DOUBLE_EQ(f.verdict.reading.weight, 1234.0);
        }
    }
    EXPECT_TRUE(OneReadingHeard(step, press));

    // Each press judged as decode judges a log's blocks.
    const std::string log = press + press + press;
    const std::vector<Press> presses =
        JudgePresses(42, reinterpret_cast<const uint8_t*>(log.data()), log.size(), {6, 12});
    ASSERT_EQ(presses.size(), 3u);
    for (const Press& p : presses) {
        EXPECT_TRUE(p.taken) << p.why;
        EXPECT_EQ(p.end - p.start, 6u);
        EXPECT_DOUBLE_EQ(p.reading.weight, 1234.0);
    }
    const std::string bad = "#12a4\r";
    const std::vector<Press> refused = JudgePresses(42, reinterpret_cast<const uint8_t*>(bad.data()), bad.size());
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_FALSE(refused[0].taken);
    EXPECT_EQ(refused[0].why, "digits");
}
