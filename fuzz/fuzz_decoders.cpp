// Every polled protocol of the model table, judged and decoded from
// arbitrary bytes, as the exchange engine hands them over: a buffer of the
// protocol's reply length plus one zero byte, the count collected.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "devices/ModelTable.h"
#include "scales/exchange/PolledScale.h"

using zel::exchange::PolledProtocol;
using zel::exchange::Reading;

namespace {

std::vector<const PolledProtocol*> TableProtocols() {
    std::vector<const PolledProtocol*> out;
    size_t count = 0;
    const zel::devices::ModelInfo* models = zel::devices::AllModels(&count);
    for (size_t i = 0; i < count; ++i) {
        if (const PolledProtocol* p = zel::devices::PolledProtocolOf(models[i].number)) out.push_back(p);
    }
    return out;
}

bool KnownResult(int32_t r) { return r == 0 || r == 1 || r == 3 || r == 7 || r == 1099; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<const PolledProtocol*> protocols = TableProtocols();
    if (size < 1 || protocols.empty()) return 0;
    const PolledProtocol& p = *protocols[data[0] % protocols.size()];
    ++data;
    --size;
    const size_t room = static_cast<size_t>(p.replyLength);
    const size_t count = size < room ? size : room;
    // Exactly the bytes the engine guarantees, so a read past them is caught.
    std::unique_ptr<uint8_t[]> frame(new uint8_t[room + 1]());
    std::memcpy(frame.get(), data, count);
    for (size_t n : {count, room}) {
        if (!p.accepts(frame.get(), n)) continue;
        Reading r;
        r.weight = 1.5;  // a caller's value some protocols keep
        const int32_t result = p.decode(frame.get(), n, r).result;
        if (!KnownResult(result)) std::abort();
        if (!std::isfinite(r.weight) || !std::isfinite(r.price) || !std::isfinite(r.cost)) std::abort();
        if (r.stable != 0 && r.stable != 1) std::abort();
    }
    return 0;
}
