// Massa-K: model 10. Polled.
#include <cstdint>

#include "sim/Models.h"

namespace sim {

namespace {

// The weight as a signed 16-bit little-endian number, clamped to its range.
std::string MassaK(const Display& d) {
    long long v = ScaledSigned(d.weight, ClampDecimals(d.decimals), -32768, 32767);
    if (d.negative && v > 0) v = -v;
    std::string f;
    PutLe(&f, static_cast<unsigned long long>(static_cast<uint16_t>(static_cast<int16_t>(v))), 2);
    return f;
}

}  // namespace

void AddMassaKModels(std::vector<SimModel>& out) {
    SimModel m;
    m.model = 10;
    m.name = "Massa-K";
    m.line = "8E1";
    m.encode = MassaK;  // no markers: a broken frame is one byte short
    m.patterns = {BytesPattern(CommandMatcher::Request, "\x45")};
    out.push_back(m);
}

}  // namespace sim
