// Event-driven scales in the zelscales tool: the models that push readings,
// and how a command for them is seen through.
#pragma once

#include <string>

#include "tools/commands.h"

namespace zelscales {

// Models whose scale sends readings on its own (key press on the scale).
bool IsEventModel(int model);

// A price or tare for an event-driven scale is only flagged by the driver
// and written by its listener thread at its next read attempt. Keeps the
// device open until that has surely happened, printing the readings that
// arrive meanwhile. Returns 0.
int FinishEventCommand(zel::host::Component& driver, const Options& options);

}  // namespace zelscales
