// The polled models of the model table with their protocol descriptions,
// for the fault suites: the list comes from the table, never from numbers
// typed here.
#pragma once

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "devices/ModelTable.h"
#include "scales/exchange/Exchange.h"
#include "scales/exchange/PolledScale.h"
#include "sim/Frames.h"
#include "tests/unit/exchange_scripted_line.h"

namespace zelfault {

struct PolledModel {
    const zel::devices::ModelInfo* row;
    const zel::exchange::PolledProtocol* protocol;  // a description with static lifetime
};

inline std::vector<PolledModel> PolledModels() {
    std::vector<PolledModel> out;
    size_t count = 0;
    const zel::devices::ModelInfo* rows = zel::devices::AllModels(&count);
    for (size_t i = 0; i < count; ++i) {
        if (rows[i].kind != zel::devices::ModelKind::kPolled) continue;
        out.push_back({&rows[i], zel::devices::PolledProtocolOf(rows[i].number)});
    }
    return out;
}

inline bool HasOwnCheck(zel::devices::FrameCheck c) {
    return c == zel::devices::FrameCheck::kCrc || c == zel::devices::FrameCheck::kXor;
}

struct Outcome {
    int32_t result = -1;
    zel::exchange::Reading reading;
};

inline bool Same(const zel::exchange::Reading& a, const zel::exchange::Reading& b) {
    return a.weight == b.weight && a.price == b.price && a.cost == b.cost && a.stable == b.stable;
}

// The display every model's good frame shows: 1.234 kg, a price and its
// cost, stable.
inline sim::Display Shown() {
    sim::Display d;
    d.weight = 1.234;
    d.price = 56.78;
    d.cost = std::round(d.weight * d.price * 100.0) / 100.0;
    d.stable = true;
    d.decimals = 3;
    return d;
}

// `bytes` arrive 1 ms after the first `requestLength` bytes were written.
inline void AnswerOnceAsked(zeltest::ScriptedLine& line, int requestLength, const std::vector<uint8_t>& bytes) {
    auto written = std::make_shared<int>(0);
    line.onWrite = [written, requestLength, bytes](zeltest::ScriptedLine& l, const std::vector<uint8_t>& w) {
        const bool before = *written < requestLength;
        *written += static_cast<int>(w.size());
        if (before && *written >= requestLength) l.Arrive(1, bytes);
    };
}

// One read cycle on a scripted line with a virtual clock, whose scale
// answers the first complete request with `reply` (a scale that talks all
// the time instead sends `reply` followed by two good frames, so a refused
// frame leaves the good one to be read).
inline Outcome Judge(const zel::exchange::PolledProtocol& p, bool streams, const std::string& reply,
                     const std::string& good) {
    zeltest::ScriptedLine line;
    zeltest::ScriptedSession session;
    session.line = &line;
    std::vector<uint8_t> bytes(reply.begin(), reply.end());
    if (streams || p.requestLength == 0) {
        for (int i = 0; i < 2; ++i) bytes.insert(bytes.end(), good.begin(), good.end());
        line.Arrive(1, bytes);
    } else {
        AnswerOnceAsked(line, p.requestLength, bytes);
    }
    Outcome o;
    o.result = zel::exchange::RunReadCycle(p, line, session, o.reading);
    return o;
}

// printf into a std::string.
template <class... Args>
std::string Format(const char* format, Args... args) {
    char buf[512];
    std::snprintf(buf, sizeof buf, format, args...);
    return buf;
}

}  // namespace zelfault
