#include "tools/detect_plan.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "core/Crc.h"
#include "core/ResultCodes.h"
#include "devices/ModelTable.h"
#include "scales/exchange/PolledScale.h"
#include "scales/listener/Vn220Events.h"
#include "scales/listener/VnaCiEvents.h"
#include "scales/listener/Vta60Events.h"

namespace zelscales {
namespace detect {

using zel::LineVariant;
using zel::exchange::PolledProtocol;
using zel::exchange::Reading;

namespace {

// --- the models and their protocol descriptions ---------------------------

struct Polled {
    int model;
    LineVariant line;
    const PolledProtocol* protocol;
};

// Every polled model with the driver's own description of its protocol,
// from the model table.
const std::vector<Polled>& PolledModels() {
    static const std::vector<Polled> models = [] {
        std::vector<Polled> out;
        size_t count = 0;
        const zel::devices::ModelInfo* rows = zel::devices::AllModels(&count);
        for (size_t i = 0; i < count; ++i) {
            const zel::devices::ModelInfo& row = rows[i];
            if (row.kind != zel::devices::ModelKind::kPolled || !zel::devices::IsBuilt(row)) continue;
            if (const PolledProtocol* p = zel::devices::PolledProtocolOf(row.number))
                out.push_back(Polled{row.number, row.line, p});
        }
        return out;
    }();
    return models;
}

const Polled* FindPolled(int model) {
    for (const Polled& p : PolledModels())
        if (p.model == model) return &p;
    return nullptr;
}

std::string RequestOf(const PolledProtocol& p) {
    if (!p.request || p.requestLength <= 0) return std::string();
    return std::string(reinterpret_cast<const char*>(p.request), static_cast<size_t>(p.requestLength));
}

// Scales that push readings, with the framing they use.
struct Pusher {
    int model;
    LineVariant line;
};
// The event-driven models of the table, in the order detect tries them.
const std::vector<Pusher>& Pushers() {
    static const std::vector<Pusher> pushers = [] {
        std::vector<Pusher> out;
        size_t count = 0;
        const zel::devices::ModelInfo* rows = zel::devices::AllModels(&count);
        for (size_t i = 0; i < count; ++i)
            if (rows[i].kind == zel::devices::ModelKind::kListener) out.push_back(Pusher{rows[i].number, rows[i].line});
        return out;
    }();
    return pushers;
}

// The models that talk without being asked, and their framings.
std::vector<std::pair<int, LineVariant>> Talkers() {
    std::vector<std::pair<int, LineVariant>> out;
    for (const Polled& p : PolledModels())
        if (p.protocol->requestLength == 0) out.push_back({p.model, p.line});
    for (const Pusher& p : Pushers()) out.push_back({p.model, p.line});
    return out;
}

// Order of the framings within one speed.
const LineVariant kLines[] = {LineVariant::k8N1, LineVariant::k8E1, LineVariant::k8E2};

int ByteTimesMs(size_t bytes, int baud) {
    return baud > 0 ? static_cast<int>((bytes * 11 * 1000 + static_cast<size_t>(baud) - 1) / static_cast<size_t>(baud))
                    : 0;
}

// The first byte, the longest reply of the models at 11 bits a byte, and
// the quiet that ends it.
int ReplyWindowMs(int baud, const std::vector<int>& models) {
    int longest = 1;
    for (int model : models)
        if (const Polled* p = FindPolled(model)) longest = std::max(longest, p->protocol->replyLength);
    return (baud > 0 ? kFirstByteMs : kFirstByteTcpMs) + ByteTimesMs(static_cast<size_t>(longest), baud) + QuietMs(baud);
}

// Where `stream` would spell a command when `next` follows it.
std::vector<CommandHit> HitsOfAppending(const std::string& stream, const std::string& next) {
    return FindCommands(stream + next, stream.size());
}

std::string Hex(const std::string& bytes) {
    std::string out;
    char buf[4];
    for (unsigned char c : bytes) {
        std::snprintf(buf, sizeof buf, "%s%02X", out.empty() ? "" : " ", c);
        out += buf;
    }
    return out;
}

}  // namespace

const std::vector<int>& DefaultBauds() {
    static const std::vector<int> bauds = {9600, 4800, 2400, 19200};
    return bauds;
}

// --- plan ------------------------------------------------------------------

Plan BuildPlan(const std::vector<int>& bauds, bool tcp) {
    Plan plan;
    const std::vector<int> speeds = tcp ? std::vector<int>{0} : bauds;

    // Listening: every framing a talking scale uses, at every speed; what is
    // heard is judged by every talking model (a scale heard at a framing
    // not its own may still come through).
    const auto talkers = Talkers();
    for (int baud : speeds) {
        for (LineVariant line : kLines) {
            bool used = tcp;
            for (const auto& t : talkers) used = used || t.second == line;
            if (!used) continue;
            Step step;
            step.listen = true;
            step.line = line;
            step.baud = baud;
            step.windowMs = kListenMs;
            for (const auto& t : talkers) step.models.push_back(t.first);
            plan.steps.push_back(step);
            if (tcp) break;
        }
    }

    // The probes of one framing (all framings over TCP): one per distinct
    // request, judged by every model that sends that request.
    struct Probe {
        std::string request;
        bool split;
        std::vector<int> models;
    };
    auto probesFor = [&](bool anyLine, LineVariant line) {
        std::vector<Probe> out;
        for (const Polled& p : PolledModels()) {
            if (p.protocol->requestLength == 0) continue;
            if (!anyLine && p.line != line) continue;
            const std::string request = RequestOf(*p.protocol);
            bool merged = false;
            for (Probe& probe : out)
                if (probe.request == request && probe.split == p.protocol->splitSend) merged = true;
            if (merged) continue;
            Probe probe{request, p.protocol->splitSend, {}};
            for (const Polled& q : PolledModels())
                if (RequestOf(*q.protocol) == request && q.protocol->splitSend == p.protocol->splitSend)
                    probe.models.push_back(q.model);
            out.push_back(probe);
        }
        return out;
    };

    // A probe that spells a command on its own can never be sent.
    std::vector<std::string> refused;  // requests left out
    for (const Polled& p : PolledModels()) {
        const std::string request = RequestOf(*p.protocol);
        if (request.empty()) continue;
        std::vector<CommandHit> hits = FindCommands(request);
        if (hits.empty()) continue;
        if (std::find(refused.begin(), refused.end(), request) == refused.end()) refused.push_back(request);
        plan.skipped.push_back("model " + std::to_string(p.model) + ": its request " + Hex(request) + " holds " +
                               hits[0].what);
    }

    // The probes go in an order that spells no command across their
    // boundaries, judged on the stream sent so far; a probe that fits
    // nowhere in its block is left out. A probe that is answered goes out
    // again to hear its second reply, so each must also fit sent up to
    // 1 + kConfirmTries times in a row, after the one before it was.
    std::string stream;
    std::string last;  // the request before, which may have gone out again
    auto repeated = [](const std::string& request) {
        std::string out;
        for (int i = 0; i <= kConfirmTries; ++i) out += request;
        return out;
    };
    auto hitsOf = [&](const std::string& request) {
        std::string before = stream;
        for (int i = 0; i <= kConfirmTries; ++i) {
            std::vector<CommandHit> hits = HitsOfAppending(before, repeated(request));
            if (!hits.empty()) return hits;
            before += last;
        }
        return std::vector<CommandHit>();
    };
    for (int baud : speeds) {
        for (LineVariant line : kLines) {
            std::vector<Probe> pending = probesFor(tcp, line);
            pending.erase(std::remove_if(pending.begin(), pending.end(),
                                         [&](const Probe& p) {
                                             return std::find(refused.begin(), refused.end(), p.request) !=
                                                    refused.end();
                                         }),
                          pending.end());
            while (!pending.empty()) {
                size_t pick = pending.size();
                for (size_t i = 0; i < pending.size() && pick == pending.size(); ++i)
                    if (hitsOf(pending[i].request).empty()) pick = i;
                if (pick == pending.size()) {
                    std::vector<CommandHit> hits = hitsOf(pending[0].request);
                    std::string note = "models " + GroupName(pending[0].models) + " at " +
                                       (baud ? std::to_string(baud) : std::string("TCP")) + " " +
                                       zel::LineName(line) + ": no order keeps its request " +
                                       Hex(pending[0].request) + " from spelling " + hits[0].what;
                    plan.skipped.push_back(note);
                    pending.erase(pending.begin());
                    continue;
                }
                Step step;
                step.line = line;
                step.baud = baud;
                step.request = pending[pick].request;
                step.split = pending[pick].split;
                step.models = pending[pick].models;
                step.windowMs = ReplyWindowMs(baud, step.models);
                step.firstByteMs = baud > 0 ? kFirstByteMs : kFirstByteTcpMs;
                stream += step.request;
                last = step.request;
                plan.steps.push_back(step);
                pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(pick));
            }
            if (tcp) break;
        }
    }
    return plan;
}

std::string PlanStream(const Plan& plan) {
    std::string stream;
    for (const Step& step : plan.steps) stream += step.request;
    return stream;
}

int WireMs(const Step& step) { return ByteTimesMs(step.request.size(), step.baud); }

int QuietMs(int baud) { return std::max(40, ByteTimesMs(4, baud)); }

int SendMs(const Step& step) {
    if (step.request.empty()) return 0;
    return (step.split ? kSplitPauseMs : 0) + WireMs(step) + 5;  // 5: the write itself
}

int PlanBoundMs(const Plan& plan) {
    const bool tcp = !plan.steps.empty() && plan.steps.front().baud == 0;
    int total = tcp ? kConnectMs : kOpenMs;
    int longestProbe = 0;
    bool listens = false;
    bool first = true;
    int baud = 0;
    LineVariant line = LineVariant::k8N1;
    for (const Step& step : plan.steps) {
        if (first || step.baud != baud || step.line != line) total += kSetupMs;
        first = false;
        baud = step.baud;
        line = step.line;
        total += step.windowMs + SendMs(step);
        if (step.listen) listens = true;
        else longestProbe = std::max(longestProbe, step.windowMs + SendMs(step));
    }
    // The confirming sends, each at most the longest probe, and the second
    // window for a scale that pushed one reading.
    return total + kConfirmSends * longestProbe + (listens ? kListenMs : 0);
}

// --- commands ---------------------------------------------------------------

// The commands of every model, as the driver's own classes write them; a
// pattern several models share is one entry with all of them as owners.
const std::vector<CommandPattern>& CommandPatterns() {
    static const std::vector<CommandPattern> patterns = [] {
        std::vector<CommandPattern> out;
        size_t count = 0;
        const zel::devices::ModelInfo* rows = zel::devices::AllModels(&count);
        for (size_t i = 0; i < count; ++i) {
            for (const zel::exchange::CommandPattern& c : zel::devices::CommandsOf(rows[i].number)) {
                auto same = std::find_if(out.begin(), out.end(), [&](const CommandPattern& p) {
                    return p.bytes == c.bytes && std::string(p.what) == c.what;
                });
                if (same == out.end()) out.push_back(CommandPattern{{rows[i].number}, c.what, c.bytes});
                else same->owners.push_back(rows[i].number);
            }
        }
        return out;
    }();
    return patterns;
}

namespace {

bool MatchesAt(const std::string& s, size_t at, const std::vector<int>& bytes) {
    if (at + bytes.size() > s.size()) return false;
    for (size_t i = 0; i < bytes.size(); ++i)
        if (bytes[i] >= 0 && static_cast<unsigned char>(s[at + i]) != bytes[i]) return false;
    return true;
}

// True when [at, at+length) lies inside an occurrence of a read request of
// one of `owners`.
bool InsideOwnRequest(const std::string& s, size_t at, size_t length, const std::vector<int>& owners) {
    for (int owner : owners) {
        const Polled* p = FindPolled(owner);
        if (!p) continue;
        const std::string request = RequestOf(*p->protocol);
        if (request.size() < length) continue;
        // Occurrences of the request that could cover [at, at+length).
        const size_t lowest = at + length >= request.size() ? at + length - request.size() : 0;
        for (size_t start = lowest; start <= at; ++start)
            if (s.compare(start, request.size(), request) == 0) return true;
    }
    return false;
}

}  // namespace

std::vector<CommandHit> FindCommands(const std::string& s, size_t from) {
    std::vector<CommandHit> hits;
    for (const CommandPattern& p : CommandPatterns()) {
        const size_t first = from >= p.bytes.size() ? from - p.bytes.size() + 1 : 0;
        for (size_t at = first; at + p.bytes.size() <= s.size(); ++at) {
            if (!MatchesAt(s, at, p.bytes)) continue;
            if (InsideOwnRequest(s, at, p.bytes.size(), p.owners)) continue;
            // "model 35's tare", "models 40/41's zero"
            hits.push_back(CommandHit{at, p.bytes.size(),
                                      (p.owners.size() == 1 ? "model " : "models ") + GroupName(p.owners) + "'s " +
                                          p.what});
        }
    }
    // Modbus writes to any slave: single coil/register (8 bytes) and
    // multiple coils/registers (7 bytes, the data, the CRC).
    const uint8_t* b = reinterpret_cast<const uint8_t*>(s.data());
    const size_t longest = 9 + 255;
    for (size_t at = from > longest ? from - longest : 0; at + 8 <= s.size(); ++at) {
        const uint8_t function = b[at + 1];
        size_t length = 0;
        if (function == 0x05 || function == 0x06) length = 8;
        else if ((function == 0x0F || function == 0x10) && at + 7 <= s.size()) length = 9 + b[at + 6];
        if (length == 0 || at + length > s.size() || at + length <= from) continue;
        if (zel::Crc16ModbusHolds(b + at, length))
            hits.push_back(CommandHit{at, length, "Modbus write"});
    }
    return hits;
}

// --- judging -----------------------------------------------------------------

namespace {

const int kMaxReply = PolledProtocol::kMaxReply;

bool IsDigitValues(const uint8_t* b, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (b[i] > 9) return false;
    return true;
}

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

double FieldNumber(const uint8_t* field, size_t length) {
    char text[16] = {0};
    std::memcpy(text, field, std::min(length, sizeof text - 1));
    return ParseNumberText(text);
}

}  // namespace

Verdict JudgeHeard(int model, const uint8_t* b, size_t count, const std::vector<size_t>& bursts) {
    Verdict v;
    std::vector<Span> spans;
    if (const Polled* polled = FindPolled(model)) {
        if (polled->protocol->requestLength != 0) return v;
        StreamSpans(*polled->protocol, b, count, spans);
        return Standalone(spans, bursts, count);
    }
    namespace vn = zel::vn220;
    switch (model) {
    case 5:  // 7-byte frame, not followed by a tare extension (that is 32)
    case 32:
        for (size_t i = 0; i + vn::kWeightFrameLength <= count; ++i) {
            if (!vn::WeightMarkersOk(b + i) || !vn::WeightDigitsOk(b + i)) continue;
            const bool extended = i + vn::kTareFrameLength <= count && b[i + 7] == 0x3D && b[i + 13] == 0x3E;
            if ((model == 32) != extended) continue;
            Reading r;
            r.weight = model == 5 ? vn::Vn220WeightKg(b + i) : static_cast<double>(vn::TaraRawWeight(b + i));
            const size_t length = extended ? vn::kTareFrameLength : vn::kWeightFrameLength;
            spans.push_back(Span{i, i + length, r, 0});
            i += length - 1;
        }
        break;
    case 6:  // '<' ... CR, 9 to 49 bytes
        for (size_t i = 0; i < count; ++i) {
            if (b[i] != 0x3C) continue;
            size_t end = i;
            while (end < count && end - i < zel::vnaci::kFrameCapacity && b[end] != zel::vnaci::kFrameEnd) ++end;
            if (end >= count || b[end] != zel::vnaci::kFrameEnd) continue;
            const int length = static_cast<int>(end - i + 1);
            uint8_t frame[zel::vnaci::kFrameCapacity + 1] = {0};
            if (length > zel::vnaci::kFrameCapacity) continue;
            std::memcpy(frame, b + i, static_cast<size_t>(length));
            if (!zel::vnaci::FrameOk(frame, length) || !zel::vnaci::WeightFieldOk(frame)) continue;
            Reading r;
            r.weight = zel::vnaci::FrameWeightKg(frame);
            spans.push_back(Span{i, end + 1, r, 0});
            i = end;
        }
        break;
    case 15:  // three 7-character fields with CR, final LF
        for (size_t i = 0; i + zel::vta60::kTextFrameLength <= count; ++i) {
            if (!zel::vta60::TextFrameOk(b + i) || !zel::vta60::TextFieldsOk(b + i)) continue;
            Reading r;
            r.weight = FieldNumber(b + i, 7);
            r.price = FieldNumber(b + i + 8, 7);
            r.cost = FieldNumber(b + i + 16, 7);
            spans.push_back(Span{i, i + zel::vta60::kTextFrameLength, r, 0});
            i += zel::vta60::kTextFrameLength - 1;
        }
        break;
    case 22:  // 18 digit values per frame, nothing else on the line
        if (count >= static_cast<size_t>(zel::vta60::kDigitFrameLength) &&
            count % zel::vta60::kDigitFrameLength == 0 && IsDigitValues(b, count)) {
            const zel::vta60::DigitReading r =
                zel::vta60::DecodeDigitFrame(b + count - zel::vta60::kDigitFrameLength);
            v.reading.weight = r.grams * 0.001;
            v.reading.price = r.price * 0.01;
            v.reading.cost = r.cost * 0.01;
            v.frames = static_cast<int>(count / zel::vta60::kDigitFrameLength);
        }
        // Two readings: one could be chance.
        v.ok = v.frames >= 2;
        return v;
    default:
        return v;
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

std::string CoefficientText(double value) {
    if (!(value > 0.0) || value > 1e9) return "1";
    char text[64];
    std::snprintf(text, sizeof text, "%.9f", value);
    std::string out = text;
    while (!out.empty() && out.back() == '0') out.pop_back();
    if (!out.empty() && out.back() == '.') out.pop_back();
    return out;
}

namespace {

// An argument as a POSIX shell reads it back.
std::string ShellWord(const std::string& word) {
    bool plain = !word.empty();
    for (unsigned char c : word)
        plain = plain && (std::isalnum(c) || std::strchr("_./:-=,+@%", c) != nullptr);
    if (plain) return word;
    std::string out = "'";
    for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}  // namespace

std::string WeighCommand(int model, const std::string& port, int baud, const std::string& host, int tcpPort) {
    const zel::devices::ModelInfo* row = zel::devices::FindModel(model);
    const bool pushes = row && row->kind == zel::devices::ModelKind::kListener;
    std::string line = std::string("zelscales ") + (pushes ? "listen" : "weigh");
    if (port.empty()) line += " --host " + ShellWord(host) + " --tcp-port " + std::to_string(tcpPort);
    else line += " --port " + ShellWord(port);
    line += " --model " + std::to_string(model);
    if (port.size()) line += " --baud " + std::to_string(baud);
    line += " --coeff " + CoefficientText(row ? row->toKilograms : 1.0);
    return line;
}

std::string GroupName(const std::vector<int>& models) {
    std::string out;
    for (int m : models) out += (out.empty() ? "" : "/") + std::to_string(m);
    return out;
}

}  // namespace detect
}  // namespace zelscales
