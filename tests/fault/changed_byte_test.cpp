// Every single-byte change of a good reply, on bytes alone: for each polled
// model, the simulator's frame for a known display has each of its bytes
// set to every other value in turn, and the driver's own read cycle (the
// exchange engine with the model's description, on a scripted line with a
// virtual clock) judges it. Counted: changes still taken as a reading, and
// those taken with a value other than the true one. The table's frame-check
// column is held against these counts.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "scales/exchange/Exchange.h"
#include "sim/Frames.h"
#include "sim/Simulator.h"
#include "tests/fault/polled_models.h"
#include "tests/unit/exchange_scripted_line.h"

using zel::devices::FrameCheck;
using zel::devices::FrameCheckName;
using zel::exchange::PolledProtocol;
using zel::exchange::Reading;
using zelfault::Judge;
using zelfault::Outcome;
using zelfault::PolledModel;
using zelfault::Same;

namespace {

struct Count {
    int model = -1;
    FrameCheck check = FrameCheck::kNone;
    size_t frameBytes = 0;
    int changes = 0;
    int taken = 0;        // the cycle reported success
    int wrongValue = 0;   // ... with weight, price, cost or stable not the true ones
    int wrongWeight = 0;  // ... with another weight
    int refusedByCheck = 0;  // changes the protocol's accepts refuses outright
    bool baselineOk = false;
    std::string baseline;  // what went wrong with the good frame
};

// What the scale shows for the count: a weight with every digit different,
// a price and so a cost, settled.
sim::Display Shown() {
    sim::Display d;
    d.weight = 1.234;
    d.price = 56.78;
    d.stable = true;
    d.decimals = 3;
    return d;
}

Count CountChanges(const PolledModel& m) {
    Count c;
    c.model = m.row->number;
    c.check = m.row->frameCheck;
    const PolledProtocol& p = *m.protocol;
    const bool streams = sim::ModelStreams(c.model);
    sim::Display d = Shown();
    d.cost = std::round(d.weight * d.price * 100.0) / 100.0;
    const std::string good = sim::EncodeFrame(c.model, d);
    c.frameBytes = good.size();
    const Outcome truth = Judge(p, streams, good, good);
    if (good.empty() || truth.result != 0) {
        c.baseline = zelfault::Format("the good frame gives %d", truth.result);
        return c;
    }
    c.baselineOk = true;
    std::vector<uint8_t> buffer(static_cast<size_t>(p.replyLength) + 1);
    for (size_t at = 0; at < good.size(); ++at) {
        for (int v = 0; v < 256; ++v) {
            if (v == static_cast<uint8_t>(good[at])) continue;
            std::string changed = good;
            changed[at] = static_cast<char>(v);
            ++c.changes;
            // The check on its own, on the bytes as the engine hands them over.
            std::fill(buffer.begin(), buffer.end(), 0);
            const size_t n = std::min(changed.size(), static_cast<size_t>(p.replyLength));
            std::copy(changed.begin(), changed.begin() + static_cast<long>(n), buffer.begin());
            if (!p.accepts(buffer.data(), n)) ++c.refusedByCheck;
            const Outcome o = Judge(p, streams, changed, good);
            if (o.result != 0) continue;
            ++c.taken;
            if (!Same(o.reading, truth.reading)) ++c.wrongValue;
            if (o.reading.weight != truth.reading.weight) ++c.wrongWeight;
        }
    }
    return c;
}

std::vector<Count> CountAll() {
    std::vector<Count> out;
    for (const PolledModel& m : zelfault::PolledModels()) {
        if (!m.protocol || !sim::ModelSupported(m.row->number)) continue;
        out.push_back(CountChanges(m));
    }
    return out;
}

const std::vector<Count>& Counts() {
    static const std::vector<Count> counts = CountAll();
    return counts;
}

TEST(ChangedByte, EveryPolledModelIsCounted) {
    const std::vector<Count>& counts = Counts();
    std::printf("\nSingle-byte changes of a good reply (1.234 kg at 56.78), judged by the driver's read cycle:\n");
    std::printf("%-5s %-15s %5s %8s %7s %7s %7s %8s\n", "model", "frame check", "bytes", "changes", "refused", "taken",
                "wrong", "wrong kg");
    for (const Count& c : counts) {
        if (!c.baselineOk) {
            std::printf("%-5d %-15s %5zu  %s\n", c.model, FrameCheckName(c.check), c.frameBytes, c.baseline.c_str());
            continue;
        }
        std::printf("%-5d %-15s %5zu %8d %7d %7d %7d %8d\n", c.model, FrameCheckName(c.check), c.frameBytes, c.changes,
                    c.refusedByCheck, c.taken, c.wrongValue, c.wrongWeight);
    }
    std::printf("(refused: by the protocol's accepts alone; taken: the cycle reported success; wrong: with a\n"
                " weight, price, cost or stable flag other than the true ones; wrong kg: another weight)\n");
    size_t polled = 0;
    for (const PolledModel& m : zelfault::PolledModels()) polled += m.protocol ? 1 : 0;
    EXPECT_EQ(polled, counts.size()) << "every polled model has a simulated scale";
    for (const Count& c : counts) EXPECT_TRUE(c.baselineOk) << "model " << c.model << ": " << c.baseline;
}

// What the column claims, held against the counts:
//   CRC, XOR        no change is taken with a wrong value;
//   XOR held        (per line, once the scale shows it) some bytes checked;
//   structure only  the check refuses some changes, yet some are taken with
//                   a wrong value (else the column undersells the format);
//   length only     the check refuses no change, and some are taken with a
//                   wrong value.
TEST(ChangedByte, FrameCheckColumnHoldsAgainstTheCounts) {
    for (const Count& c : Counts()) {
        if (!c.baselineOk) continue;
        SCOPED_TRACE(testing::Message() << "model " << c.model << ", " << FrameCheckName(c.check));
        switch (c.check) {
            case FrameCheck::kCrc:
            case FrameCheck::kXor:
                EXPECT_EQ(0, c.wrongValue) << "a reply with one changed byte read as another reading";
                break;
            case FrameCheck::kXorHeld:
                // Judged on its own, a frame is checked only where it shows a
                // check: no change may pass the accepts of every byte.
                EXPECT_GT(c.refusedByCheck, 0) << "no byte is checked: length only";
                break;
            case FrameCheck::kStructure:
                EXPECT_GT(c.refusedByCheck, 0) << "no byte is checked: length only";
                EXPECT_GT(c.wrongValue, 0) << "every change refused or harmless: the format checks more";
                break;
            case FrameCheck::kLength:
                EXPECT_EQ(0, c.refusedByCheck) << "the check looks at the bytes: structure only";
                EXPECT_GT(c.wrongValue, 0);
                break;
            default:
                ADD_FAILURE() << "a polled model without a frame check in the table";
        }
    }
}

}  // namespace
