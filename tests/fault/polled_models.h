// The polled models of the model table with their protocol descriptions,
// for the fault suites: the list comes from the table, never from numbers
// typed here.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "devices/ModelTable.h"
#include "scales/exchange/PolledScale.h"

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

// printf into a std::string.
template <class... Args>
std::string Format(const char* format, Args... args) {
    char buf[512];
    std::snprintf(buf, sizeof buf, format, args...);
    return buf;
}

}  // namespace zelfault
