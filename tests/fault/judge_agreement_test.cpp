// The read cycle and the tools' judgement agree: for every polled model of
// the table, the same bytes (the simulator's good frame, each fixed byte
// changed, a decoder that refuses, a stream frame with a byte of the wrong
// kind) give the cycle on a scripted line and JudgeReply the same reading,
// or both no reading.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "core/ResultCodes.h"
#include "scales/exchange/Exchange.h"
#include "sim/Frames.h"
#include "sim/Simulator.h"
#include "tests/fault/polled_models.h"
#include "tests/unit/exchange_scripted_line.h"

using zel::exchange::Decoded;
using zel::exchange::PolledProtocol;
using zel::exchange::Reading;
using zel::exchange::Refusal;
using zel::exchange::Verdict;

namespace {

// The description whose decoder the refusing decoders below stand in for.
const PolledProtocol* gReal = nullptr;

// The real decoder writes its outputs, then the frame is refused.
Decoded RefusesAfterWriting(const uint8_t* f, size_t n, Reading& out) {
    gReal->decode(f, n, out);
    return zel::exchange::Refuse("refused");
}
// A result the tools take as no reading, with the cycle ended on it.
Decoded EndsWithError(const uint8_t* f, size_t n, Reading& out) {
    gReal->decode(f, n, out);
    return Decoded(zel::kNoConnection, Verdict::kEndCycle);
}
bool NoKinds(const uint8_t*, size_t) { return false; }

// One read cycle: a polled scale answers its first request with `reply`; a
// scale that talks all the time sends `reply` over and over, 20 ms apart.
zelfault::Outcome Cycle(const PolledProtocol& p, const std::string& reply) {
    zeltest::ScriptedLine line;
    zeltest::ScriptedSession session;
    session.line = &line;
    const std::vector<uint8_t> bytes(reply.begin(), reply.end());
    if (p.requestLength == 0) {
        for (int i = 0; i < 60; ++i) line.Arrive(1 + 20 * static_cast<uint64_t>(i), bytes);
    } else {
        zelfault::AnswerOnceAsked(line, p.requestLength, bytes);
    }
    zelfault::Outcome o;
    o.result = zel::exchange::RunReadCycle(p, line, session, o.reading);
    return o;
}

struct Case {
    std::string what;
    const PolledProtocol* protocol;
    std::string bytes;
};

// Both judges on one case; "" when they agree.
std::string Disagreement(const Case& c, bool* taken = nullptr) {
    const PolledProtocol& p = *c.protocol;
    const zelfault::Outcome cycle = Cycle(p, c.bytes);
    const auto j = zel::exchange::JudgeReply(p, reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size());
    if (taken) *taken = j.refusal == Refusal::kNone;
    if (j.refusal == Refusal::kNone) {
        if (cycle.result != j.decoded.result)
            return zelfault::Format("judged a reading (result %d), the cycle gives %d", j.decoded.result,
                                    cycle.result);
        if (!zelfault::Same(cycle.reading, j.reading))
            return zelfault::Format("readings differ: judged %g/%g/%g/%d, cycle %g/%g/%g/%d", j.reading.weight,
                                    j.reading.price, j.reading.cost, j.reading.stable, cycle.reading.weight,
                                    cycle.reading.price, cycle.reading.cost, cycle.reading.stable);
        return "";
    }
    // No reading: the cycle may not report one either.
    const int32_t r = cycle.result;
    if (r == zel::kOk || r == zel::kOverload || r == zel::kNothingDone)
        return zelfault::Format("judged no reading (%s), the cycle gives %d with weight %g",
                                zel::exchange::RefusalText(j.refusal), r, cycle.reading.weight);
    return "";
}

}  // namespace

TEST(JudgeAgreement, CycleAndToolsJudgeTheSameBytesAlike) {
    int models = 0, cases = 0, fixedChanges = 0, kindChanges = 0;
    for (const zelfault::PolledModel& m : zelfault::PolledModels()) {
        const int model = m.row->number;
        if (!m.protocol) continue;
        const PolledProtocol& p = *m.protocol;
        const std::string good = sim::EncodeFrame(model, zelfault::Shown());
        if (good.empty()) continue;
        SCOPED_TRACE(zelfault::Format("model %d", model));
        ++models;
        std::vector<Case> table = {{"the good frame", &p, good}};
        // Each fixed byte changed.
        if (p.layout)
            for (size_t f = 0; f < p.layout->count; ++f) {
                const zel::exchange::Field& field = p.layout->fields[f];
                if (field.cls != zel::exchange::ByteClass::kFixed) continue;
                for (size_t at = field.offset; at < field.offset + field.length && at < good.size(); ++at) {
                    std::string changed = good;
                    changed[at] = static_cast<char>(changed[at] ^ 0x40);
                    table.push_back({zelfault::Format("fixed byte %zu changed", at), &p, changed});
                    ++fixedChanges;
                }
            }
        // A stream frame whose every check but the byte kinds holds.
        if (p.stream && p.stream->kinds)
            for (size_t at = 1; at < good.size(); ++at)
                for (uint8_t v : {0x01, 0x0D, 0x7F, 0xC0}) {
                    std::string changed = good;
                    changed[at] = static_cast<char>(v);
                    const auto* b = reinterpret_cast<const uint8_t*>(changed.data());
                    const size_t n = changed.size();
                    if (!p.accepts(b, n) || (p.layout && !zel::exchange::FixedFieldsHold(*p.layout, b, n)) ||
                        p.stream->kinds(b, n))
                        continue;
                    table.push_back({zelfault::Format("byte %zu of the wrong kind (%02X)", at, v), &p, changed});
                    ++kindChanges;
                }
        // Decoders that refuse the good frame after writing the outputs, and
        // byte kinds that refuse every frame.
        gReal = &p;
        PolledProtocol refusing = p, erring = p, kindless = p;
        refusing.decode = RefusesAfterWriting;
        erring.decode = EndsWithError;
        zel::exchange::StreamFraming noKinds;
        if (p.stream) {
            noKinds = *p.stream;
            noKinds.kinds = NoKinds;
            kindless.stream = &noKinds;
        }
        table.push_back({"a decoder refusal", &refusing, good});
        table.push_back({"a decoder error", &erring, good});
        if (p.stream) table.push_back({"no frame of the stream's kinds", &kindless, good});

        for (const Case& c : table) {
            ++cases;
            bool taken = false;
            EXPECT_EQ(Disagreement(c, &taken), "") << c.what;
            if (c.what == "the good frame") {
                EXPECT_TRUE(taken) << "the simulator's frame is refused";
            } else if (c.protocol != &p || c.what.find("wrong kind") != std::string::npos) {
                EXPECT_FALSE(taken) << c.what;
            }
        }
    }
    std::printf("%d models, %d cases (%d fixed bytes changed, %d stream bytes of the wrong kind)\n", models, cases,
                fixedChanges, kindChanges);
    EXPECT_GT(models, 30);
    EXPECT_GT(fixedChanges, 0);
    EXPECT_GT(kindChanges, 0);
}
