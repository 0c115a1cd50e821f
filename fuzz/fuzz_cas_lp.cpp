// CAS LP binary frames from arbitrary bytes.
#include <cmath>
#include <cstdlib>

#include "scales/Cas.h"

using zel::exchange::Reading;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    bool accepted = zel::cas::AcceptsLpFrame(data, size);
    if (accepted && size != zel::cas::kLpFrameLength) std::abort();
    Reading r;
    int32_t result = zel::cas::DecodeLp16(data, size, r).result;
    if (size < zel::cas::kLpFrameLength) return result == 3 ? 0 : (std::abort(), 0);
    if (result == 7) {
        if ((data[3] & 1) == 0 || r.weight != 0.0 || r.price != 0.0 || r.cost != 0.0 || r.stable != 0) std::abort();
        return 0;
    }
    if (result != 0) std::abort();
    if (std::fabs(r.weight) > 65535.0) std::abort();
    if (r.price < -2147483648.0 || r.price > 2147483647.0) std::abort();
    if (r.cost < -2147483648.0 || r.cost > 2147483647.0) std::abort();
    if (r.stable != ((data[3] >> 6) & 1)) std::abort();
    return 0;
}
