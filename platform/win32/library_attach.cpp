// The DLL's entry: attach and detach.
#include <windows.h>

#include "host/entry.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) tav::OnLibraryAttach(module);
    else if (reason == DLL_PROCESS_DETACH) tav::OnLibraryDetach();
    return TRUE;
}
