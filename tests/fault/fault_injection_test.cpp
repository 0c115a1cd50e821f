// Every polled model of the model table, weighed through the loaded library
// against its simulated scale under each line fault, on a pseudo-terminal
// and over TCP loopback. One thread and one simulator per model and line,
// all at once. What is held, per model, line and fault:
//   - every call ends within the cycle's own bound: attempts x budget plus
//     the split-send pauses and the reply's bytes, with generous slack;
//   - echo, loopback, half a frame then a cut, a reset, dripping bytes: no
//     call reports success with a reading other than the true one;
//   - noise, and a changed byte: no success other than the true reading
//     for a format with a check of its own (CRC, XOR); for the others the
//     successes are only counted.
// The table printed at the end shows each cell; the failures list them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/ResultCodes.h"
#include "tests/fault/polled_models.h"
#include "tests/integration/polled_support.h"

using zel::devices::FrameCheck;
using zel::devices::FrameCheckName;
using zel::exchange::PolledProtocol;
using zelfault::PolledModel;
using zeltest::PolledRig;
using zeltest::Weighing;
using zeltest::Wire;

namespace {

// What a fault is held to.
enum class Rule {
    kNoWrongReading,   // no success with another reading
    kCheckedNoSuccess, // formats with a check: no success at all; others counted
    kCheckedNoWrong,   // formats with a check: no wrong reading; others counted
};

struct FaultCase {
    char letter;  // column of the table
    const char* name;
    sim::Fault fault;
    int param;
    int calls;
    Rule rule;
};

const FaultCase kFaults[] = {
    {'E', "echo", sim::Fault::Echo, 0, 2, Rule::kNoWrongReading},
    {'L', "loopback", sim::Fault::Loopback, 0, 1, Rule::kNoWrongReading},
    {'H', "half then hang-up", sim::Fault::HalfThenHangUp, 0, 2, Rule::kNoWrongReading},
    {'R', "reset", sim::Fault::Reset, 0, 2, Rule::kNoWrongReading},
    {'D', "drip", sim::Fault::Drip, 0, 1, Rule::kNoWrongReading},
    {'N', "noise", sim::Fault::Noise, 0, 2, Rule::kCheckedNoSuccess},
    {'C', "changed byte", sim::Fault::ChangedByte, 0, 3, Rule::kCheckedNoWrong},
};
const size_t kFaultCount = sizeof(kFaults) / sizeof(kFaults[0]);

const Wire kWires[] = {Wire::Pty, Wire::Tcp};

// The longest a call may take: every attempt spends its budget (once for a
// budget per call), plus per attempt the split-send pause and the reply's
// bytes arriving at up to 2 ms each (noise at 9600 baud takes about 1 ms
// per byte and is charged only 1 ms while hunted); then half again, the
// wait for replies an earlier call is still owed (a call that ended with
// its requests unanswered leaves them owed), and 3 s for reconnecting after
// a cut and for a loaded machine running sanitizers.
uint64_t CallBoundMs(const PolledProtocol& p) {
    const uint64_t attempts = static_cast<uint64_t>(p.attempts);
    const uint64_t budget = p.scope == zel::exchange::BudgetScope::kPerCall
                                ? static_cast<uint64_t>(p.budgetMs)
                                : attempts * static_cast<uint64_t>(p.budgetMs);
    const uint64_t perAttempt = (p.splitSend ? zel::exchange::kSplitPauseMs : 0) + 2u * static_cast<uint64_t>(p.replyLength);
    const uint64_t cycle = budget + attempts * perAttempt;
    return cycle * 3 / 2 + static_cast<uint64_t>(zel::exchange::kOwedReplyMs) + 3000;
}

struct Reading {
    double weight, price, cost;
    int64_t stable;
    bool operator==(const Reading& o) const {
        return weight == o.weight && price == o.price && cost == o.cost && stable == o.stable;
    }
};

Reading Of(const Weighing& w) { return {w.weight, w.price, w.cost, w.stable}; }

std::string Show(const Reading& r) {
    return zelfault::Format("%.6g/%.6g/%.6g/%lld", r.weight, r.price, r.cost, static_cast<long long>(r.stable));
}

struct Cell {
    int calls = 0;
    int successes = 0;  // code 0
    int wrong = 0;      // code 0 with another reading
    uint64_t longestMs = 0;
    std::string codes;  // "3 3", for the failure message
    std::string wrongSeen;
    bool recovered = true;  // a healthy scale was read again right after
    bool overBound = false;
    bool failed = false;
    std::string why;
};

struct ModelRun {
    PolledModel model;
    Wire wire;
    uint64_t boundMs = 0;
    bool baselineOk = false;
    std::string baseline;
    Reading truth{};
    Cell cells[kFaultCount];
};

bool Checked(const ModelRun& r) { return zelfault::HasOwnCheck(r.model.row->frameCheck); }

void Judge(const FaultCase& f, ModelRun& r, Cell& c) {
    std::string why;
    if (c.overBound) why += zelfault::Format("a call took %llu ms, over %llu; ", (unsigned long long)c.longestMs,
                                             (unsigned long long)r.boundMs);
    switch (f.rule) {
        case Rule::kNoWrongReading:
            if (c.wrong) why += "success with a wrong reading " + c.wrongSeen + "; ";
            break;
        case Rule::kCheckedNoSuccess:
            if (Checked(r) && c.successes) why += "success on noise with a " + std::string(FrameCheckName(r.model.row->frameCheck)) + " format (" + c.wrongSeen + "); ";
            break;
        case Rule::kCheckedNoWrong:
            if (Checked(r) && c.wrong) why += "success with a wrong reading " + c.wrongSeen + "; ";
            break;
    }
    c.failed = !why.empty();
    c.why = why;
}

// Weighs up to twice with the fault gone: the first call after a cut may
// still find the old line.
bool Recovers(PolledRig& rig, const Reading& truth) {
    for (int i = 0; i < 2; ++i) {
        Weighing w = rig.Weigh();
        if (w.code == 0 && Of(w) == truth) return true;
    }
    return false;
}

void RunModel(ModelRun& r) {
    const int model = r.model.row->number;
    r.boundMs = CallBoundMs(*r.model.protocol);
    PolledRig rig(model, r.wire);
    if (rig.openCode != 0) {
        r.baseline = zelfault::Format("Open gives %d", rig.openCode);
        return;
    }
    rig.sim.SetWeight(1.234);
    rig.sim.SetPrice(56.78);
    rig.sim.SetStable(true);
    // A second call where the first found no answer: a first reply on a
    // line just opened may come late on a machine busy with other suites;
    // the faults below are judged against the reading it gives.
    Weighing clean = rig.Weigh();
    if (clean.code == zel::kNoAnswer) clean = rig.Weigh();
    if (clean.code != 0) {
        r.baseline = zelfault::Format("a healthy scale gives %d", clean.code);
        return;
    }
    r.truth = Of(clean);
    r.baselineOk = true;
    for (size_t i = 0; i < kFaultCount; ++i) {
        const FaultCase& f = kFaults[i];
        Cell& c = r.cells[i];
        rig.sim.SetFault(f.fault, f.param);
        for (int k = 0; k < f.calls; ++k) {
            Weighing w = rig.Weigh();
            ++c.calls;
            c.longestMs = std::max(c.longestMs, w.tookMs);
            if (w.tookMs > r.boundMs) c.overBound = true;
            if (!c.codes.empty()) c.codes += ' ';
            c.codes += std::to_string(w.code);
            if (w.code != 0) continue;
            ++c.successes;
            if (!(Of(w) == r.truth)) {
                ++c.wrong;
                if (c.wrongSeen.empty()) c.wrongSeen = Show(Of(w));
            } else if (c.wrongSeen.empty() && f.rule == Rule::kCheckedNoSuccess) {
                c.wrongSeen = Show(Of(w));
            }
        }
        rig.sim.SetFault(sim::Fault::None);
        c.recovered = Recovers(rig, r.truth);
        Judge(f, r, c);
    }
}

// One row per model: the frame check, then per line a letter for each fault
// that failed ('.' held), the successes under noise and the wrong readings
// under a changed byte (of the calls made), and '!' after a line that did
// not read a healthy scale again after some fault.
void PrintTable(const std::vector<ModelRun>& runs) {
    std::string legend;
    for (const FaultCase& f : kFaults) legend += zelfault::Format("%c %s, ", f.letter, f.name);
    std::printf("\nFault injection (%s'.' held):\n", legend.c_str());
    std::string letters;
    for (const FaultCase& f : kFaults) letters += f.letter;
    std::printf("%-5s %-15s | %-7s %-5s %-5s | %-7s %-5s %-5s | %s\n", "model", "frame check", "pty", "noise", "chg",
                "tcp", "noise", "chg", "bound ms");
    std::printf("%-5s %-15s | %-7s %-5s %-5s | %-7s %-5s %-5s |\n", "", "", letters.c_str(), "ok", "wrong",
                letters.c_str(), "ok", "wrong");
    for (size_t i = 0; i + 1 < runs.size(); i += 2) {
        const ModelRun* pair[2] = {&runs[i], &runs[i + 1]};
        std::string line = zelfault::Format("%-5d %-15s", pair[0]->model.row->number, FrameCheckName(pair[0]->model.row->frameCheck));
        for (const ModelRun* r : pair) {
            if (!r->baselineOk) {
                line += zelfault::Format(" | %-19s", r->baseline.substr(0, 19).c_str());
                continue;
            }
            std::string marks;
            std::string noise = "-", changed = "-";
            bool recovered = true;
            for (size_t k = 0; k < kFaultCount; ++k) {
                const Cell& c = r->cells[k];
                marks += c.failed ? kFaults[k].letter : '.';
                recovered = recovered && c.recovered;
                if (kFaults[k].fault == sim::Fault::Noise) noise = zelfault::Format("%d/%d", c.successes, c.calls);
                if (kFaults[k].fault == sim::Fault::ChangedByte) changed = zelfault::Format("%d/%d", c.wrong, c.calls);
            }
            if (!recovered) marks += '!';
            line += zelfault::Format(" | %-7s %-5s %-5s", marks.c_str(), noise.c_str(), changed.c_str());
        }
        line += zelfault::Format(" | %llu", (unsigned long long)pair[0]->boundMs);
        std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
}

TEST(FaultInjection, EveryPolledModelUnderEveryFault) {
    std::vector<ModelRun> runs;
    for (const PolledModel& m : zelfault::PolledModels()) {
        if (!m.protocol || !sim::ModelSupported(m.row->number)) {
            ADD_FAILURE() << "model " << m.row->number << ": no polled protocol or no simulated scale";
            continue;
        }
        for (Wire w : kWires) {
            ModelRun r;
            r.model = m;
            r.wire = w;
            runs.push_back(r);
        }
    }
    ASSERT_FALSE(runs.empty());
    const uint64_t start = platform::MonotonicMs();
    std::vector<std::thread> threads;
    threads.reserve(runs.size());
    for (ModelRun& r : runs) threads.emplace_back([&r] { RunModel(r); });
    for (std::thread& t : threads) t.join();
    const uint64_t took = platform::MonotonicMs() - start;

    PrintTable(runs);
    std::printf("(%zu models x 2 lines, %llu ms)\n", runs.size() / 2, (unsigned long long)took);
    for (const ModelRun& r : runs) {
        const std::string where = zelfault::Format("model %d %s", r.model.row->number, zeltest::WireName(r.wire));
        if (!r.baselineOk) {
            ADD_FAILURE() << where << ": " << r.baseline;
            continue;
        }
        for (size_t k = 0; k < kFaultCount; ++k) {
            const Cell& c = r.cells[k];
            if (!c.recovered) std::printf("%s: no true reading in two calls after %s ended\n", where.c_str(), kFaults[k].name);
            if (!c.failed) continue;
            ADD_FAILURE() << where << ", " << kFaults[k].name << ": " << c.why << "codes " << c.codes << ", true "
                          << Show(r.truth);
        }
    }
}

}  // namespace
