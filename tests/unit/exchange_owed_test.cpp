// Replies that belong to other requests, on the scripted line with a
// virtual clock: a scale that answers late, across attempts and calls (the
// line's account kept between calls), a request the scale never answers,
// the widened wait of a slow line, two scales answering one request, and
// no minus zero in a reading.
#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "devices/ModelTable.h"
#include "scales/exchange/Exchange.h"
#include "tests/unit/exchange_scripted_line.h"
#ifndef _WIN32
#include "sim/Models.h"
#endif

using zel::exchange::CycleOptions;
using zel::exchange::LineAccount;
using zel::exchange::PolledProtocol;
using zel::exchange::Reading;
using zel::exchange::RunReadCycle;
using zeltest::ScriptedLine;
using zeltest::ScriptedSession;

namespace {

using Bytes = std::vector<uint8_t>;

// STX, weight in two bytes, ETX.
bool Accept4(const uint8_t* f, size_t n) { return n == 4 && f[0] == 0x02 && f[3] == 0x03; }
zel::exchange::Decoded Decode4(const uint8_t* f, size_t, Reading& out) {
    out.weight = f[1] * 256 + f[2];
    out.stable = 1;
    return 0;
}
const uint8_t kRequest[] = {0x51};

PolledProtocol Stx(zel::exchange::HeaderPolicy policy = zel::exchange::HeaderPolicy::kStrict) {
    return PolledProtocol{.request = kRequest,
                          .requestLength = 1,
                          .replyLength = 4,
                          .header = {0x02, 0},
                          .headerCount = policy == zel::exchange::HeaderPolicy::kNone ? 0 : 1,
                          .policy = policy,
                          .drainBufferSize = 64,
                          .accepts = Accept4,
                          .decode = Decode4};
}

Bytes StxFrame(int weight) {
    return {0x02, static_cast<uint8_t>(weight >> 8), static_cast<uint8_t>(weight & 0xFF), 0x03};
}

// A scale that answers each complete request `late` ms after it with what
// it shows at the request (`lost`: the requests, counted from 0, it never
// answers; `second`: another scale answers too, `gap` ms after the first).
struct Scale {
    std::function<Bytes(int shown)> frame;
    int requestLength = 1;
    int shown = 0;
    uint64_t late = 0;
    std::vector<int> lost;
    std::vector<int> halves;  // requests answered with the first half of the frame only
    bool second = false;
    uint64_t gap = 0;
    int requests = 0;

    void Attach(ScriptedLine& line) {
        auto written = std::make_shared<int>(0);
        line.onWrite = [this, written](ScriptedLine& l, const Bytes& bytes) {
            *written += static_cast<int>(bytes.size());
            if (*written < requestLength) return;
            *written = 0;
            const int n = requests++;
            for (int x : lost)
                if (x == n) return;
            Bytes f = frame(shown);
            for (int x : halves)
                if (x == n) f.resize(f.size() / 2);
            l.Arrive(late, f);
            if (second) l.Arrive(late + gap, frame(shown + 1111));
        };
    }
};

struct Call {
    int32_t result;
    Reading io;
    uint64_t tookMs;
};

Call Weigh(const PolledProtocol& p, ScriptedLine& line, LineAccount& account) {
    ScriptedSession session;
    CycleOptions options;
    options.account = &account;
    Call c;
    const uint64_t start = line.now;
    c.result = RunReadCycle(p, line, session, c.io, options);
    c.tookMs = line.now - start;
    return c;
}

}  // namespace

TEST(OwedReplies, LateScaleAcrossAttemptsAndCalls) {
    // The weight changes before every call. What each call may give: the
    // weight shown at its start, or no reading; and, on a line that keeps
    // answering this late, the weight of every call from the third on.
    const PolledProtocol p = Stx();
    for (uint64_t late : {0, 50, 450, 520, 600, 990, 1100, 1600, 2400, 3000}) {
        SCOPED_TRACE(testing::Message() << late << " ms late");
        ScriptedLine line;
        LineAccount account;
        Scale scale;
        scale.frame = StxFrame;
        scale.late = late;
        scale.Attach(line);
        for (int call = 0; call < 6; ++call) {
            scale.shown = 1000 + call;
            const Call c = Weigh(p, line, account);
            if (c.result == 0) {
                EXPECT_EQ(c.io.weight, scale.shown) << "call " << call;
            } else {
                EXPECT_EQ(c.io.weight, 0.0) << "call " << call;
            }
            if (call >= 2) {
                EXPECT_EQ(c.result, 0) << "call " << call;
            }
            if (late == 0) {
                EXPECT_EQ(c.result, 0) << "call " << call;
            }
            // The first attempt's wait is widened to the line's delay, and
            // nothing waits beyond the bound for a reply.
            EXPECT_LE(c.tookMs, 2u * zel::exchange::kOwedReplyMs + 3u * 500u) << "call " << call;
        }
    }
}

TEST(OwedReplies, LostRequestIsAwaitedOnlyAsLongAsTheLineShowsItNeeds) {
    struct Case {
        const char* name;
        std::vector<int> lost;     // requests the scale never answers
        std::vector<int> halves;   // requests it answers with half a frame
        int firstResult;
        uint64_t secondMaxMs;      // the next call, which finds the line quiet
    } cases[] = {
        // Nothing came for the first call's three requests: they may still
        // come, until 3.5 s after each.
        {"every request of a call", {0, 1, 2}, {}, 3, zel::exchange::kOwedReplyMs},
        // Half of each reply came: the rest comes at the line's pace or not
        // at all.
        {"half of every reply", {}, {0, 1, 2}, 3, 600},
        // The second attempt's reply came at once: the first request's
        // reply is the one that came, or never comes; the second's is not
        // awaited much longer than that one took.
        {"the first attempt's", {0}, {}, 0, 1200},
    };
    const PolledProtocol p = Stx();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine line;
        LineAccount account;
        Scale scale;
        scale.frame = StxFrame;
        scale.late = 5;
        scale.lost = c.lost;
        scale.halves = c.halves;
        scale.Attach(line);
        scale.shown = 1000;
        EXPECT_EQ(Weigh(p, line, account).result, c.firstResult);
        scale.shown = 2000;
        const Call second = Weigh(p, line, account);
        EXPECT_EQ(second.result, 0);
        EXPECT_EQ(second.io.weight, 2000.0);
        EXPECT_LE(second.tookMs, c.secondMaxMs);
        // And then the line is read at once.
        scale.shown = 3000;
        const Call third = Weigh(p, line, account);
        EXPECT_EQ(third.result, 0);
        EXPECT_EQ(third.io.weight, 3000.0);
        EXPECT_LE(third.tookMs, 5u + zel::exchange::kCollisionWindowMs);
    }
}

TEST(OwedReplies, SlowLineGetsAWiderWaitAndItNarrowsAgain) {
    // 1200 ms late: once seen, the first attempt waits long enough, and a
    // call is one request. When the line is quick again, after a few
    // replies the wait is the protocol's own.
    const PolledProtocol p = Stx();
    ScriptedLine line;
    LineAccount account;
    Scale scale;
    scale.frame = StxFrame;
    scale.late = 1200;
    scale.Attach(line);
    for (int call = 0; call < 4; ++call) {
        scale.shown = 1000 + call;
        Weigh(p, line, account);
    }
    EXPECT_GE(account.WaitMs(500), 1200);
    EXPECT_LE(account.WaitMs(500), zel::exchange::kOwedReplyMs);
    const int before = scale.requests;
    scale.shown = 2000;
    const Call c = Weigh(p, line, account);
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.io.weight, 2000.0);
    EXPECT_EQ(scale.requests - before, 1);
    scale.late = 5;
    for (int call = 0; call < 4; ++call) Weigh(p, line, account);
    EXPECT_EQ(account.WaitMs(500), 500);
}

TEST(OwedReplies, ForgottenWithTheConnection) {
    // A new connection carries none of the old one's replies: nothing is
    // awaited, the next request goes out at once.
    LineAccount account;
    account.Sent(100);
    account.Sent(600);
    EXPECT_EQ(account.Owed(700), 2u);
    account.Forget();
    EXPECT_EQ(account.Owed(700), 0u);
    // And each expires on its own, 3.5 s after its request.
    account.Sent(1000);
    EXPECT_EQ(account.Owed(1000 + zel::exchange::kOwedReplyMs - 1), 1u);
    EXPECT_EQ(account.Owed(1000 + zel::exchange::kOwedReplyMs), 0u);
}

TEST(OwedReplies, HeaderlessRestOfAnEarlierCallsFrameIsNeverSpliced) {
    // A header-less frame found only by its place: half of a late reply came
    // before the call ended, the rest lands in the next call, ahead of that
    // call's own reply. Every field of the next reading is its own.
    PolledProtocol p = Stx(zel::exchange::HeaderPolicy::kNone);
    ScriptedLine line;
    LineAccount account;
    int requests = 0;
    line.onWrite = [&](ScriptedLine& l, const Bytes&) {
        const Bytes f = StxFrame(1000 + requests);
        if (requests++ == 2) {
            l.Trickle(400, 150, f);  // the third attempt's reply: two bytes in, two after the call
        } else if (requests > 3) {
            l.Arrive(100, f);  // after the first byte of the rest
        }
    };
    EXPECT_EQ(Weigh(p, line, account).result, 3);
    const Call c = Weigh(p, line, account);
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.io.weight, 1003.0);
}

TEST(Collisions, SecondFrameRightAfterTheReplyFailsTheAttempt) {
    struct Case {
        const char* name;
        PolledProtocol protocol;
        uint64_t gap;  // ms after the first frame
        int32_t result;
    };
    const Case cases[] = {
        {"header, back to back", Stx(), 0, 3},
        {"header, inside the window", Stx(), zel::exchange::kCollisionWindowMs - 1, 3},
        {"header-less, back to back", Stx(zel::exchange::HeaderPolicy::kNone), 0, 3},
        {"header, after the window", Stx(), zel::exchange::kCollisionWindowMs + 5, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine line;
        LineAccount account;
        Scale scale;
        scale.frame = StxFrame;
        scale.late = 5;
        scale.second = true;
        scale.gap = c.gap;
        scale.shown = 1000;
        scale.Attach(line);
        const Call call = Weigh(c.protocol, line, account);
        EXPECT_EQ(call.result, c.result);
        EXPECT_EQ(call.io.weight, c.result == 0 ? 1000.0 : 0.0);
    }
}

TEST(Collisions, BytesThatMakeNoFrameAfterTheReplyAreNoCollision) {
    // A line end, the start of a stale frame: the reading stands.
    for (const Bytes& after : {Bytes{0x0D, 0x0A}, Bytes{0x02, 0x03}, Bytes{0x02, 0x01, 0x02, 0x04}}) {
        ScriptedLine line;
        LineAccount account;
        line.onWrite = [&](ScriptedLine& l, const Bytes&) {
            Bytes f = StxFrame(1234);
            f.insert(f.end(), after.begin(), after.end());
            l.Arrive(5, f);
        };
        const Call c = Weigh(Stx(), line, account);
        EXPECT_EQ(c.result, 0);
        EXPECT_EQ(c.io.weight, 1234.0);
        // The window is all a prompt call pays for it.
        EXPECT_LE(c.tookMs, 5u + zel::exchange::kCollisionWindowMs);
    }
}

TEST(Readings, NoMinusZero) {
    // A scale showing "-0.000": weight, price and cost read as 0.
    const PolledProtocol p = {.request = kRequest,
                              .requestLength = 1,
                              .replyLength = 4,
                              .drainBufferSize = 64,
                              .accepts = Accept4,
                              .decode = [](const uint8_t*, size_t, Reading& out) -> zel::exchange::Decoded {
                                  out.weight = -0.0;
                                  out.price = -0.0;
                                  out.cost = -0.0;
                                  return 0;
                              }};
    ScriptedLine line;
    line.onWrite = [](ScriptedLine& l, const Bytes&) { l.Arrive(5, StxFrame(0)); };
    ScriptedSession session;
    Reading io;
    ASSERT_EQ(RunReadCycle(p, line, session, io), 0);
    EXPECT_FALSE(std::signbit(io.weight));
    EXPECT_FALSE(std::signbit(io.price));
    EXPECT_FALSE(std::signbit(io.cost));
    const Bytes f = StxFrame(0);
    const auto j = zel::exchange::JudgeFrame(p, f.data(), f.size());
    EXPECT_FALSE(std::signbit(j.reading.weight));
}

#ifndef _WIN32
TEST(OwedReplies, EveryPolledModelAnsweringLate) {
    // Every polled model with a request, its simulated scale's frames,
    // answering d ms late for d from 0 to 3000 in steps of 150, the weight
    // changing before each call: no call gives another call's weight, and
    // a line that answers this late every time is read from the fourth call
    // on (three delays that agree widen the wait).
    size_t count = 0;
    const zel::devices::ModelInfo* rows = zel::devices::AllModels(&count);
    int models = 0;
    for (size_t i = 0; i < count; ++i) {
        const int model = rows[i].number;
        const PolledProtocol* p = zel::devices::PolledProtocolOf(model);
        const sim::SimModel* s = sim::FindSimModel(model);
        if (rows[i].kind != zel::devices::ModelKind::kPolled || !p || !s || p->requestLength == 0 || p->stream)
            continue;
        ++models;
        auto frame = [s](int shown) {
            sim::Display d;
            d.weight = shown / 1000.0;
            d.price = 56.78;
            d.cost = std::round(d.weight * d.price * 100.0) / 100.0;
            const std::string f = s->encode(d);
            return Bytes(f.begin(), f.end());
        };
        for (uint64_t late = 0; late <= 3000; late += 150) {
            SCOPED_TRACE(testing::Message() << "model " << model << ", " << late << " ms late");
            ScriptedLine line;
            LineAccount account;
            Scale scale;
            scale.frame = frame;
            scale.requestLength = p->requestLength;
            scale.late = late;
            scale.Attach(line);
            for (int call = 0; call < 5; ++call) {
                scale.shown = 1234 + 111 * call;
                const Bytes truth = frame(scale.shown);
                const auto j = zel::exchange::JudgeFrame(*p, truth.data(), truth.size());
                const Call c = Weigh(*p, line, account);
                if (c.result == 0) {
                    EXPECT_EQ(c.io.weight, j.reading.weight) << "call " << call;
                    EXPECT_EQ(c.io.cost, j.reading.cost) << "call " << call;
                }
                if (call >= 3) {
                    EXPECT_EQ(c.result, j.decoded.result) << "call " << call;
                }
            }
        }
    }
    EXPECT_GT(models, 20);
}
#endif
