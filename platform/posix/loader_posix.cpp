#include "platform/loader.h"

#include <dlfcn.h>

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

void UnloadLibraryFile(LibraryHandle library) {
    if (library) dlclose(library);
}

std::string LibraryFileName(const std::string& name) { return name + ".so"; }

}  // namespace platform
