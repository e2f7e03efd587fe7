#include "platform/thread.h"

#include <windows.h>

#include <new>

namespace tav::platform {
namespace {

struct StartRecord {
    ThreadBody body;
    void* argument;
};

DWORD WINAPI ThreadMain(LPVOID raw) {
    StartRecord start = *static_cast<StartRecord*>(raw);
    delete static_cast<StartRecord*>(raw);
    start.body(start.argument);
    return 0;
}

int ToWin32(ThreadPriority priority) {
    switch (priority) {
        case ThreadPriority::BelowNormal: return THREAD_PRIORITY_BELOW_NORMAL;
        case ThreadPriority::AboveNormal: return THREAD_PRIORITY_ABOVE_NORMAL;
        default: return THREAD_PRIORITY_NORMAL;
    }
}

}  // namespace

ThreadHandle StartThread(ThreadBody body, void* argument,
                         void (*record)(ThreadHandle, void*), void* recordArgument) {
    auto* start = new (std::nothrow) StartRecord{body, argument};
    if (start == nullptr) return kNoThread;
    DWORD id;
    HANDLE thread = CreateThread(nullptr, 0, ThreadMain, start, CREATE_SUSPENDED, &id);
    if (thread == nullptr) {
        delete start;
        return kNoThread;
    }
    ThreadHandle handle = reinterpret_cast<ThreadHandle>(thread);
    if (record) record(handle, recordArgument);
    ResumeThread(thread);
    return handle;
}

void SetThreadPriority(ThreadHandle thread, ThreadPriority priority) {
    if (thread == kNoThread) return;
    ::SetThreadPriority(reinterpret_cast<HANDLE>(thread), ToWin32(priority));
}

void YieldTimeSlice() { Sleep(0); }

void EndCurrentThread(ThreadHandle self) {
    if (self != kNoThread) CloseHandle(reinterpret_cast<HANDLE>(self));
}

}  // namespace tav::platform
