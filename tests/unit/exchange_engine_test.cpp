// The exchange engine against a scripted line with a virtual clock: budget
// accounting, header policies, attempts, draining, split send and the
// connection hand-offs.
#include <gtest/gtest.h>

#include <string>

#include "core/ResultCodes.h"
#include "scales/Cas.h"
#include "scales/MassaK.h"
#include "scales/exchange/Exchange.h"
#include "tests/unit/exchange_scripted_line.h"

using zel::exchange::BudgetScope;
using zel::exchange::HeaderPolicy;
using zel::exchange::PolledProtocol;
using zel::exchange::Reading;
using zel::exchange::RunCommand;
using zel::exchange::RunReadCycle;
using zeltest::ScriptedLine;
using zeltest::ScriptedSession;

namespace {

std::vector<uint8_t> CasFrame(char status, const char* field) {
    std::vector<uint8_t> f = {0x06, 0x01, 0x02, static_cast<uint8_t>(status)};
    for (int i = 0; i < 7; ++i) f.push_back(static_cast<uint8_t>(field[i]));
    f.insert(f.end(), {'k', 'g', ' ', 0x03, 0x04});
    return f;
}

// The CAS scale answers the second request byte; `reply(attempt)` gives what
// it sends for each request (nothing when empty).
void AnswerCas(ScriptedLine& line, std::function<std::vector<uint8_t>(int)> reply, uint64_t delay = 5) {
    auto attempt = std::make_shared<int>(0);
    line.onWrite = [=](ScriptedLine& l, const std::vector<uint8_t>& bytes) {
        if (bytes.empty() || bytes.back() != 0x11) return;
        std::vector<uint8_t> r = reply((*attempt)++);
        if (!r.empty()) l.Arrive(delay, r);
    };
}

bool Accept4(const uint8_t* f, size_t n) { return n == 4 && f[3] == 0x03; }
zel::exchange::Decoded Decode4(const uint8_t* f, size_t, Reading& out) {
    out.weight = f[1] * 256 + f[2];
    out.stable = 1;
    return 0;
}
const uint8_t kOneByteRequest[] = {0x51};

// A small request/reply protocol, varied per test: STX, two weight bytes, ETX.
PolledProtocol Custom(HeaderPolicy policy, BudgetScope scope, bool withRequest = true) {
    return PolledProtocol{.request = withRequest ? kOneByteRequest : nullptr,
                          .requestLength = withRequest ? 1 : 0,
                          .replyLength = 4,
                          .header = {0x02, 0},
                          .headerCount = 1,
                          .policy = policy,
                          .budgetMs = 500,
                          .scope = scope,
                          .drainBufferSize = 1024,
                          .accepts = Accept4,
                          .decode = Decode4};
}

struct CycleRun {
    int32_t result;
    Reading io;
};

CycleRun RunCas(ScriptedLine& line, ScriptedSession& session, const PolledProtocol& p = zel::cas::kCasProtocol) {
    CycleRun r;
    r.io.weight = 99.0;  // the cycle clears what the caller passes
    r.result = RunReadCycle(p, line, session, r.io);
    return r;
}

}  // namespace

TEST(ExchangeEngine, PromptReplyIsTakenWithoutSpendingBudget) {
    ScriptedLine line;
    ScriptedSession session;
    AnswerCas(line, [](int) { return CasFrame('S', "  1.234"); });
    CycleRun r = RunCas(line, session);
    EXPECT_EQ(r.result, 0);
    EXPECT_DOUBLE_EQ(r.io.weight, 1.234);
    EXPECT_EQ(r.io.stable, 1);
    ASSERT_EQ(line.writes.size(), 2u);  // one attempt
    // Split pause plus the reply's 5 ms flight and the collision window, no
    // 50 ms polling step.
    EXPECT_GE(line.now, 150u);
    EXPECT_LE(line.now, 160u + zel::exchange::kCollisionWindowMs);
    EXPECT_EQ(session.ensures, 1);
    EXPECT_EQ(session.releases, 1);
    EXPECT_EQ(session.disconnects, 0);
}

TEST(ExchangeEngine, SplitSendWritesFirstByteThenTheRestAfterThePause) {
    ScriptedLine line;
    ScriptedSession session;
    RunCas(line, session);
    ASSERT_EQ(line.writes.size(), 6u);
    for (int a = 0; a < 3; ++a) {
        const auto& first = line.writes[2 * a];
        const auto& second = line.writes[2 * a + 1];
        EXPECT_EQ(first.bytes, std::vector<uint8_t>({0x05}));
        EXPECT_EQ(second.bytes, std::vector<uint8_t>({0x11}));
        EXPECT_GE(second.at - first.at, 150u);
        EXPECT_LE(second.at - first.at, 160u);
    }
}

TEST(ExchangeEngine, SilenceSpendsEveryAttemptsBudget) {
    struct Case {
        const char* name;
        PolledProtocol protocol;
        uint64_t minMs, maxMs;
        size_t writes;
    };
    const Case cases[] = {
        // 3 x (150 ms split pause + 500 ms)
        {"cas per attempt", zel::cas::kCasProtocol, 1900, 2000, 6},
        // 3 x 300 ms, no split
        {"massa-k per attempt", zel::massak::kProtocol, 850, 950, 3},
        // one 500 ms for the whole call; later attempts drain, send, end at once
        {"per call", Custom(HeaderPolicy::kStrict, BudgetScope::kPerCall), 450, 550, 3},
        {"per attempt hunted", Custom(HeaderPolicy::kHunted, BudgetScope::kPerAttempt), 1450, 1550, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine line;
        ScriptedSession session;
        Reading io;
        io.weight = 5.0;
        int32_t r = RunReadCycle(c.protocol, line, session, io);
        EXPECT_EQ(r, 3);
        EXPECT_GE(line.now, c.minMs);
        EXPECT_LE(line.now, c.maxMs);
        EXPECT_EQ(line.writes.size(), c.writes);
        EXPECT_EQ(session.releases, 1);
        EXPECT_EQ(io.stable, 0);
    }
}

TEST(ExchangeEngine, PerCallBudgetLeftOverCarriesToLaterAttempts) {
    // First reply is broken after 200 ms of waiting; the second attempt has
    // only the 300 ms left and its reply comes 250 ms late: accepted. A reply
    // 350 ms late is not.
    struct Case {
        uint64_t secondDelay;
        int32_t result;
    };
    for (Case c : {Case{250, 0}, Case{350, 3}}) {
        SCOPED_TRACE(c.secondDelay);
        ScriptedLine line;
        ScriptedSession session;
        auto n = std::make_shared<int>(0);
        line.onWrite = [=](ScriptedLine& l, const std::vector<uint8_t>&) {
            int k = (*n)++;
            if (k == 0) l.Arrive(200, {0x02, 0x01, 0x02, 0x7F});  // wrong end byte
            if (k == 1) l.Arrive(c.secondDelay, {0x02, 0x01, 0x02, 0x03});
        };
        Reading io;
        EXPECT_EQ(RunReadCycle(Custom(HeaderPolicy::kStrict, BudgetScope::kPerCall), line, session, io), c.result);
        if (c.result == 0) {
            EXPECT_DOUBLE_EQ(io.weight, 258.0);
        }
    }
}

TEST(ExchangeEngine, WrongHeaderBytesCostByPolicy) {
    // Noise arrives with the reply, then the frame. Budget 500: strict pays
    // 50 per wrong byte, hunted 1.
    struct Case {
        const char* name;
        HeaderPolicy policy;
        int noise;
        int32_t result;
        uint64_t maxMs;  // virtual time of the whole call, besides the collision window
    };
    const Case cases[] = {
        {"strict 3 wrong bytes", HeaderPolicy::kStrict, 3, 0, 200},
        {"strict 9 wrong bytes", HeaderPolicy::kStrict, 9, 0, 500},
        {"strict 10 wrong bytes", HeaderPolicy::kStrict, 10, 3, 1600},
        {"hunted 200 wrong bytes", HeaderPolicy::kHunted, 200, 0, 10},
        {"hunted 499 wrong bytes", HeaderPolicy::kHunted, 499, 0, 10},
        {"hunted 500 wrong bytes", HeaderPolicy::kHunted, 500, 3, 1100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine line;
        ScriptedSession session;
        line.onWrite = [&](ScriptedLine& l, const std::vector<uint8_t>&) {
            std::vector<uint8_t> bytes(static_cast<size_t>(c.noise), 0x55);
            bytes.insert(bytes.end(), {0x02, 0x00, 0x07, 0x03});
            l.Arrive(0, bytes);
        };
        Reading io;
        EXPECT_EQ(RunReadCycle(Custom(c.policy, BudgetScope::kPerAttempt), line, session, io), c.result);
        EXPECT_LE(line.now, c.maxMs + zel::exchange::kCollisionWindowMs);
        if (c.result == 0) {
            EXPECT_DOUBLE_EQ(io.weight, 7.0);
        }
    }
}

TEST(ExchangeEngine, HuntedPolicyFollowsAContinuousScaleThroughOtherTraffic) {
    // Nothing is sent; 200 bytes of other traffic lie between the drain and
    // the next frame start.
    ScriptedLine line;
    ScriptedSession session;
    std::vector<uint8_t> traffic(200, 0x30);
    traffic.insert(traffic.end(), {0x02, 0x01, 0x00, 0x03, 0x02, 0x09});
    line.Arrive(10, traffic);
    Reading io;
    EXPECT_EQ(RunReadCycle(Custom(HeaderPolicy::kHunted, BudgetScope::kPerCall, false), line, session, io), 0);
    EXPECT_DOUBLE_EQ(io.weight, 256.0);
    EXPECT_TRUE(line.writes.empty());
    EXPECT_EQ(line.Pending(), 2u);  // the next frame's start stays for the next drain
}

TEST(ExchangeEngine, SlowBytesFailTheBudget) {
    // An empty read costs the time it waited, up to 50 ms: a byte every
    // 60 ms costs 60 ms and a 13-byte frame after the header cannot fit the
    // 500 ms budget; bytes 20 or 5 ms apart (a slow line) cost only that and
    // fit. The scale answers the first request only.
    struct Case {
        const char* name;
        uint64_t gap;
        size_t burst;
        int32_t result;
    };
    const Case cases[] = {
        {"one byte per 60 ms", 60, 1, 3},
        {"one byte per 30 ms", 30, 1, 0},
        {"one byte per 20 ms", 20, 1, 0},
        {"one byte per 5 ms", 5, 1, 0},
        {"three bursts 100 ms apart", 100, 6, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine line;
        ScriptedSession session;
        bool answered = false;
        line.onWrite = [&](ScriptedLine& l, const std::vector<uint8_t>& bytes) {
            if (bytes.back() != 0x11 || answered) return;
            answered = true;
            std::vector<uint8_t> f = CasFrame('S', "  0.500");
            for (size_t i = 0; i < f.size(); i += c.burst) {
                std::vector<uint8_t> part(f.begin() + i, f.begin() + std::min(f.size(), i + c.burst));
                l.Arrive(5 + (i / c.burst) * c.gap, part);
            }
        };
        CycleRun r = RunCas(line, session);
        EXPECT_EQ(r.result, c.result);
        EXPECT_DOUBLE_EQ(r.io.weight, c.result == 0 ? 0.5 : 0.0);
    }
}

TEST(ExchangeEngine, AttemptsRetryUntilAFrameIsAccepted) {
    struct Case {
        const char* name;
        int answersFrom;  // first attempt that gets a valid frame; 3 = never
        int32_t result;
        size_t requests;
    };
    const Case cases[] = {
        {"first", 0, 0, 1},
        {"second", 1, 0, 2},
        {"third", 2, 0, 3},
        {"never", 3, 3, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine line;
        ScriptedSession session;
        AnswerCas(line, [&](int attempt) {
            if (attempt >= c.answersFrom) return CasFrame('S', "  2.000");
            std::vector<uint8_t> broken = CasFrame('S', "  9.999");
            broken[14] = 0x00;  // fails the check
            return broken;
        });
        CycleRun r = RunCas(line, session);
        EXPECT_EQ(r.result, c.result);
        EXPECT_EQ(line.writes.size() / 2, c.requests);
        EXPECT_DOUBLE_EQ(r.io.weight, c.result == 0 ? 2.0 : 0.0);
    }
}

TEST(ExchangeEngine, TrailingBytesAreDrainedByTheNextCall) {
    ScriptedLine line;
    ScriptedSession session;
    AnswerCas(line, [](int) {
        std::vector<uint8_t> f = CasFrame('S', "  1.000");
        f.insert(f.end(), {0x06, 0x01, 0x02, 0x53, 0x20});  // start of a stale frame
        return f;
    });
    EXPECT_EQ(RunCas(line, session).result, 0);
    // The stale bytes make no whole frame: the collision window reads them
    // and the frame stands (were they left, the drain would remove them).
    EXPECT_EQ(line.Pending(), 0u);
    line.onWrite = nullptr;
    AnswerCas(line, [](int) { return CasFrame('U', "  3.000"); });
    CycleRun r = RunCas(line, session);
    EXPECT_EQ(r.result, 0);
    EXPECT_DOUBLE_EQ(r.io.weight, 3.0);
    EXPECT_EQ(r.io.stable, 0);
    EXPECT_EQ(line.writes.size(), 4u);
}

TEST(ExchangeEngine, OverloadEndsTheCycleAndReleasesTheLine) {
    ScriptedLine line;
    ScriptedSession session;
    AnswerCas(line, [](int) { return CasFrame('S', "F------"); });
    CycleRun r = RunCas(line, session);
    EXPECT_EQ(r.result, 7);
    EXPECT_EQ(r.io.weight, 0.0);
    EXPECT_EQ(line.writes.size(), 2u);
    EXPECT_EQ(session.releases, 1);
}

TEST(ExchangeEngine, EnsureConnectedFailureIsPassedThrough) {
    for (int32_t code : {1, 2, 9}) {
        SCOPED_TRACE(code);
        ScriptedLine line;
        ScriptedSession session;
        session.ensureResult = code;
        CycleRun r = RunCas(line, session);
        EXPECT_EQ(r.result, code);
        EXPECT_EQ(r.io.weight, 0.0);
        EXPECT_TRUE(line.writes.empty());
        EXPECT_EQ(line.reads, 0);
        EXPECT_EQ(session.releases, 0);
    }
}

TEST(ExchangeEngine, ErrorRaisedInTheExchange) {
    struct Case {
        const char* name;
        PolledProtocol protocol;
        int disconnects;
    };
    const Case cases[] = {
        {"cas closes the line", zel::cas::kCasProtocol, 1},
        {"massa-k leaves it", zel::massak::kProtocol, 0},
    };
    for (const Case& c : cases) {
        for (int at : {0, 2}) {  // during the drain, during the collection
            SCOPED_TRACE(std::string(c.name) + " read " + std::to_string(at));
            ScriptedLine line;
            ScriptedSession session;
            line.throwAtRead = at;
            Reading io;
            EXPECT_EQ(RunReadCycle(c.protocol, line, session, io), 1);
            EXPECT_EQ(session.disconnects, c.disconnects);
            EXPECT_EQ(session.releases, 0);
        }
    }
}

TEST(ExchangeEngine, FailedLineEndsWithNoAnswer) {
    // A serial failure closes the port: reads stay empty, writes fail.
    ScriptedLine line;
    ScriptedSession session;
    line.closed = true;
    CycleRun r = RunCas(line, session);
    EXPECT_EQ(r.result, 3);
    EXPECT_EQ(session.releases, 1);
    EXPECT_EQ(session.disconnects, 0);
}

TEST(ExchangeEngine, KeptOutputsAndEveryAttemptRun) {
    // Without stop-on-success every attempt runs; a later accepted frame
    // overwrites, a later failure leaves the earlier values and result.
    PolledProtocol p = Custom(HeaderPolicy::kNone, BudgetScope::kPerAttempt);
    p.stopOnSuccess = false;
    p.init = zel::exchange::OutputInit::kKeepValuesStable1;
    p.budgetMs = 300;
    struct Case {
        const char* name;
        std::vector<int> answered;  // attempts that get a frame
        int32_t result;
        double weight;
    };
    const Case cases[] = {
        {"only the first", {0}, 0, 1.0},
        {"first and third", {0, 2}, 0, 3.0},
        {"none", {}, 3, -4.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine line;
        ScriptedSession session;
        auto n = std::make_shared<int>(0);
        line.onWrite = [&c, n](ScriptedLine& l, const std::vector<uint8_t>&) {
            int k = (*n)++;
            for (int a : c.answered)
                if (a == k) l.Arrive(3, {0x02, 0x00, static_cast<uint8_t>(k + 1), 0x03});
        };
        Reading io;
        io.weight = -4.0;
        io.price = 8.5;
        io.stable = 0;
        EXPECT_EQ(RunReadCycle(p, line, session, io), c.result);
        EXPECT_EQ(line.writes.size(), 3u);
        EXPECT_DOUBLE_EQ(io.weight, c.weight);
        EXPECT_DOUBLE_EQ(io.price, 8.5);
        EXPECT_EQ(io.stable, 1);
    }
}

TEST(ExchangeEngine, MassaKKeepsCallerValuesWhenNoReplyComes) {
    struct Case {
        const char* name;
        std::vector<uint8_t> reply;
        int32_t result;
        double weight, price;
    };
    const Case cases[] = {
        {"silent", {}, 3, 12.0, 3.5},
        {"one byte only", {0xD2}, 3, 12.0, 3.5},
        {"two bytes", {0xD2, 0x04}, 0, 1234.0, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine line;
        ScriptedSession session;
        line.onWrite = [&](ScriptedLine& l, const std::vector<uint8_t>&) {
            if (!c.reply.empty()) l.Arrive(2, c.reply);
        };
        Reading io;
        io.weight = 12.0;
        io.price = 3.5;
        io.cost = 1.0;
        io.stable = 1;
        EXPECT_EQ(RunReadCycle(zel::massak::kProtocol, line, session, io), c.result);
        EXPECT_DOUBLE_EQ(io.weight, c.weight);
        EXPECT_DOUBLE_EQ(io.price, c.price);
        EXPECT_EQ(io.stable, 0);
        EXPECT_EQ(line.writes.front().bytes, std::vector<uint8_t>({0x45}));
    }
}

TEST(ExchangeEngine, TwoHeaderValues) {
    PolledProtocol p = Custom(HeaderPolicy::kStrict, BudgetScope::kPerAttempt);
    p.header[1] = 0x2D;
    p.headerCount = 2;
    for (uint8_t h : {uint8_t{0x02}, uint8_t{0x2D}}) {
        ScriptedLine line;
        ScriptedSession session;
        line.onWrite = [h](ScriptedLine& l, const std::vector<uint8_t>&) { l.Arrive(1, {h, 0x00, 0x01, 0x03}); };
        Reading io;
        EXPECT_EQ(RunReadCycle(p, line, session, io), 0) << int(h);
        EXPECT_EQ(line.writes.size(), 1u);
    }
}

namespace {
// A peer that never stops sending.
class FloodLine : public zel::exchange::IByteLine {
public:
    uint8_t fill;
    long bytes = 0;
    explicit FloodLine(uint8_t b) : fill(b) {}
    int Read(uint8_t* buffer, int size) override {
        std::memset(buffer, fill, static_cast<size_t>(size));
        bytes += size;
        return size;
    }
    int Write(const uint8_t*, int size) override { return size; }
    bool WaitForInput(unsigned) override { return true; }
    void Sleep(unsigned) override {}
    uint64_t NowMs() override { return 0; }
};
}  // namespace

TEST(ExchangeEngine, AFloodingPeerCannotHoldTheCall) {
    FloodLine line(0x55);
    ScriptedSession session;
    Reading io;
    EXPECT_EQ(RunReadCycle(Custom(HeaderPolicy::kHunted, BudgetScope::kPerAttempt), line, session, io), 3);
    EXPECT_LE(line.bytes, 4L * 1024 * 1024);
}

TEST(ExchangeEngine, UnrunnableDescriptionIsRefused) {
    PolledProtocol p = Custom(HeaderPolicy::kNone, BudgetScope::kPerAttempt);
    p.replyLength = PolledProtocol::kMaxReply + 1;
    ScriptedLine line;
    ScriptedSession session;
    Reading io;
    EXPECT_EQ(RunReadCycle(p, line, session, io), 5);
    EXPECT_EQ(session.ensures, 0);
}

TEST(CommandExchange, WritesPausesAndReleases) {
    const uint8_t tare[] = {0x2A, 0x01};
    struct Case {
        const char* name;
        int32_t ensure;
        unsigned pause;
        int throwAt;
        int32_t result;
        size_t writes;
        int releases, disconnects;
    };
    const Case cases[] = {
        {"plain", 0, 150, -1, 0, 1, 1, 0},
        {"no pause", 0, 0, -1, 0, 1, 1, 0},
        {"no connection", 1, 150, -1, 1, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine line;
        ScriptedSession session;
        session.ensureResult = c.ensure;
        EXPECT_EQ(RunCommand(line, session, tare, 2, c.pause), c.result);
        EXPECT_EQ(line.writes.size(), c.writes);
        if (c.writes) {
            EXPECT_EQ(line.writes[0].bytes, std::vector<uint8_t>({0x2A, 0x01}));
        }
        EXPECT_EQ(line.now, c.result == 0 ? c.pause : 0u);
        EXPECT_EQ(session.releases, c.releases);
    }
}

TEST(CommandExchange, FailedWriteStillSucceeds) {
    const uint8_t cmd[] = {0x00, 0x00, 0x01};
    ScriptedLine line;
    ScriptedSession session;
    line.closed = true;
    EXPECT_EQ(RunCommand(line, session, cmd, 3), 0);
    EXPECT_EQ(session.releases, 1);
}

TEST(ExchangeHelpers, PriceDigits) {
    struct Case {
        int32_t price;
        bool ascii;
        uint8_t filler;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {1250, false, 0x00, {0, 5, 2, 1, 0, 0x00}},
        {1250, true, 0x30, {'0', '5', '2', '1', '0', '0'}},
        {123456, false, 0x00, {6, 5, 4, 3, 2, 0x00}},  // modulo 100000
        {0, true, 0x30, {'0', '0', '0', '0', '0', '0'}},
        {99999, false, 0xFF, {9, 9, 9, 9, 9, 0xFF}},
        {2147483647, false, 0, {7, 4, 6, 3, 8, 0}},
        {-1, false, 0, {0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.price);
        uint8_t out[6];
        zel::exchange::PriceDigits(c.price, c.ascii, c.filler, out);
        EXPECT_EQ(std::vector<uint8_t>(out, out + 6), c.bytes);
    }
}

TEST(ExchangeHelpers, ReversedFieldText) {
    const uint8_t frame[] = {'4', '3', '2', '1', '0', '0', '0', '5', '2', '1', '0'};
    struct Case {
        size_t offset, k;
        const char* text;
    };
    const Case cases[] = {
        {0, 6, "001234"},
        {6, 5, "01250"},
        {0, 1, "4"},
        {0, 0, ""},
        {9, 4, "01"},  // positions past the frame are skipped
    };
    for (const Case& c : cases) {
        char out[16];
        zel::exchange::ReversedFieldText(frame, sizeof(frame), c.offset, c.k, out);
        EXPECT_STREQ(out, c.text) << c.offset << "+" << c.k;
    }
}

namespace {

using zel::exchange::CommandSpec;
using zel::exchange::Decoded;
using zel::exchange::Verdict;

// A continuously sending scale's frame: STX, status (bit 1 negative), three
// digits, CR. A negative reading's status is 02, the STX value.
std::vector<uint8_t> StxFrame(uint8_t status, const char* digits) {
    return {0x02, status, uint8_t(digits[0]), uint8_t(digits[1]), uint8_t(digits[2]), 0x0D};
}
bool AcceptStx(const uint8_t* f, size_t n) { return n == 6 && f[0] == 0x02 && f[5] == 0x0D && f[1] <= 0x02; }
Decoded DecodeStx(const uint8_t* f, size_t, Reading& out) {
    out.weight = (f[2] - '0') * 100 + (f[3] - '0') * 10 + (f[4] - '0');
    if (f[1] & 0x02) out.weight = -out.weight;
    return 0;
}
// A frame opened and ended by CR: CR, sign, three digits, CR.
bool AcceptCr(const uint8_t* f, size_t n) {
    return n == 6 && f[0] == 0x0D && f[5] == 0x0D && (f[1] == '+' || f[1] == '-') && f[2] >= '0' && f[2] <= '9';
}
Decoded DecodeCr(const uint8_t* f, size_t, Reading& out) {
    out.weight = (f[2] - '0') * 100 + (f[3] - '0') * 10 + (f[4] - '0');
    if (f[1] == '-') out.weight = -out.weight;
    return 0;
}

PolledProtocol Continuous(uint8_t header, HeaderPolicy policy, zel::exchange::AcceptsFn accepts,
                          zel::exchange::DecodeFn decode) {
    return PolledProtocol{.replyLength = 6,
                          .header = {header, 0},
                          .headerCount = 1,
                          .policy = policy,
                          .attempts = 1,
                          .accepts = accepts,
                          .decode = decode};
}

}  // namespace

TEST(ExchangeEngine, HuntedReadResyncsOnHeaderBytesInsideFrames) {
    // Frames stream back to back, one byte every 2 ms; each call joins the
    // stream at a different byte. With one attempt, a hunted read that
    // locked onto a header-valued byte inside a frame must find the real
    // start in what it holds; strict keeps ending the attempt on a refused
    // frame.
    struct Case {
        const char* name;
        PolledProtocol protocol;
        std::vector<uint8_t> frame;
        double weight;
        bool everyCall;  // false: some joining points fail
    };
    const Case cases[] = {
        {"status byte equals STX", Continuous(0x02, HeaderPolicy::kHunted, AcceptStx, DecodeStx),
         StxFrame(0x02, "123"), -123.0, true},
        {"CR ends and opens frames", Continuous(0x0D, HeaderPolicy::kHunted, AcceptCr, DecodeCr),
         {0x0D, '-', '0', '4', '5', 0x0D}, -45.0, true},
        {"strict loses the attempt", Continuous(0x02, HeaderPolicy::kStrict, AcceptStx, DecodeStx),
         StxFrame(0x02, "123"), -123.0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int answered = 0;
        const size_t len = c.frame.size();
        for (size_t phase = 0; phase < 2 * len; ++phase) {
            SCOPED_TRACE(phase);
            ScriptedLine line;
            ScriptedSession session;
            std::vector<uint8_t> stream;
            for (int i = 0; i < 40; ++i) stream.insert(stream.end(), c.frame.begin(), c.frame.end());
            line.Trickle(0, 2, stream);
            line.now = 2 * phase;  // bytes 0..phase are drained
            Reading io;
            int32_t r = RunReadCycle(c.protocol, line, session, io);
            if (r == 0) {
                ++answered;
                EXPECT_DOUBLE_EQ(io.weight, c.weight);
            } else {
                EXPECT_EQ(r, 3);
            }
            EXPECT_EQ(session.releases, 1);
            EXPECT_LE(line.now, 2 * phase + 600);
        }
        if (c.everyCall)
            EXPECT_EQ(answered, static_cast<int>(2 * len));
        else
            EXPECT_LT(answered, static_cast<int>(2 * len));
    }
}

TEST(ExchangeEngine, HuntedResyncWithoutAHeaderInsideGoesOnHunting) {
    // The false start 02 is followed by noise without a header, then a
    // real frame: the refused bytes are dropped and the hunt goes on within
    // the same attempt.
    ScriptedLine line;
    ScriptedSession session;
    line.Arrive(5, {0x02, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x02, 0x00, '0', '0', '7', 0x0D});
    Reading io;
    EXPECT_EQ(RunReadCycle(Continuous(0x02, HeaderPolicy::kHunted, AcceptStx, DecodeStx), line, session, io), 0);
    EXPECT_DOUBLE_EQ(io.weight, 7.0);
    EXPECT_EQ(line.Pending(), 0u);
}

TEST(ExchangeEngine, HeaderFloodThatNeverPassesEndsWithinTheBudget) {
    // Every byte is a header and no frame passes: each resync drops bytes at
    // the cost of a wrong header byte, so the attempt still ends.
    FloodLine line(0x02);
    ScriptedSession session;
    Reading io;
    EXPECT_EQ(RunReadCycle(Custom(HeaderPolicy::kHunted, BudgetScope::kPerAttempt), line, session, io), 3);
    EXPECT_LE(line.bytes, 4L * 1024 * 1024);
}

namespace {

// Records what the engine judged.
std::vector<size_t> g_judged;
std::vector<int> g_peekedStable;
uint8_t g_spareByte;

bool EndsWithLf(const uint8_t* f, size_t n) { return n > 3 && f[n - 1] == 0x0A; }
bool AcceptLf(const uint8_t* f, size_t n) {
    g_judged.push_back(n);
    g_spareByte = f[n];
    return n > 3 && f[n - 1] == 0x0A;
}
bool AcceptAtLeast4(const uint8_t* f, size_t n) {
    g_judged.push_back(n);
    g_spareByte = f[n];
    return n >= 4;
}
Decoded DecodeText(const uint8_t* f, size_t, Reading& out) {
    out.weight = ParseNumberText(reinterpret_cast<const char*>(f));
    return 0;
}

PolledProtocol Terminated(int buffer, zel::exchange::AcceptsFn accepts) {
    return PolledProtocol{.request = kOneByteRequest,
                          .requestLength = 1,
                          .replyLength = buffer,
                          .complete = EndsWithLf,
                          .attempts = 1,
                          .accepts = accepts,
                          .decode = DecodeText};
}

}  // namespace

TEST(ExchangeEngine, EndConditionStopsTheCollection) {
    std::vector<uint8_t> long300(300, '1');
    long300.back() = 0x0A;
    struct Case {
        const char* name;
        PolledProtocol protocol;
        std::vector<uint8_t> reply, later;  // `later` comes 100 ms after the reply
        int32_t result;
        std::vector<size_t> judged;
        size_t pending;
        uint64_t minMs, maxMs;
    };
    const Case cases[] = {
        {"terminator reached, the rest left", Terminated(12, AcceptLf), {'1', '2', '.', '5', 0x0D, 0x0A},
         {'9', '9'}, 0, {6}, 2, 0, 20},
        {"terminator in the full 300", Terminated(300, AcceptLf), long300, {}, 0, {300}, 0, 0, 20},
        {"buffer full without terminator", Terminated(8, AcceptLf),
         {'1', '2', '3', '4', '5', '6', '7', '8', '9', 0x0A}, {}, 3, {8}, 2, 0, 20},
        // The spare byte is read by the collision window: no whole frame.
        {"buffer full, accepted", Terminated(8, AcceptAtLeast4), {'1', '2', '3', '4', '5', '6', '7', '8', '9'},
         {}, 0, {8}, 0, 0, 20},
        {"budget spent, refused", Terminated(12, AcceptLf), {'1', '2', '.', '5', 0x0D}, {}, 3, {5}, 0, 450, 600},
        {"budget spent, accepted", Terminated(12, AcceptAtLeast4), {'1', '2', '.', '5', 0x0D}, {}, 0, {5}, 0, 450,
         600},
        {"budget spent with nothing", Terminated(12, AcceptAtLeast4), {}, {}, 3, {}, 0, 450, 600},
        {"held bytes are only judged when they end", Terminated(12, AcceptLf), {'1', '2', 0x0A}, {'3', 0x0A}, 0,
         {5}, 0, 90, 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_judged.clear();
        g_spareByte = 0xEE;
        ScriptedLine line;
        ScriptedSession session;
        line.onWrite = [&](ScriptedLine& l, const std::vector<uint8_t>&) {
            if (!c.reply.empty()) l.Arrive(3, c.reply);
            if (!c.later.empty()) l.Arrive(100, c.later);
        };
        Reading io;
        EXPECT_EQ(RunReadCycle(c.protocol, line, session, io), c.result);
        EXPECT_EQ(g_judged, c.judged);
        if (!c.judged.empty()) {
            EXPECT_EQ(g_spareByte, 0);  // a zero byte follows the frame, even a full one
        }
        EXPECT_GE(line.now, c.minMs);
        EXPECT_LE(line.now, c.maxMs);
        EXPECT_EQ(line.Pending(), c.pending);
    }
}

TEST(ExchangeEngine, WithoutEndConditionOnlyAFullFrameIsJudged) {
    g_judged.clear();
    PolledProtocol p = Terminated(6, AcceptAtLeast4);
    p.complete = nullptr;
    ScriptedLine line;
    ScriptedSession session;
    line.onWrite = [](ScriptedLine& l, const std::vector<uint8_t>&) { l.Arrive(3, {'1', '2', 0x0A, '4', '5'}); };
    Reading io;
    EXPECT_EQ(RunReadCycle(p, line, session, io), 3);
    EXPECT_TRUE(g_judged.empty());
}

namespace {

// Frame 02 <result> <verdict> 03; the decoder gives what the frame says and
// counts the weight up, so the tests see which frame was decoded last.
Decoded DecodeVerdict(const uint8_t* f, size_t, Reading& out) {
    out.weight += 1.0;
    return Decoded(f[1], static_cast<Verdict>(f[2]));
}
bool AcceptVerdictFrame(const uint8_t* f, size_t n) { return n == 4 && f[0] == 0x02 && f[3] == 0x03; }

}  // namespace

TEST(ExchangeEngine, DecoderVerdictsSteerTheCycle) {
    const int none = -1;
    struct Case {
        const char* name;
        // per attempt: result and verdict of the reply, or none for silence
        std::vector<std::pair<int, int>> replies;
        int32_t result;
        size_t requests;
        int releases, disconnects;
        double decoded;  // frames decoded
    };
    const int kAccept = int(Verdict::kAccept), kRetry = int(Verdict::kRetry), kEnd = int(Verdict::kEndCycle),
              kClosed = int(Verdict::kEndCycleClosed);
    const Case cases[] = {
        {"accept stops", {{0, kAccept}}, 0, 1, 1, 0, 1},
        {"three retries keep the last result", {{1, kRetry}, {1, kRetry}, {1, kRetry}}, 1, 3, 1, 0, 3},
        {"retry then a passing reply", {{1, kRetry}, {0, kAccept}}, 0, 2, 1, 0, 2},
        {"retry then silence", {{1, kRetry}, {none, 0}, {none, 0}}, 1, 3, 1, 0, 1},
        {"end cycle", {{3, kEnd}, {0, kAccept}}, 3, 1, 1, 0, 1},
        {"end cycle after a retry", {{1, kRetry}, {3, kEnd}, {0, kAccept}}, 3, 2, 1, 0, 2},
        {"end cycle closed", {{3, kClosed}, {0, kAccept}}, 3, 1, 0, 1, 1},
        {"end cycle closed with 0", {{0, kClosed}}, 0, 1, 0, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PolledProtocol p = Custom(HeaderPolicy::kStrict, BudgetScope::kPerAttempt);
        p.accepts = AcceptVerdictFrame;
        p.decode = DecodeVerdict;
        ScriptedLine line;
        ScriptedSession session;
        auto n = std::make_shared<size_t>(0);
        line.onWrite = [&c, n](ScriptedLine& l, const std::vector<uint8_t>&) {
            size_t k = (*n)++;
            if (k >= c.replies.size() || c.replies[k].first == none) return;
            l.Arrive(3, {0x02, uint8_t(c.replies[k].first), uint8_t(c.replies[k].second), 0x03});
        };
        Reading io;
        EXPECT_EQ(RunReadCycle(p, line, session, io), c.result);
        EXPECT_EQ(line.writes.size(), c.requests);
        EXPECT_EQ(session.releases, c.releases);
        EXPECT_EQ(session.disconnects, c.disconnects);
        EXPECT_DOUBLE_EQ(io.weight, c.decoded);
    }
}

namespace {

void PeekStable(const uint8_t* f, size_t n, Reading& out) {
    g_peekedStable.push_back(f[n - 1] & 1);
    out.stable = f[n - 1] & 1;
}
bool AcceptOnlyEven(const uint8_t* f, size_t n) { return n == 4 && f[0] == 0x02 && (f[1] & 1) == 0; }

}  // namespace

TEST(ExchangeEngine, PeekSeesEveryCompleteFrameEvenARefusedOne) {
    struct Case {
        const char* name;
        std::vector<std::vector<uint8_t>> replies;  // per attempt
        int32_t result;
        std::vector<int> peeked;
        int32_t stable;
    };
    const Case cases[] = {
        {"refused frames still give stable", {{0x02, 0x01, 0, 0x01}, {0x02, 0x03, 0, 0x01}, {0x02, 0x05, 0, 0x01}},
         3, {1, 1, 1}, 1},
        {"last refused frame wins", {{0x02, 0x01, 0, 0x01}, {0x02, 0x01, 0, 0x00}, {}}, 3, {1, 0}, 0},
        {"short frame is not peeked", {{0x02, 0x01, 0x01}, {}, {}}, 3, {}, 0},
        {"accepted frame is peeked", {{0x02, 0x02, 0, 0x01}}, 0, {1}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_peekedStable.clear();
        PolledProtocol p = Custom(HeaderPolicy::kStrict, BudgetScope::kPerAttempt);
        p.peek = PeekStable;
        p.accepts = AcceptOnlyEven;
        p.decode = [](const uint8_t*, size_t, Reading&) -> Decoded { return 0; };
        ScriptedLine line;
        ScriptedSession session;
        auto n = std::make_shared<size_t>(0);
        line.onWrite = [&c, n](ScriptedLine& l, const std::vector<uint8_t>&) {
            size_t k = (*n)++;
            if (k < c.replies.size() && !c.replies[k].empty()) l.Arrive(3, c.replies[k]);
        };
        Reading io;
        EXPECT_EQ(RunReadCycle(p, line, session, io), c.result);
        EXPECT_EQ(g_peekedStable, c.peeked);
        EXPECT_EQ(io.stable, c.stable);
    }
}

TEST(CommandExchange, CommandSpecSequences) {
    const uint8_t frame[] = {0x50, 0x31, 0x32};
    struct Case {
        const char* name;
        CommandSpec command;
        std::vector<uint8_t> reply;  // arrives 10 ms after the first write
        int throwAt;
        int32_t result;
        std::vector<uint64_t> writeTimes;
        uint64_t endMs;
        size_t pending;
        int releases, disconnects;
    };
    const Case cases[] = {
        {"write and pause", {.bytes = frame, .length = 3}, {}, -1, 0, {0}, 150, 0, 1, 0},
        {"no pause", {.bytes = frame, .length = 3, .pauseMs = 0}, {}, -1, 0, {0}, 0, 0, 1, 0},
        {"twice with 200 ms, then one read of up to 100",
         {.bytes = frame, .length = 3, .pauseMs = 200, .repeat = 2, .readAfter = 100},
         std::vector<uint8_t>(130, 0x06), -1, 0, {0, 200}, 400, 30, 1, 0},
        {"write, 600 ms, drain", {.bytes = frame, .length = 3, .pauseMs = 600, .drainAfter = true},
         std::vector<uint8_t>(50000, 0x20), -1, 0, {0}, 600, 0, 1, 0},
        {"pending input kept without a drain", {.bytes = frame, .length = 3}, {0x01, 0x02}, -1, 0, {0}, 150, 2, 1, 0},
        {"error in the read after", {.bytes = frame, .length = 3, .readAfter = 10}, {0x01}, 0, 1, {0}, 150, 1, 0, 1},
        {"error in the drain", {.bytes = frame, .length = 3, .drainAfter = true}, {0x01}, 0, 1, {0}, 150, 1, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine line;
        ScriptedSession session;
        line.throwAtRead = c.throwAt;
        bool answered = false;
        line.onWrite = [&](ScriptedLine& l, const std::vector<uint8_t>&) {
            if (!answered && !c.reply.empty()) l.Arrive(10, c.reply);
            answered = true;
        };
        EXPECT_EQ(RunCommand(line, session, c.command), c.result);
        std::vector<uint64_t> times;
        for (const auto& w : line.writes) {
            EXPECT_EQ(w.bytes, std::vector<uint8_t>(frame, frame + 3));
            times.push_back(w.at);
        }
        EXPECT_EQ(times, c.writeTimes);
        EXPECT_EQ(line.now, c.endMs);
        EXPECT_EQ(line.Pending(), c.pending);
        EXPECT_EQ(session.releases, c.releases);
        EXPECT_EQ(session.disconnects, c.disconnects);
    }
}

TEST(CommandExchange, ConnectFailureSendsNothing) {
    const uint8_t frame[] = {0x54};
    ScriptedLine line;
    ScriptedSession session;
    session.ensureResult = 2;
    EXPECT_EQ(RunCommand(line, session, CommandSpec{.bytes = frame, .length = 1, .repeat = 2, .drainAfter = true}), 2);
    EXPECT_TRUE(line.writes.empty());
    EXPECT_EQ(line.reads, 0);
    EXPECT_EQ(session.releases, 0);
}
