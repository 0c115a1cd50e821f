// The exchange engine against a scripted line whose traffic comes from the
// fuzzer: the first bytes choose the protocol and a line failure, the rest is
// a script of (delay, count, bytes...) bursts sent in reply to each request.
// The call must end within its attempts and budgets of virtual time.
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "scales/Cas.h"
#include "scales/MassaK.h"
#include "scales/exchange/Exchange.h"
#include "tests/unit/exchange_scripted_line.h"

using zel::exchange::BudgetScope;
using zel::exchange::HeaderPolicy;
using zel::exchange::PolledProtocol;
using zel::exchange::Reading;

namespace {

using zel::exchange::Decoded;
using zel::exchange::Verdict;

bool g_closedVerdict = false;
// Results of the frames decoded before the last closing one, whose verdict
// let them stand: one of them may be what a call answers when that closing
// frame is not taken.
std::vector<int32_t> g_standing;
int32_t g_lastResult = 0;
bool g_lastStands = false;

bool AcceptAny(const uint8_t*, size_t) { return true; }
Decoded DecodeFirst(const uint8_t* f, size_t, Reading& out) {
    out.weight = f[0];
    return 0;
}
// Refuses most frames, so hunted reads resync on header bytes inside them.
bool AcceptSum(const uint8_t* f, size_t n) {
    uint8_t sum = 0;
    for (size_t i = 0; i + 1 < n; ++i) sum = static_cast<uint8_t>(sum + f[i]);
    return n > 1 && (sum & 0x0F) == (f[n - 1] & 0x0F);
}
// Result and verdict chosen by the frame.
Decoded DecodeVerdict(const uint8_t* f, size_t n, Reading& out) {
    static const int32_t kResults[] = {0, 1, 3, 7};
    if (f[n] != 0) std::abort();  // the spare byte after the frame
    out.weight += 1.0;
    const Verdict v = static_cast<Verdict>(f[1] % 4);
    if (g_lastStands) g_standing.push_back(g_lastResult);
    g_closedVerdict = v == Verdict::kEndCycleClosed;
    g_lastResult = kResults[(f[1] >> 2) % 4];
    g_lastStands = v == Verdict::kAccept || v == Verdict::kRetry;
    return Decoded(g_lastResult, v);
}
bool EndsWithEtx(const uint8_t* f, size_t n) { return n > 3 && f[n - 1] == 0x03; }
void PeekLast(const uint8_t* f, size_t n, Reading& out) { out.stable = f[n - 1] & 1; }

// A continuous scale with a hunted two-value header and a per-call budget.
const PolledProtocol kHuntedPerCall = {.replyLength = 7,
                                       .header = {0x2B, 0x2D},
                                       .headerCount = 2,
                                       .policy = HeaderPolicy::kHunted,
                                       .scope = BudgetScope::kPerCall,
                                       .accepts = AcceptSum,
                                       .decode = DecodeFirst};
const uint8_t kReq[] = {0x00, 0x00, 0x03};
// Every attempt runs; caller's values kept.
const PolledProtocol kAllAttempts = {.request = kReq,
                                     .requestLength = 3,
                                     .replyLength = 18,
                                     .budgetMs = 300,
                                     .stopOnSuccess = false,
                                     .init = zel::exchange::OutputInit::kKeepValuesStable1,
                                     .drainBufferSize = 102400,
                                     .accepts = AcceptAny,
                                     .decode = DecodeFirst};
// Variable length up to the whole buffer, ended by ETX, on a hunted line;
// the decoder's verdict comes from the frame.
const PolledProtocol kHuntedTerminated = {.replyLength = 300,
                                          .complete = EndsWithEtx,
                                          .header = {0x02, 0},
                                          .headerCount = 1,
                                          .policy = HeaderPolicy::kHunted,
                                          .attempts = 2,
                                          .peek = PeekLast,
                                          .accepts = AcceptSum,
                                          .decode = DecodeVerdict};
// A request/reply protocol whose decoder gives every verdict.
const uint8_t kOne[] = {0x51};
const PolledProtocol kVerdicts = {.request = kOne,
                                  .requestLength = 1,
                                  .replyLength = 5,
                                  .header = {0x02, 0},
                                  .headerCount = 1,
                                  .policy = HeaderPolicy::kStrict,
                                  .budgetMs = 300,
                                  .accepts = AcceptAny,
                                  .decode = DecodeVerdict};
// No header, an end condition, every attempt runs.
const PolledProtocol kTerminatedAllAttempts = {.request = kOne,
                                               .requestLength = 1,
                                               .replyLength = 40,
                                               .complete = EndsWithEtx,
                                               .budgetMs = 300,
                                               .stopOnSuccess = false,
                                               .peek = PeekLast,
                                               .accepts = AcceptSum,
                                               .decode = DecodeVerdict};

const PolledProtocol* const kProtocols[] = {&zel::cas::kCasProtocol, &zel::cas::kSdl07Protocol,
                                            &zel::cas::kLp16Protocol, &zel::massak::kProtocol, &kHuntedPerCall,
                                            &kAllAttempts, &kHuntedTerminated, &kVerdicts,
                                            &kTerminatedAllAttempts};

struct Script {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const PolledProtocol& p = *kProtocols[data[0] % (sizeof(kProtocols) / sizeof(kProtocols[0]))];
    zeltest::ScriptedLine line;
    zeltest::ScriptedSession session;
    if (data[1] & 0x80) line.throwAtRead = data[1] & 0x7F;

    auto script = std::make_shared<Script>(Script{data + 2, size - 2});
    auto burst = [script](zeltest::ScriptedLine& l) {
        // Up to four bursts per request.
        for (int i = 0; i < 4 && script->pos + 2 <= script->size; ++i) {
            uint64_t delay = script->data[script->pos] * 4u;
            size_t n = script->data[script->pos + 1];
            script->pos += 2;
            if (n > script->size - script->pos) n = script->size - script->pos;
            l.Arrive(delay, std::vector<uint8_t>(script->data + script->pos, script->data + script->pos + n));
            script->pos += n;
        }
    };
    if (p.requestLength > 0)
        line.onWrite = [&, burst](zeltest::ScriptedLine& l, const std::vector<uint8_t>&) { burst(l); };
    else
        burst(line);

    Reading io;
    g_closedVerdict = false;
    g_standing.clear();
    g_lastStands = false;
    int32_t result = zel::exchange::RunReadCycle(p, line, session, io);
    if (result != 0 && result != 1 && result != 3 && result != 7) std::abort();
    const uint64_t perAttempt = (p.splitSend ? 150u : 0u) + static_cast<uint64_t>(p.budgetMs) + 50u;
    if (line.now > perAttempt * static_cast<uint64_t>(p.attempts)) std::abort();
    // The line is either released or, after a raised error or a closing
    // verdict, closed; never both.
    if (session.releases + session.disconnects > 1) std::abort();
    if (p.disconnectOnError && session.releases + session.disconnects != 1) std::abort();
    // A closing verdict closes the line, unless a second frame right after
    // it (two scales answering) failed that attempt: then the line is
    // released with no answer, or with what an earlier attempt's frame left
    // standing.
    const bool earlier = std::find(g_standing.begin(), g_standing.end(), result) != g_standing.end();
    if (g_closedVerdict && (session.disconnects != 1 || session.releases != 0) &&
        !(session.releases == 1 && (result == 3 || earlier)))
        std::abort();
    if (result != 1 && p.decode != DecodeVerdict && session.releases != 1) std::abort();
    return 0;
}
