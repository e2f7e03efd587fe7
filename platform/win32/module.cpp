#include "platform/module.h"

#include <windows.h>

namespace tav::platform {
namespace {
ModuleHandle g_module = nullptr;
void (*g_detachHandler)() = nullptr;
}

void SetThisModule(ModuleHandle module) { g_module = module; }
ModuleHandle ThisModule() { return g_module; }

void SetModuleDetachHandler(void (*handler)()) { g_detachHandler = handler; }

void RunModuleDetachHandler() {
    void (*handler)() = g_detachHandler;
    g_detachHandler = nullptr;
    if (handler != nullptr) handler();
}

int LoadStringResource(ModuleHandle module, unsigned id, char* buffer, int size) {
    if (buffer == nullptr || size <= 0) return 0;
    buffer[0] = '\0';
    return LoadStringA(static_cast<HINSTANCE>(module), id, buffer, size);
}

}  // namespace tav::platform
