// `zelscales listen`: not available in this build yet.
#include <cstdio>

#include "tools/commands.h"

int RunListen(int, char**) {
    std::fprintf(stderr, "zelscales: listen is not available yet\n");
    return 2;
}
