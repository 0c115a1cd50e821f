// The exchange engine against a scripted line whose traffic comes from the
// fuzzer: the first bytes choose the protocol and a line failure, the rest is
// a script of (delay, count, bytes...) bursts sent in reply to each request.
// The call must end within its attempts and budgets of virtual time.
#include <cstdlib>
#include <memory>

#include "scales/Cas.h"
#include "scales/MassaK.h"
#include "scales/exchange/Exchange.h"
#include "tests/unit/exchange_scripted_line.h"

using zel::exchange::BudgetScope;
using zel::exchange::HeaderPolicy;
using zel::exchange::PolledProtocol;
using zel::exchange::Reading;

namespace {

bool AcceptAny(const uint8_t*, size_t) { return true; }
zel::exchange::Decoded DecodeFirst(const uint8_t* f, size_t, Reading& out) {
    out.weight = f[0];
    return 0;
}

// A continuous scale with a hunted two-value header and a per-call budget.
const PolledProtocol kHuntedPerCall = {nullptr, 0, false, 7, {0x2B, 0x2D}, 2, HeaderPolicy::kHunted, 500,
                                       BudgetScope::kPerCall, 3, true, zel::exchange::LineVariant::k8N1,
                                       zel::exchange::OutputInit::kClearAll, true, 10240, AcceptAny, DecodeFirst};
const uint8_t kReq[] = {0x00, 0x00, 0x03};
// Every attempt runs; caller's values kept.
const PolledProtocol kAllAttempts = {kReq, 3, false, 18, {0, 0}, 0, HeaderPolicy::kNone, 300,
                                     BudgetScope::kPerAttempt, 3, false, zel::exchange::LineVariant::k8E1,
                                     zel::exchange::OutputInit::kKeepValuesStable1, true, 102400, AcceptAny,
                                     DecodeFirst};

const PolledProtocol* const kProtocols[] = {&zel::cas::kCasProtocol, &zel::cas::kSdl07Protocol,
                                            &zel::cas::kLp16Protocol, &zel::massak::kProtocol, &kHuntedPerCall,
                                            &kAllAttempts};

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
    int32_t result = zel::exchange::RunReadCycle(p, line, session, io);
    if (result != 0 && result != 1 && result != 3 && result != 7) std::abort();
    const uint64_t perAttempt = (p.splitSend ? 150u : 0u) + static_cast<uint64_t>(p.budgetMs) + 50u;
    if (line.now > perAttempt * static_cast<uint64_t>(p.attempts)) std::abort();
    if (result == 1 && session.releases != 0) std::abort();
    if (result != 1 && session.releases != 1) std::abort();
    return 0;
}
