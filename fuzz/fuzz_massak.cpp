// Масса-К replies from arbitrary bytes.
#include <cstdlib>

#include "scales/MassaK.h"

using zel::exchange::Reading;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reading r;
    r.weight = 1e9;
    int32_t result = zel::massak::DecodeReply(data, size, r).result;
    if (size < zel::massak::kReplyLength) {
        if (result != 3 || r.weight != 1e9) std::abort();
        return 0;
    }
    if (result != 0 || r.weight < -32768.0 || r.weight > 32767.0 || r.stable != 0) std::abort();
    if (zel::massak::AcceptsReply(data, size) != (size == 2)) std::abort();
    return 0;
}
