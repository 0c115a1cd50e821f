// What the decoder tests share.
#pragma once

#include "scales/exchange/PolledProtocol.h"

namespace zeltest {

// A reading no decoder makes: what a decoder leaves untouched shows.
inline zel::exchange::Reading Sentinel() {
    zel::exchange::Reading r;
    r.weight = -77.0;
    r.price = -77.0;
    r.cost = -77.0;
    r.stable = 5;
    return r;
}

}  // namespace zeltest
