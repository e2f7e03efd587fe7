// Optional system libraries on POSIX. The only one the plug-in asks for
// draws Windows dialog controls; there is nothing of the kind here.
#include "platform/library.h"

namespace tav::platform {

LibraryHandle LoadOptionalLibrary(const char*) { return nullptr; }
void* FindLibrarySymbol(LibraryHandle, const char*) { return nullptr; }
void UnloadLibrary(LibraryHandle) {}

}  // namespace tav::platform

namespace tav::platform {

int CallLibraryFunction(void* function, void* argument) {
    return function ? reinterpret_cast<int (*)(void*)>(function)(argument) : 0;
}

}  // namespace tav::platform
