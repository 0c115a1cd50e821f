// Command-and-reply indicators: 2, 3, 4, 9, 24, 37. Polled.
#include "sim/Models.h"

namespace sim {

void AddIndicatorModels(std::vector<SimModel>& out) {
    (void)out;
}

}  // namespace sim
