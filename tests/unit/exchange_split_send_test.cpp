// The split send's pause spent waiting for the scale: a CAS scale answers the
// first request byte (ENQ) with the frame's header (ACK) at once, and the
// rest of the request follows then; a NAK, any other byte or silence gets the
// whole 150 ms, and so does every scale when the fixed pause is chosen.
#include <gtest/gtest.h>

#include "scales/Cas.h"
#include "scales/exchange/Exchange.h"
#include "tests/unit/exchange_scripted_line.h"

using zel::exchange::CycleOptions;
using zel::exchange::Reading;
using zel::exchange::RunReadCycle;
using zeltest::ScriptedLine;
using zeltest::ScriptedSession;

namespace {

// A CAS text frame for 1.234 kg, stable.
std::vector<uint8_t> CasFrame() {
    const char text[] = "\x06\x01\x02S  1.234 kg\x03\x04";
    return std::vector<uint8_t>(text, text + 16);
}

struct Case {
    const char* name;
    int firstByte;         // what the scale sends right after ENQ (-1: nothing)
    uint64_t answerAfter;  // ms after ENQ
    bool fixedPause;
    uint64_t restAt;  // when DC1 must go out
    int32_t result;
};

}  // namespace

TEST(SplitSend, RestGoesWhenTheScaleHasAnswered) {
    const Case cases[] = {
        {"ACK at once", 0x06, 3, false, 3, 0},
        {"ACK after 40 ms", 0x06, 40, false, 40, 0},
        {"ACK, fixed pause chosen", 0x06, 3, true, 150, 0},
        {"silent until the whole request", -1, 0, false, 150, 0},
        // A NAK is no header: the whole pause, and the strict header policy
        // then drops it (50 ms) before the frame comes.
        {"NAK", 0x15, 3, false, 150, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine line;
        ScriptedSession session;
        line.onWrite = [&](ScriptedLine& l, const std::vector<uint8_t>& bytes) {
            std::vector<uint8_t> frame = CasFrame();
            if (bytes.size() == 1 && bytes[0] == 0x05) {
                if (c.firstByte >= 0) l.Arrive(c.answerAfter, {static_cast<uint8_t>(c.firstByte)});
            } else if (bytes.size() == 1 && bytes[0] == 0x11) {
                // The header went already when it was the answer to ENQ.
                if (c.firstByte == 0x06) frame.erase(frame.begin());
                l.Arrive(2, frame);
            }
        };
        CycleOptions options;
        options.fixedSplitPause = c.fixedPause;
        Reading io;
        EXPECT_EQ(RunReadCycle(zel::cas::kCasProtocol, line, session, io, options), c.result);
        EXPECT_DOUBLE_EQ(io.weight, 1.234);
        ASSERT_GE(line.writes.size(), 2u);
        EXPECT_EQ(line.writes[0].at, 0u);
        EXPECT_EQ(line.writes[1].at, c.restAt);
        EXPECT_EQ(line.writes.size(), 2u) << "one attempt";
    }
}
