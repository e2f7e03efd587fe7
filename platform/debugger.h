// The debugger hook of the run.
#pragma once

namespace tav::platform {

// True when a debugger is attached to this process.
bool DebuggerAttached();
// Stops in the attached debugger. Only call it when one is attached: without
// one, the break would end the host.
void BreakIntoDebugger();

}  // namespace tav::platform
