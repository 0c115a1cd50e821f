// The plan of the scan: its steps, their windows and the bound of the whole,
// and the settings a find is reported with.
#include "tools/detect_plan.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "devices/ModelTable.h"
#include "tools/detect_tables.h"

namespace zelscales {
namespace detect {

using zel::LineVariant;
using zel::exchange::PolledProtocol;
using zel::exchange::Reading;
using namespace tables;

namespace {

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

// One listening step per speed and framing that `uses` (over TCP: one step
// with no line settings), judged by every talking model: a scale heard at a
// framing not its own may still come through.
template <class Uses>
void AddListening(Plan& plan, const std::vector<int>& speeds, bool tcp, bool presses, int windowMs, Uses uses) {
    const auto talkers = Talkers();
    for (int baud : speeds) {
        for (LineVariant line : kLines) {
            if (!tcp && !uses(line)) continue;
            Step step;
            step.listen = true;
            step.presses = presses;
            step.line = line;
            step.baud = baud;
            step.windowMs = windowMs;
            for (const auto& t : talkers) step.models.push_back(t.first);
            plan.steps.push_back(step);
            if (tcp) break;
        }
    }
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
    AddListening(plan, speeds, tcp, false, kListenMs, [&](LineVariant line) {
        for (const auto& t : talkers)
            if (t.second == line) return true;
        return false;
    });

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

    // The operator's presses: one long window per speed and framing a
    // pushing scale uses (over TCP one), judged by every talking model.
    if (!Pushers().empty())
        AddListening(plan, speeds, tcp, true, kPressListenMs, [](LineVariant line) {
            for (const Pusher& p : Pushers())
                if (p.line == line) return true;
            return false;
        });
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
    return total + kConfirmSends * longestProbe + (listens ? kSecondWindowMs : 0);
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
