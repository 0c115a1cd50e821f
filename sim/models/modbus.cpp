// Modbus RTU indicators: 40, 41. Polled.
#include "sim/Models.h"

namespace sim {

void AddModbusModels(std::vector<SimModel>& out) {
    (void)out;
}

}  // namespace sim
