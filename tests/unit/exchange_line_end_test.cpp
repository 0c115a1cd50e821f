// The exchange engine where the line itself misbehaves: a connection the
// other side ends after every reply, and input that lands with no time
// passing during a wait.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "scales/Cas.h"
#include "scales/exchange/Exchange.h"
#include "tests/unit/exchange_scripted_line.h"

using zel::exchange::PolledProtocol;
using zel::exchange::Reading;
using zel::exchange::RunReadCycle;
using zeltest::ScriptedLine;
using zeltest::ScriptedSession;

namespace {

const std::vector<uint8_t> kCasReply = {0x06, 0x01, 0x02, 'S', ' ', ' ', '2', '.', '5', '0', '0',
                                        'k',  'g',  ' ',  0x03, 0x04};

// The CAS scale answers every second request byte with a 2.5 kg frame.
void AnswerCas(ScriptedLine& line) {
    line.onWrite = [](ScriptedLine& l, const std::vector<uint8_t>& bytes) {
        if (!bytes.empty() && bytes.back() == 0x11) l.Arrive(5, kCasReply);
    };
}

TEST(ExchangeLineEnd, ConverterThatHangsUpAfterEachReply) {
    // Each call after the first finds the connection ended (the collision
    // window after the reply, or the drain) and connects again before the
    // request: every call gets its reply at the first attempt.
    ScriptedLine line;
    ScriptedSession session;
    session.line = &line;
    line.endsAfterReply = true;
    AnswerCas(line);
    for (int call = 0; call < 4; ++call) {
        SCOPED_TRACE(call);
        const size_t writesBefore = line.writes.size();
        const int ensuresBefore = session.ensures;
        Reading io;
        EXPECT_EQ(RunReadCycle(zel::cas::kCasProtocol, line, session, io), 0);
        EXPECT_DOUBLE_EQ(io.weight, 2.5);
        EXPECT_EQ(line.writes.size() - writesBefore, 2u);  // one attempt
        EXPECT_LE(session.ensures - ensuresBefore, call == 0 ? 1 : 2);
    }
    EXPECT_EQ(session.reconnects, 3);
    EXPECT_EQ(session.releases, 4);
}

TEST(ExchangeLineEnd, ConnectionEndedAndReconnectFails) {
    // The converter hung up and now refuses: the call ends with the connect
    // code, writes nothing and does not release.
    struct RefusingSession : ScriptedSession {
        int32_t EnsureConnected() override {
            ++ensures;
            return line && line->closed ? 1 : 0;  // an open line needs no connect
        }
    };
    ScriptedLine line;
    RefusingSession session;
    session.line = &line;
    line.endsAfterReply = true;
    AnswerCas(line);
    Reading io;
    ASSERT_EQ(RunReadCycle(zel::cas::kCasProtocol, line, session, io), 0);
    const size_t writes = line.writes.size();
    EXPECT_EQ(RunReadCycle(zel::cas::kCasProtocol, line, session, io), 1);
    EXPECT_EQ(line.writes.size(), writes);
    EXPECT_LE(session.ensures, 3);
    EXPECT_EQ(session.releases, 1);
}

TEST(ExchangeLineEnd, FailedLineIsNotReopenedWithinTheCall) {
    // A line that failed (a serial error) is not an ended connection: the
    // call runs out its attempts and the next call reconnects.
    ScriptedLine line;
    ScriptedSession session;
    session.line = &line;
    line.onWrite = [](ScriptedLine& l, const std::vector<uint8_t>&) { l.closed = true; };
    Reading io;
    EXPECT_EQ(RunReadCycle(zel::cas::kCasProtocol, line, session, io), 3);
    EXPECT_EQ(session.ensures, 1);
    EXPECT_EQ(session.reconnects, 0);
    EXPECT_EQ(line.writes.size(), 1u);  // the first byte; then every write fails
    AnswerCas(line);
    EXPECT_EQ(RunReadCycle(zel::cas::kCasProtocol, line, session, io), 0);
    EXPECT_EQ(session.reconnects, 1);
}

// STX, two weight bytes, ETX, with no header policy and a chosen budget.
bool Accept4(const uint8_t* f, size_t n) { return n == 4 && f[0] == 0x02 && f[3] == 0x03; }
zel::exchange::Decoded Decode4(const uint8_t* f, size_t, Reading& out) {
    out.weight = f[1] * 256 + f[2];
    return 0;
}
const uint8_t kRequest[] = {0x51};

PolledProtocol Plain(int budgetMs) {
    return PolledProtocol{.request = kRequest,
                          .requestLength = 1,
                          .replyLength = 4,
                          .budgetMs = budgetMs,
                          .attempts = 1,
                          .drainBufferSize = 64,
                          .accepts = Accept4,
                          .decode = Decode4};
}

TEST(ExchangeLineEnd, WaitEndedByBytesWithNoTimePassingCostsOneMs) {
    // Each of the four bytes lands during a wait that takes no time: four
    // waits of 1 ms each. A budget of 5 fits them; one of 4 is spent by the
    // fourth wait before its byte is read.
    struct Case {
        int budgetMs;
        int32_t result;
    };
    for (Case c : {Case{5, 0}, Case{4, 3}, Case{200, 0}}) {
        SCOPED_TRACE(c.budgetMs);
        ScriptedLine line;
        ScriptedSession session;
        line.onWrite = [](ScriptedLine& l, const std::vector<uint8_t>&) {
            for (uint8_t b : {0x02, 0x01, 0x02, 0x03}) l.ArriveOnWait({b});
        };
        PolledProtocol p = Plain(c.budgetMs);
        Reading io;
        EXPECT_EQ(RunReadCycle(p, line, session, io), c.result);
        if (c.result == 0) {
            EXPECT_DOUBLE_EQ(io.weight, 258.0);
        }
        // No wait took any time; a frame taken is followed by the collision window.
        EXPECT_EQ(line.now, c.result == 0 ? zel::exchange::kCollisionWindowMs : 0u);
    }
}

TEST(ExchangeLineEnd, CasFrameByteByByteWithNoTimePassing) {
    // Sixteen waits ended at once by one byte each cost 16 ms: well within
    // the 500 ms budget, where a whole step per wait (800 ms) would fail.
    ScriptedLine line;
    ScriptedSession session;
    line.onWrite = [](ScriptedLine& l, const std::vector<uint8_t>& bytes) {
        if (bytes.empty() || bytes.back() != 0x11) return;
        for (uint8_t b : kCasReply) l.ArriveOnWait({b});
    };
    Reading io;
    EXPECT_EQ(RunReadCycle(zel::cas::kCasProtocol, line, session, io), 0);
    EXPECT_DOUBLE_EQ(io.weight, 2.5);
    EXPECT_EQ(line.writes.size(), 2u);
    EXPECT_EQ(line.now, 150u + zel::exchange::kCollisionWindowMs);  // the split pause and the collision window
}

TEST(ExchangeLineEnd, ReconnectFailureKeepsAFrameAlreadyAccepted) {
    // A protocol that runs every attempt: the first attempt's frame stands
    // when the converter then hangs up and refuses.
    struct RefusingSession : ScriptedSession {
        int32_t EnsureConnected() override {
            ++ensures;
            return line && line->closed ? 1 : 0;
        }
    };
    ScriptedLine line;
    RefusingSession session;
    session.line = &line;
    line.endsAfterReply = true;
    line.onWrite = [](ScriptedLine& l, const std::vector<uint8_t>&) { l.Arrive(5, {0x02, 0x01, 0x02, 0x03}); };
    PolledProtocol p = Plain(500);
    p.attempts = 3;
    p.stopOnSuccess = false;
    Reading io;
    EXPECT_EQ(RunReadCycle(p, line, session, io), 0);
    EXPECT_DOUBLE_EQ(io.weight, 258.0);
    EXPECT_EQ(line.writes.size(), 1u);
    EXPECT_EQ(session.releases, 1);
}

}  // namespace
