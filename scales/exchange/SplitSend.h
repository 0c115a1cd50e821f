// The split send of a request: its first byte, a pause, then the rest (a
// CAS scale must hear ENQ alone). The read cycle and detect send through it.
#pragma once

#include <cstdint>
#include <functional>

#include "scales/exchange/ByteLine.h"

namespace zel {
namespace exchange {

// Writes request[0], spends the pause, writes the rest. `pause` spends it and
// returns a byte the scale sent meanwhile (-1 for none), which is returned;
// without one the pause of kSplitPauseMs is slept out and -1 returned.
int SendSplit(IByteLine& line, const uint8_t* request, int length, const std::function<int()>& pause = nullptr);

}  // namespace exchange
}  // namespace zel
