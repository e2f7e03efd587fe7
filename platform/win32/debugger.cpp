#include "platform/debugger.h"

#include <windows.h>

namespace tav::platform {

bool DebuggerAttached() { return IsDebuggerPresent() != 0; }

void BreakIntoDebugger() { DebugBreak(); }

}  // namespace tav::platform
