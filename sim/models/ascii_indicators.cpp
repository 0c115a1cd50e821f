// ASCII-request indicators: 11, 16, 23, 26, 35. Polled.
#include "sim/Models.h"

namespace sim {

void AddAsciiIndicatorModels(std::vector<SimModel>& out) {
    (void)out;
}

}  // namespace sim
