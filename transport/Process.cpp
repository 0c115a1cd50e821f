#include "transport/Process.h"

#include "platform/net.h"
#include "transport/Log.h"

namespace zel {

void LibraryLoaded() {
    platform::NetStartup();  // Windows Sockets 2.2; nothing to do elsewhere
    GeneralLogStart();
}

void LibraryUnloading() {
    GeneralLogEnd();
    platform::NetCleanup();
}

}  // namespace zel
