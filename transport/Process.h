// Process-wide services started when the library is loaded and stopped when
// it is unloaded: socket start-up and the general log.
#pragma once

namespace zel {
void LibraryLoaded();
void LibraryUnloading();
}  // namespace zel
