// The module and its strings on POSIX: the string table is compiled in from
// the same list that the Windows resource script uses.
#include "platform/module.h"

#include <cstring>

#include "resources/strings.h"

namespace tav::platform {
namespace {

struct StringEntry {
    unsigned id;
    const char* text;
};

#define TAV_STRING_ENTRY(id, text) {id, text},
constexpr StringEntry kStrings[] = {TAVRISK_STRING_TABLE(TAV_STRING_ENTRY)};
#undef TAV_STRING_ENTRY

ModuleHandle g_module = nullptr;
void (*g_detachHandler)() = nullptr;

}  // namespace

void SetThisModule(ModuleHandle module) { g_module = module; }
ModuleHandle ThisModule() { return g_module; }

void SetModuleDetachHandler(void (*handler)()) { g_detachHandler = handler; }

void RunModuleDetachHandler() {
    void (*handler)() = g_detachHandler;
    g_detachHandler = nullptr;
    if (handler != nullptr) handler();
}

int LoadStringResource(ModuleHandle, unsigned id, char* buffer, int size) {
    if (buffer == nullptr || size <= 0) return 0;
    buffer[0] = '\0';
    for (const StringEntry& entry : kStrings) {
        if (entry.id != id) continue;
        size_t length = std::strlen(entry.text);
        if (length > size_t(size - 1)) length = size_t(size - 1);
        std::memcpy(buffer, entry.text, length);
        buffer[length] = '\0';
        return int(length);
    }
    return 0;
}

}  // namespace tav::platform
