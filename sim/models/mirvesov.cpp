// Mirvesov and STX-frame scales: 7, 8, 12, 38 (polled), 31, 34 (streaming).
#include "sim/Models.h"

namespace sim {

void AddMirvesovModels(std::vector<SimModel>& out) {
    (void)out;
}

}  // namespace sim
