// Model numbers read from the driver's model table, for tests that must not
// go stale when a model is added.
#pragma once

#include <cstdint>
#include <vector>

#include "devices/ModelTable.h"

namespace zeltest {

// Numbers that create nothing: outside the table, and its placeholders.
inline std::vector<int32_t> UnmadeModels() {
    size_t count = 0;
    const zel::devices::ModelInfo* rows = zel::devices::AllModels(&count);
    std::vector<int32_t> out = {-1, static_cast<int32_t>(count), 1000};
    for (size_t i = 0; i < count; ++i)
        if (rows[i].kind == zel::devices::ModelKind::kReserved) out.push_back(rows[i].number);
    return out;
}

// The first placeholder of the table (-1 when it has none).
inline int32_t FirstReservedModel() {
    size_t count = 0;
    const zel::devices::ModelInfo* rows = zel::devices::AllModels(&count);
    for (size_t i = 0; i < count; ++i)
        if (rows[i].kind == zel::devices::ModelKind::kReserved) return rows[i].number;
    return -1;
}

}  // namespace zeltest
