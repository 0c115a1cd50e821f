// Price-computing scales with digit-field frames: 17, 21, 28, 30. Polled.
#include "sim/Models.h"

namespace sim {

void AddPriceComputingModels(std::vector<SimModel>& out) {
    (void)out;
}

}  // namespace sim
