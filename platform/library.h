// Optional system libraries, loaded at run time when present.
#pragma once

namespace tav::platform {

using LibraryHandle = void*;

// Null when the library is not on this system.
LibraryHandle LoadOptionalLibrary(const char* name);
void* FindLibrarySymbol(LibraryHandle library, const char* name);
void UnloadLibrary(LibraryHandle library);

}  // namespace tav::platform

namespace tav::platform {

// Calls a function found with FindLibrarySymbol that takes one pointer-sized
// argument and returns an int, in the system libraries' calling convention.
int CallLibraryFunction(void* function, void* argument);

}  // namespace tav::platform
