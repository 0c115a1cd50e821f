// The listener's frame read on a virtual clock: how much of a frame a read
// takes in, and when it ends, for bytes that come at once, one by one, late
// after a silence, too slowly, or not at all.
#include <gtest/gtest.h>

#include <vector>

#include "scales/listener/ListenerScale.h"
#include "tests/unit/exchange_scripted_line.h"

namespace {

using zel::listener::FrameReadHooks;
using zel::listener::ReadClock;
using zel::listener::ReadFrameBytes;
using zeltest::ScriptedLine;

class Hooks : public FrameReadHooks {
public:
    explicit Hooks(ScriptedLine& line) : line_(line) {}
    void BeforeRead() override { ++reads; }
    bool LineClosed() override { return line_.closed; }
    bool Stopped() override { return stopAfterReads > 0 && reads >= stopAfterReads; }
    int reads = 0;
    int stopAfterReads = 0;  // 0: never asked to stop

private:
    ScriptedLine& line_;
};

std::vector<uint8_t> Frame(int length) {
    std::vector<uint8_t> bytes;
    for (int i = 0; i < length; ++i) bytes.push_back(static_cast<uint8_t>('0' + i % 10));
    return bytes;
}

TEST(ListenerFrameRead, ReadsAgainstTheBudgetOnAVirtualClock) {
    const int kLength = 25;
    struct Case {
        const char* name;
        bool canSleep;       // a line the listener may idle on
        uint64_t delay;      // first byte after
        uint64_t gap;        // ms between bytes (0: all at once)
        int arriving;        // bytes the scale sends
        int held;            // bytes of the frame already in hand
        bool closed;         // the line is gone
        int stopAfterReads;  // a stop comes after this many reads
        int count;           // bytes the read returns
        uint64_t endsAt;     // virtual time the read ends
    };
    const Case cases[] = {
        {"whole frame at once", false, 10, 0, kLength, 0, false, 0, kLength, 10},
        {"byte by byte within the budget", false, 0, 4, kLength, 0, false, 0, kLength, 96},
        // After an idle wait the first byte starts a whole budget: a frame
        // that begins late in a read is not cut.
        {"late frame after a silence", true, 2000, 4, kLength, 0, false, 0, kLength, 2096},
        {"late frame on a line that cannot idle", false, 480, 4, kLength, 0, false, 0, 5, 500},
        // 30 ms a byte: the budget is spent after 17 bytes.
        {"too slow a line", false, 0, 30, kLength, 0, false, 0, 17, 500},
        {"silence", false, 0, 0, 0, 0, false, 0, 0, 500},
        {"held bytes and the rest", false, 5, 0, kLength - 7, 7, false, 0, kLength, 5},
        {"held bytes and nothing", false, 0, 0, 0, 7, false, 0, 7, 500},
        {"closed line", false, 0, 0, kLength, 0, true, 0, 0, 0},
        {"stop between bytes", false, 0, 4, kLength, 0, false, 3, 2, 4},
        {"short frame waits out the budget", false, 0, 0, 10, 0, false, 0, 10, 500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine line;
        line.canSleep = c.canSleep;
        line.closed = c.closed;
        const std::vector<uint8_t> sent = Frame(kLength);
        const std::vector<uint8_t> arriving(sent.begin() + c.held, sent.begin() + c.held + c.arriving);
        if (c.gap == 0) line.Arrive(c.delay, arriving);
        else line.Trickle(c.delay, c.gap, arriving);
        Hooks hooks(line);
        hooks.stopAfterReads = c.stopAfterReads;
        ReadClock clock;
        std::vector<uint8_t> frame(kLength, 0xEE);
        for (int i = 0; i < c.held; ++i) frame[i] = sent[i];
        const int count = ReadFrameBytes(line, clock, hooks, frame.data(), kLength, c.held);
        EXPECT_EQ(count, c.count);
        EXPECT_EQ(line.now, c.endsAt);
        if (!c.closed && c.count == c.held + c.arriving) {
            EXPECT_EQ(std::vector<uint8_t>(frame.begin(), frame.begin() + count),
                      std::vector<uint8_t>(sent.begin(), sent.begin() + count));
        }
    }
}

TEST(ListenerFrameRead, NothingBeyondTheFrameIsTaken) {
    // Two frames back to back: the read stops at the first one's length and
    // leaves the next on the line.
    ScriptedLine line;
    line.Arrive(0, Frame(18));
    line.Arrive(0, Frame(18));
    Hooks hooks(line);
    ReadClock clock;
    uint8_t frame[18];
    EXPECT_EQ(ReadFrameBytes(line, clock, hooks, frame, 18, 0), 18);
    EXPECT_EQ(line.Pending(), 18u);
    // A held count beyond the frame is cut to it.
    EXPECT_EQ(ReadFrameBytes(line, clock, hooks, frame, 18, 40), 18);
    EXPECT_EQ(line.Pending(), 18u);
}

}  // namespace
