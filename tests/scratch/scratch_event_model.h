// A scratch event-driven model for the test build only: forced into a copy
// of the model table in placeholder 42's place, so the tools are seen to
// take a new pushing model from its row alone. Nothing of it is shipped.
#pragma once

#include "scales/listener/EventProtocol.h"

namespace scratch {
// '#', four digits (grams), CR.
extern const zel::listener::EventProtocol kScratchEvents;
}  // namespace scratch

#define ZEL_SCRATCH_EVENT_ROW                                                                          \
    {                                                                                                  \
        .number = 42, .className = "ScratchEvents", .caption = "42: scratch pusher",                   \
        .kind = ModelKind::kListener, .unit = "g", .toKilograms = 0.001, .events = &scratch::kScratchEvents \
    }
