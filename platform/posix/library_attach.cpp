// Attach and detach of the shared library on POSIX.
#include <dlfcn.h>

#include "platform/module.h"

namespace {

__attribute__((constructor)) void AttachLibrary() {
    Dl_info info{};
    void* module = nullptr;
    if (dladdr(reinterpret_cast<void*>(&AttachLibrary), &info) != 0) module = info.dli_fbase;
    tav::platform::SetThisModule(module);
}

__attribute__((destructor)) void DetachLibrary() { tav::platform::RunModuleDetachHandler(); }

}  // namespace
