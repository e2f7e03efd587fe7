// The library's own module: its handle and its string resources.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tav::platform {

using ModuleHandle = void*;

// Remembered when the library is attached to the process.
void SetThisModule(ModuleHandle module);
ModuleHandle ThisModule();

// `handler` runs when the library is unloaded from a process that goes on
// (not when the process itself ends): for releasing what the library loaded
// on first use. One handler; a later call replaces it.
void SetModuleDetachHandler(void (*handler)());
// Runs the handler, once; called by the library's detach handling.
void RunModuleDetachHandler();

// Loads string `id` of the module's string table into `buffer` of `size`
// characters, cut to fit and always NUL-terminated. Returns the length, 0
// when there is no such string.
int LoadStringResource(ModuleHandle module, unsigned id, char* buffer, int size);

}  // namespace tav::platform
