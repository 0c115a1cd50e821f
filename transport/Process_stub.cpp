#include "transport/Process.h"

namespace zel {
void LibraryLoaded() {}
void LibraryUnloading() {}
}  // namespace zel
