// Continuous-output scales: 18, 19, 25, 29, 33, 36, 39. Streaming.
#include "sim/Models.h"

namespace sim {

void AddContinuousModels(std::vector<SimModel>& out) {
    (void)out;
}

}  // namespace sim
