#include "platform/threads_count.h"

#include <dirent.h>

namespace platform {

int ProcessThreadCount() {
    DIR* dir = opendir("/proc/self/task");
    if (!dir) return -1;
    int count = 0;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') ++count;
    }
    closedir(dir);
    return count;
}

}  // namespace platform
