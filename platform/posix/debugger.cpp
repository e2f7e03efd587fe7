// A debugger on POSIX is a tracer of the process (gdb, lldb, strace).
#include "platform/debugger.h"

#include <csignal>
#include <cstdio>
#include <cstring>

namespace tav::platform {

bool DebuggerAttached() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return false;
    char line[256];
    bool traced = false;
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::strncmp(line, "TracerPid:", 10) == 0) {
            const char* p = line + 10;
            while (*p == ' ' || *p == '\t') ++p;
            traced = *p != '\0' && *p != '0';
            break;
        }
    }
    std::fclose(status);
    return traced;
}

void BreakIntoDebugger() { std::raise(SIGTRAP); }

}  // namespace tav::platform
