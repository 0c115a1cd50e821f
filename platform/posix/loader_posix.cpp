#include "platform/loader.h"

#include <dlfcn.h>
#include <limits.h>
#ifdef __linux__
#include <link.h>
#endif
#include <stdlib.h>

namespace platform {

LibraryHandle LoadLibraryFile(const std::string& path, std::string* error) {
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
    if (library) dlclose(library);
}

std::string LibraryFileName(const std::string& name) { return name + ".so"; }

}  // namespace platform
