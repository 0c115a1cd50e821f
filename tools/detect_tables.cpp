#include "tools/detect_tables.h"

#include "tools/text.h"

#include <cstdio>

namespace zelscales {
namespace detect {
namespace tables {

using zel::LineVariant;
using zel::exchange::PolledProtocol;

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

// The event-driven models of the table, in the order detect tries them: a
// row is judged by its own description, whatever its number.
const std::vector<Pusher>& Pushers() {
    static const std::vector<Pusher> pushers = [] {
        std::vector<Pusher> out;
        size_t count = 0;
        const zel::devices::ModelInfo* rows = zel::devices::AllModels(&count);
        for (size_t i = 0; i < count; ++i)
            if (rows[i].kind == zel::devices::ModelKind::kListener && rows[i].events)
                out.push_back(Pusher{rows[i].number, rows[i].line, rows[i].events});
        return out;
    }();
    return pushers;
}

const Pusher* FindPusher(int model) {
    for (const Pusher& p : Pushers())
        if (p.model == model) return &p;
    return nullptr;
}

std::vector<std::pair<int, LineVariant>> Talkers() {
    std::vector<std::pair<int, LineVariant>> out;
    for (const Polled& p : PolledModels())
        if (p.protocol->requestLength == 0) out.push_back({p.model, p.line});
    for (const Pusher& p : Pushers()) out.push_back({p.model, p.line});
    return out;
}

std::string Hex(const std::string& bytes) { return text::HexOf(bytes); }

}  // namespace tables
}  // namespace detect
}  // namespace zelscales
