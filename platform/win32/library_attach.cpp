// The DLL's entry: attach and detach. Nothing is loaded here: under the
// loader's lock, loading a library can deadlock the host.
#include <windows.h>

#include "platform/module.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        tav::platform::SetThisModule(module);
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        // Unloaded by the host; at the process's end the system cleans up.
        tav::platform::RunModuleDetachHandler();
    }
    return TRUE;
}
