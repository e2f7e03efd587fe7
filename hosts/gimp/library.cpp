#include "hosts/gimp/library.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

namespace tav::gimp {

inprocess::EntryPoint LoadFilter(std::string* error) {
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) {
        *error = "cannot find the plug-in's folder";
        return nullptr;
    }
    std::string path(self, size_t(length));
    path = path.substr(0, path.rfind('/') + 1) + "libtavrsk.so";
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        *error = std::string("cannot load the filter: ") + dlerror();
        return nullptr;
    }
    auto entry = reinterpret_cast<inprocess::EntryPoint>(dlsym(library, "ENTRYPOINT"));
    if (entry == nullptr) *error = path + " does not export ENTRYPOINT";
    return entry;
}

}  // namespace tav::gimp
