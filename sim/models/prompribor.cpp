// Prompribor scales: 0, 1 (polled), 6 (pushes weight and scanned text).
#include "sim/Models.h"

namespace sim {

void AddPrompriborModels(std::vector<SimModel>& out) {
    (void)out;
}

}  // namespace sim
