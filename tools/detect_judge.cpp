// The judging of the scan: what a polled model makes of the reply to its
// request, what a talking model makes of what was heard, and which models a
// find names.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "core/ResultCodes.h"
#include "devices/ModelTable.h"
#include "scales/exchange/PolledScale.h"
#include "tools/detect_plan.h"
#include "tools/detect_tables.h"

namespace zelscales {
namespace detect {

using zel::LineVariant;
using zel::exchange::PolledProtocol;
using zel::exchange::Reading;
using namespace tables;

// --- judging -----------------------------------------------------------------

namespace {

bool IsHeader(const PolledProtocol& p, uint8_t byte) {
    for (int i = 0; i < p.headerCount && i < 2; ++i)
        if (p.header[i] == byte) return true;
    return false;
}

// What the engine's judgement of a frame makes of it.
Verdict FromJudgement(const zel::exchange::ReplyJudgement& j) {
    Verdict v;
    v.refusal = j.refusal;
    if (j.refusal != zel::exchange::Refusal::kNone) return v;
    v.ok = true;
    v.frames = 1;
    v.reading = j.reading;
    v.result = j.decoded.result;
    return v;
}

}  // namespace

// A scale asked on a quiet line answers with its frame alone: bytes before
// or after it (a page of text, a stream, noise) are no reply, even where a
// frame could be found among them.
Verdict JudgeReply(int model, const uint8_t* b, size_t count) {
    const Polled* polled = FindPolled(model);
    if (!polled) return Verdict();
    return FromJudgement(zel::exchange::JudgeReply(*polled->protocol, b, count));
}

namespace {

// An accepted frame heard, bytes [start, end).
struct Span {
    size_t start, end;
    Reading reading;
    int32_t result;
};

// Continuous output: every header position.
void StreamSpans(const PolledProtocol& p, const uint8_t* b, size_t count, std::vector<Span>& spans) {
    for (size_t start = 0; start < count; ++start) {
        if (p.headerCount > 0 && !IsHeader(p, b[start])) continue;
        const zel::exchange::ReplyJudgement one = zel::exchange::JudgeFrame(p, b + start, count - start);
        if (one.refusal == zel::exchange::Refusal::kShort) break;
        if (one.refusal != zel::exchange::Refusal::kNone) continue;
        const size_t length = one.length;
        spans.push_back(Span{start, start + length, one.reading, one.decoded.result});
        start += length - 1;
    }
}

// The frames that stand on their own: a burst of bytes (between silences)
// of its own, or one of frames back to back. A frame found somewhere inside
// a run of other bytes (noise, another protocol) is chance.
Verdict Standalone(const std::vector<Span>& spans, const std::vector<size_t>& bursts, size_t count) {
    auto edge = [&](size_t at) {
        return at == 0 || at == count || std::binary_search(bursts.begin(), bursts.end(), at);
    };
    Verdict v;
    for (size_t k = 0; k < spans.size(); ++k) {
        const bool alone = edge(spans[k].start) && edge(spans[k].end);
        const bool chained = (k > 0 && spans[k - 1].end == spans[k].start) ||
                             (k + 1 < spans.size() && spans[k + 1].start == spans[k].end);
        if (!alone && !chained) continue;
        v.reading = spans[k].reading;
        v.result = spans[k].result;
        ++v.frames;
    }
    // Two readings: one could be chance.
    v.ok = v.frames >= 2;
    return v;
}

// The frames a pushing model's listener reads from these bytes, as its own
// description frames them; a taken frame counts where it stands alone or in
// a chain, as a streaming model's.
void EventSpans(const zel::listener::EventProtocol& events, const uint8_t* b, size_t count,
                const std::vector<size_t>& bursts, std::vector<Span>& spans) {
    for (const zel::listener::EventFrame& f : zel::listener::ReadEventFrames(events, b, count, bursts)) {
        if (f.judgement.verdict != zel::listener::EventVerdict::kReading) continue;
        Reading r;
        r.weight = f.judgement.reading.weight;
        r.price = f.judgement.reading.price;
        r.cost = f.judgement.reading.cost;
        spans.push_back(Span{f.start, f.end, r, 0});
    }
}

}  // namespace

std::vector<Press> JudgePresses(int model, const uint8_t* b, size_t count, const std::vector<size_t>& bursts) {
    std::vector<Press> out;
    const Pusher* pusher = FindPusher(model);
    if (!pusher) return out;
    for (const zel::listener::EventFrame& f : zel::listener::ReadEventFrames(*pusher->events, b, count, bursts)) {
        Press p;
        p.start = f.start;
        p.end = f.end;
        p.taken = f.judgement.verdict == zel::listener::EventVerdict::kReading;
        p.reading.weight = f.judgement.reading.weight;
        p.reading.price = f.judgement.reading.price;
        p.reading.cost = f.judgement.reading.cost;
        if (!p.taken)
            p.why = f.judgement.why ? f.judgement.why : zel::listener::VerdictName(f.judgement.verdict);
        out.push_back(p);
    }
    return out;
}

bool Pushes(int model) { return FindPusher(model) != nullptr; }

Verdict JudgeHeard(int model, const uint8_t* b, size_t count, const std::vector<size_t>& bursts) {
    std::vector<Span> spans;
    if (const Polled* polled = FindPolled(model)) {
        if (polled->protocol->requestLength != 0) return Verdict();
        StreamSpans(*polled->protocol, b, count, spans);
    } else if (const Pusher* pusher = FindPusher(model)) {
        EventSpans(*pusher->events, b, count, bursts, spans);
    } else {
        return Verdict();
    }
    return Standalone(spans, bursts, count);
}

namespace {

// How strictly a model's format checks its frame: a check value over the
// frame, then fixed bytes and digit positions, then the length alone.
int CheckStrength(int model) {
    const zel::devices::ModelInfo* row = zel::devices::FindModel(model);
    if (!row) return 0;
    switch (row->frameCheck) {
        case zel::devices::FrameCheck::kCrc:
        case zel::devices::FrameCheck::kXor: return 3;
        case zel::devices::FrameCheck::kStructure: return 2;
        case zel::devices::FrameCheck::kLength: return 1;
        default: return 0;
    }
}

// A reading in kilograms, through the model's factor.
double Kilograms(int model, const Verdict& v) {
    const zel::devices::ModelInfo* row = zel::devices::FindModel(model);
    return v.reading.weight * (row ? row->toKilograms : 1.0);
}

bool SameReading(int a, const Verdict& va, int b, const Verdict& vb) {
    if (va.result != vb.result || va.reading.stable != vb.reading.stable) return false;
    const double ka = Kilograms(a, va), kb = Kilograms(b, vb);
    return std::fabs(ka - kb) <= 1e-9 * std::max(1.0, std::max(std::fabs(ka), std::fabs(kb))) &&
           va.reading.price == vb.reading.price && va.reading.cost == vb.reading.cost;
}

// Of the models that took the same bytes, the ones to name: those that read
// them as the model that reads them best does. Best: a non-zero reading
// where another model reads one (a zero beside it left the frame's digits
// unread), then the strictest frame check. When the best models read the
// bytes differently among themselves nothing tells which one is right, and
// none is named. The best comes first.
void KeepAgreeing(std::vector<int>& models, std::vector<Verdict>& verdicts, std::string& why) {
    if (models.size() < 2) return;
    bool anyNonZero = false;
    for (size_t i = 0; i < models.size(); ++i) anyNonZero = anyNonZero || Kilograms(models[i], verdicts[i]) != 0.0;
    auto rank = [&](size_t i) {
        const bool nonZero = Kilograms(models[i], verdicts[i]) != 0.0;
        return (anyNonZero && nonZero ? 10 : 0) + CheckStrength(models[i]);
    };
    size_t best = 0;
    for (size_t i = 1; i < models.size(); ++i)
        if (rank(i) > rank(best)) best = i;
    for (size_t i = 0; i < models.size(); ++i) {
        if (rank(i) == rank(best) && !SameReading(models[i], verdicts[i], models[best], verdicts[best])) {
            why = GroupName(models) + ": the reply reads differently by model";
            models.clear();
            verdicts.clear();
            return;
        }
    }
    std::vector<int> kept{models[best]};
    std::vector<Verdict> keptVerdicts{verdicts[best]};
    for (size_t i = 0; i < models.size(); ++i) {
        if (i == best || !SameReading(models[i], verdicts[i], models[best], verdicts[best])) continue;
        kept.push_back(models[i]);
        keptVerdicts.push_back(verdicts[i]);
    }
    models.swap(kept);
    verdicts.swap(keptVerdicts);
}

}  // namespace

Finding Judge(const Step& step, const std::string& bytes, const std::vector<size_t>& bursts) {
    Finding f;
    const uint8_t* b = reinterpret_cast<const uint8_t*>(bytes.data());
    std::vector<std::pair<std::string, std::vector<int>>> refused;  // reason, models
    std::vector<Verdict> verdicts;  // of f.models
    for (int model : step.models) {
        Verdict v = step.listen ? JudgeHeard(model, b, bytes.size(), bursts) : JudgeReply(model, b, bytes.size());
        if (!v.ok) {
            std::string why = step.listen ? (v.frames == 1 ? "one frame, not two" : "no frame that stands alone")
                                          : zel::exchange::RefusalText(v.refusal);
            if (!step.listen && v.refusal == zel::exchange::Refusal::kDecoder) why += " (result " + std::to_string(v.result) + ")";
            auto same = std::find_if(refused.begin(), refused.end(), [&](const auto& r) { return r.first == why; });
            if (same == refused.end()) refused.push_back({why, {model}});
            else same->second.push_back(model);
            continue;
        }
        f.models.push_back(model);
        verdicts.push_back(v);
    }
    KeepAgreeing(f.models, verdicts, f.why);
    if (!f.models.empty()) f.verdict = verdicts.front();
    if (f.models.empty() && !bytes.empty())
        for (const auto& r : refused) f.why += (f.why.empty() ? "" : "; ") + GroupName(r.second) + ": " + r.first;
    return f;
}

bool IsEcho(const std::string& bytes, const std::string& sent, const std::string& request) {
    // Nothing, or the request over and over, perhaps cut short.
    bool repeats = !request.empty() || bytes.empty();
    for (size_t i = 0; repeats && i < bytes.size(); ++i) repeats = bytes[i] == request[i % request.size()];
    if (repeats) return true;
    // Bytes the scan sent (three or more), however late they come back.
    return bytes.size() >= 3 && sent.find(bytes) != std::string::npos;
}

Finding JudgeReceived(const Step& step, const std::string& received, const std::string& sent,
                      const std::vector<size_t>& bursts) {
    if (step.listen) return Judge(step, received, bursts);
    // What came as it came, then with each echo taken off its front: the
    // longest front that repeats the end of what was sent, as long as it
    // holds the whole request. (Some scales begin their frame with the
    // request, so the bytes as they came are judged too.)
    std::string rest = received;
    std::string why;  // the reason the bytes as they came were refused
    for (;;) {
        if (!IsEcho(rest, sent, step.request)) {
            Finding f = Judge(step, rest);
            if (!f.models.empty()) return f;
            if (why.empty()) why = f.why;
        } else if (why.empty() && !rest.empty()) {
            why = "what was sent, echoed back";
        }
        size_t echo = 0;
        for (size_t k = std::min(rest.size(), sent.size()); k >= step.request.size() && k > 0; --k) {
            if (rest.compare(0, k, sent, sent.size() - k, k) == 0) {
                echo = k;
                break;
            }
        }
        if (echo == 0) {
            Finding none;
            none.why = why;
            return none;
        }
        rest.erase(0, echo);
    }
}

Finding Confirmed(const Finding& first, const Finding& second) {
    Finding f;
    for (int model : second.models)
        if (std::find(first.models.begin(), first.models.end(), model) != first.models.end()) f.models.push_back(model);
    if (!f.models.empty()) f.verdict = second.verdict;
    return f;
}

bool OneReadingHeard(const Step& step, const std::string& bytes, const std::vector<size_t>& bursts) {
    if (!step.listen) return false;
    const uint8_t* b = reinterpret_cast<const uint8_t*>(bytes.data());
    for (const Pusher& p : Pushers()) {
        if (std::find(step.models.begin(), step.models.end(), p.model) == step.models.end()) continue;
        if (JudgeHeard(p.model, b, bytes.size(), bursts).frames == 1) return true;
    }
    return false;
}

}  // namespace detect
}  // namespace zelscales
