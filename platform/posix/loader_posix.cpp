#include "platform/loader.h"

#include <dlfcn.h>
#include <limits.h>
#ifdef __linux__
#include <link.h>
#endif
#include <stdlib.h>

#include <mutex>

namespace platform {

namespace {
// dlinfo's link map is the loader's own record, which a dlclose on another
// thread frees: loading, reading the path and unloading take turns.
std::mutex& LoaderLock() {
    static std::mutex lock;
    return lock;
}
}  // namespace

LibraryHandle LoadLibraryFile(const std::string& path, std::string* error) {
    std::lock_guard<std::mutex> guard(LoaderLock());
    dlerror();
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle && error) {
        const char* reason = dlerror();
        *error = reason ? reason : "cannot load " + path;
    }
    return handle;
}

void* LibraryFunction(LibraryHandle library, const char* name) {
    if (!library || !name) return nullptr;
    return dlsym(library, name);
}

std::string LibraryFilePath(LibraryHandle library) {
#ifdef __linux__
    std::lock_guard<std::mutex> guard(LoaderLock());
    struct link_map* map = nullptr;
    if (!library || dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name) return std::string();
    char full[PATH_MAX];
    return realpath(map->l_name, full) ? std::string(full) : std::string(map->l_name);
#else
    (void)library;
    return std::string();
#endif
}

void UnloadLibraryFile(LibraryHandle library) {
    if (!library) return;
    std::lock_guard<std::mutex> guard(LoaderLock());
    dlclose(library);
}

std::string LibraryFileName(const std::string& name) { return name + ".so"; }

}  // namespace platform
