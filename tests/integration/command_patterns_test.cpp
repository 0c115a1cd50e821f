// The commands the model table describes are the bytes the classes write:
// every tare, zero and price a model takes is driven on a pseudo-terminal
// and what reaches the far end must be spelled wholly by that model's own
// descriptions. Detect builds its guard from the same descriptions, so a
// command whose bytes change in a class and not in its description fails
// here.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "devices/ModelTable.h"
#include "platform/sys.h"
#include "scales/IScalesObject.h"
#include "tests/unit/transport_test_util.h"

namespace {

using zel::exchange::CommandList;
using zel::exchange::CommandPattern;

bool MatchesAt(const std::string& s, size_t at, const CommandPattern& p) {
    if (at + p.bytes.size() > s.size()) return false;
    for (size_t i = 0; i < p.bytes.size(); ++i)
        if (p.bytes[i] != CommandPattern::kAny && static_cast<unsigned char>(s[at + i]) != p.bytes[i]) return false;
    return true;
}

// True when `sent` is one or more of the patterns back to back (a command
// may go out twice).
bool SpelledBy(const std::string& sent, const CommandList& list) {
    size_t at = 0;
    while (at < sent.size()) {
        bool advanced = false;
        for (const CommandPattern& p : list) {
            if (!p.bytes.empty() && MatchesAt(sent, at, p)) {
                at += p.bytes.size();
                advanced = true;
                break;
            }
        }
        if (!advanced) return false;
    }
    return !sent.empty();
}

std::string Hex(const std::string& s) {
    static const char* d = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        out += d[c >> 4];
        out += d[c & 15];
        out += ' ';
    }
    return out;
}

// What arrives at the master within `ms`, stopping once the line has been
// quiet for 120 ms after the first byte.
std::string Collect(int master, uint64_t ms) {
    std::string got;
    char buf[256];
    const uint64_t start = platform::MonotonicMs();
    uint64_t last = start;
    while (platform::MonotonicMs() - start < ms) {
        long n = platform::IoRead(master, buf, sizeof buf);
        if (n > 0) {
            got.append(buf, static_cast<size_t>(n));
            last = platform::MonotonicMs();
        } else {
            if (!got.empty() && platform::MonotonicMs() - last > 120) break;
            platform::SleepMs(5);
        }
    }
    return got;
}

}  // namespace

#ifndef _WIN32
TEST(CommandPatterns, EveryCommandOnTheLineIsSpelledByItsModelsDescriptions) {
    using zel::devices::ModelKind;
    size_t count = 0;
    const zel::devices::ModelInfo* rows = zel::devices::AllModels(&count);
    struct Call {
        const char* name;
        bool taken;
        int32_t (*run)(IScalesObject&, int32_t);
        int32_t value;
    };
    struct Job {
        const zel::devices::ModelInfo* row;
        Call call;
        CommandList list;
        std::string sent, error;
    };
    std::vector<Job> jobs;
    for (size_t i = 0; i < count; ++i) {
        const zel::devices::ModelInfo& row = rows[i];
        if (row.kind != ModelKind::kPolled && row.kind != ModelKind::kListener) continue;
        const CommandList list = zel::devices::CommandsOf(row.number);
        using zel::devices::Command;
        using zel::devices::Delivery;
        auto sent = [&row](Command c) {
            const Delivery d = zel::devices::DeliveryOf(row.number, c);
            return d != Delivery::kNotTaken && d != Delivery::kNotSent;
        };
        std::vector<Call> calls = {
            {"tare", sent(Command::kTare), [](IScalesObject& o, int32_t) { return o.Tare(1.0); }, 0},
            {"zero", sent(Command::kZero), [](IScalesObject& o, int32_t) { return o.Zero(); }, 0},
            {"price", sent(Command::kPrice), [](IScalesObject& o, int32_t v) { return o.SendPrice(v); }, 1250},
        };
        // The IQ plus takes three price values as commands of their own.
        if (row.number == 24) {
            calls.pop_back();
            for (int32_t v : {12345, 1, 2})
                calls.push_back({"price", true, [](IScalesObject& o, int32_t x) { return o.SendPrice(x); }, v});
        }
        for (const Call& call : calls) {
            if (call.taken) jobs.push_back({&row, call, list, "", ""});
        }
    }
    // Each call on its own line and thread: most of the time is waiting.
    std::vector<std::thread> threads;
    for (Job& job : jobs) {
        threads.emplace_back([&job] {
            zeltest::Pty pty;
            std::unique_ptr<IScalesObject> o(CreateScalesObject(job.row->number));
            if (pty.master == platform::kNoHandle || !o || o->OpenCom(pty.slave.c_str(), 9600, nullptr) != 0) {
                job.error = "could not open";
                return;
            }
            job.call.run(*o, job.call.value);
            // A listener writes at its next read attempt, a confirmed command
            // waits for its reply: give both time.
            job.sent = Collect(pty.master, job.row->kind == ModelKind::kListener ? 3000 : 1500);
            o->Disconnect();
        });
    }
    for (std::thread& t : threads) t.join();
    for (const Job& job : jobs) {
        SCOPED_TRACE("model " + std::to_string(job.row->number) + " " + job.call.name + " " + std::to_string(job.call.value));
        EXPECT_EQ(job.error, "");
        EXPECT_TRUE(SpelledBy(job.sent, job.list)) << "sent " << Hex(job.sent);
    }
    // Every command of the table was driven (a count that changes with it).
    EXPECT_GE(jobs.size(), 20u);
}
#endif
