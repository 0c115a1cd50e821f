// A CAS scale that answers the first request byte at once is weighed in the
// wire time of the exchange, not after the protocol's 150 ms pause; one that
// stays silent until the whole request is in still gets the pause, and so
// does every scale when settings.ini asks for the fixed pause.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/sys.h"
#include "tests/integration/polled_support.h"
#include "tests/unit/transport_test_util.h"

namespace {

using zeltest::PolledRig;
using zeltest::Wire;

// Median time of a few weighings with the line kept open.
uint64_t MedianMs(PolledRig& rig, double expected, int* failures) {
    std::vector<uint64_t> took;
    for (int i = 0; i < 7; ++i) {
        zeltest::Weighing w = rig.Weigh();
        if (!w.ok || w.weight != expected) ++*failures;
        took.push_back(w.tookMs);
    }
    std::sort(took.begin(), took.end());
    return took[took.size() / 2];
}

struct Case {
    int model;
    bool ack;
    bool fixedPause;
    bool fast;
};

class SplitSend : public ::testing::TestWithParam<Case> {};

TEST_P(SplitSend, PauseOnlyWhenTheScaleNeedsIt) {
    const Case c = GetParam();
    std::unique_ptr<zeltest::ScopedFile> settings;
    if (c.fixedPause) settings.reset(new zeltest::ScopedFile(zel::host::BesideLibrary("settings.ini"), "[OPTIONS]\r\nFixedSplitPause=1\r\n"));
    PolledRig rig(c.model, Wire::Pty, true);
    ASSERT_EQ(rig.openCode, 0);
    rig.sim.SetWeight(1.234);
    rig.sim.SetPrice(1.0);
    rig.sim.SetPaceBaud(9600);
    rig.sim.SetAckFirstByte(c.ack);
    int failures = 0;
    rig.Weigh();  // opens the line
    // CAS text reports kilograms as shown, CAS-LP grams.
    const uint64_t median = MedianMs(rig, c.model == 14 ? 1234.0 : 1.234, &failures);
    EXPECT_EQ(failures, 0);
    if (c.fast) {
        // About 20 ms of wire time at 9600 baud; far below the pause even on
        // a busy machine.
        EXPECT_LT(median, 120u);
    } else {
        EXPECT_GE(median, 150u);
    }
}

INSTANTIATE_TEST_SUITE_P(Cas, SplitSend,
                         ::testing::Values(Case{13, true, false, true}, Case{14, true, false, true},
                                           Case{13, false, false, false}, Case{13, true, true, false}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             const Case& c = info.param;
                             return "model" + std::to_string(c.model) + (c.ack ? "_ack" : "_silent") +
                                    (c.fixedPause ? "_fixed" : "");
                         });

}  // namespace
