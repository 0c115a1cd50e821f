// `zelscales detect`: finds which scale model answers on a port, and at
// which speed, without sending it any command.
#pragma once

#include <string>
#include <vector>

namespace zelscales {
namespace detect {

// "9600,4800" as speeds in that order, each once; false for anything else.
bool ParseBauds(const std::string& text, std::vector<int>& out);

}  // namespace detect
}  // namespace zelscales

// zelscales::RunDetect (tools/commands.h) exits 0 when a scale was
// identified, 1 when nothing answered (or the port could not be opened), 2
// for bad usage.
