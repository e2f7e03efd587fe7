#include "platform/library.h"

#include <windows.h>

namespace tav::platform {

LibraryHandle LoadOptionalLibrary(const char* name) {
    // No error box when the library is absent.
    UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE library = LoadLibraryA(name);
    SetErrorMode(previous);
    return library;
}

void* FindLibrarySymbol(LibraryHandle library, const char* name) {
    if (library == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void UnloadLibrary(LibraryHandle library) {
    if (library) FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace tav::platform

namespace tav::platform {

int CallLibraryFunction(void* function, void* argument) {
    return function ? reinterpret_cast<BOOL(WINAPI*)(HANDLE)>(function)(argument) : 0;
}

}  // namespace tav::platform
