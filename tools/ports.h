// `zelscales ports`: the machine's serial ports, for finding the name to
// give as --port.
#pragma once

#include <string>
#include <vector>

#include "platform/serial_ports.h"

namespace zelscales {

// The listing as printed: one block per port (name, kind, state; then the
// details and stable names, indented), or one JSON object per port a line.
std::string FormatPorts(const std::vector<platform::SerialPortInfo>& ports, bool json);

}  // namespace zelscales
