// CAS and SDL-07 text frames from arbitrary bytes.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "scales/Cas.h"

using zel::exchange::Reading;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The bytes as given, and as a frame with valid fixed bytes so the
    // weight field and status get exercised.
    uint8_t frame[zel::cas::kTextFrameLength] = {0x06, 0x01, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x03, 0x04};
    for (size_t i = 0; i < size && i < 8; ++i) frame[3 + i] = data[i];
    const uint8_t* inputs[] = {data, frame};
    const size_t sizes[] = {size, sizeof(frame)};
    for (int k = 0; k < 2; ++k) {
        const uint8_t* f = inputs[k];
        size_t n = sizes[k];
        bool accepted = zel::cas::AcceptsTextFrame(f, n);
        for (auto decode : {zel::cas::DecodeCasText, zel::cas::DecodeSdl07Text}) {
            Reading r;
            int32_t result = decode(f, n, r).result;
            if (n < zel::cas::kTextFrameLength) {
                if (result != 3) std::abort();
                continue;
            }
            // A weight, an overload, or a frame that holds no reading.
            if (result != 0 && result != 3 && result != 7) std::abort();
            if (result == 3) continue;
            // Seven characters, in tonnes at most: below 10^7 t in kilograms.
            if (!std::isfinite(r.weight) || std::fabs(r.weight) >= 1e10) std::abort();
            if (r.stable != 0 && r.stable != 1) std::abort();
            if (f[4] == 'F' && (result != 7 || r.weight != 0.0 || r.stable != 0)) std::abort();
            (void)accepted;
        }
    }
    return 0;
}
