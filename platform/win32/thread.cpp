// Threads on Windows. A thread's handle is its thread handle; a helper's is
// closed by the join. Waiting on a word uses WaitOnAddress where the system
// has it (Windows 8 and later), found at run time so that the plug-in still
// loads on Windows 7, where waiters give up their time slice instead.
#include "platform/thread.h"

#include <windows.h>

#include <atomic>
#include <bit>
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

using WaitOnAddressCall = BOOL(WINAPI*)(volatile VOID* address, PVOID compare, SIZE_T size, DWORD milliseconds);
using WakeByAddressAllCall = VOID(WINAPI*)(PVOID address);

struct AddressWaits {
    WaitOnAddressCall wait;
    WakeByAddressAllCall wake;
};

// Looked up once; two threads that race to look them up find the same.
AddressWaits FindAddressWaits() {
    static std::atomic<int> found{0};  // 0: not yet, 1: present, 2: absent
    static std::atomic<WaitOnAddressCall> wait{nullptr};
    static std::atomic<WakeByAddressAllCall> wake{nullptr};
    if (found.load(std::memory_order_acquire) == 0) {
        HMODULE module = GetModuleHandleA("kernelbase.dll");
        FARPROC waitProc = module != nullptr ? GetProcAddress(module, "WaitOnAddress") : nullptr;
        FARPROC wakeProc = module != nullptr ? GetProcAddress(module, "WakeByAddressAll") : nullptr;
        if (waitProc != nullptr && wakeProc != nullptr) {
            wait.store(reinterpret_cast<WaitOnAddressCall>(reinterpret_cast<void*>(waitProc)));
            wake.store(reinterpret_cast<WakeByAddressAllCall>(reinterpret_cast<void*>(wakeProc)));
        }
        found.store(waitProc != nullptr && wakeProc != nullptr ? 1 : 2, std::memory_order_release);
    }
    if (found.load(std::memory_order_acquire) != 1) return AddressWaits{nullptr, nullptr};
    return AddressWaits{wait.load(), wake.load()};
}

// A thread that runs `body(argument)` once resumed; null when it cannot be
// made.
HANDLE CreateSuspendedThread(ThreadBody body, void* argument) {
    auto* start = new (std::nothrow) StartRecord{body, argument};
    if (start == nullptr) return nullptr;
    DWORD id;
    HANDLE thread = CreateThread(nullptr, 0, ThreadMain, start, CREATE_SUSPENDED, &id);
    if (thread == nullptr) delete start;
    return thread;
}

}  // namespace

ThreadHandle StartThread(ThreadBody body, void* argument,
                         void (*record)(ThreadHandle, void*), void* recordArgument) {
    HANDLE thread = CreateSuspendedThread(body, argument);
    if (thread == nullptr) return kNoThread;
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

ThreadHandle StartHelperThread(ThreadBody body, void* argument) {
    HANDLE thread = CreateSuspendedThread(body, argument);
    if (thread == nullptr) return kNoThread;
    // New threads start at normal priority: the helper takes its starter's.
    const int priority = GetThreadPriority(GetCurrentThread());
    if (priority != THREAD_PRIORITY_ERROR_RETURN) ::SetThreadPriority(thread, priority);
    ResumeThread(thread);
    return reinterpret_cast<ThreadHandle>(thread);
}

void JoinHelperThread(ThreadHandle helper) {
    if (helper == kNoThread) return;
    HANDLE thread = reinterpret_cast<HANDLE>(helper);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

void SetHelperPriority(ThreadHandle helper, ThreadPriority priority) { SetThreadPriority(helper, priority); }

int UsableProcessorCount() {
    DWORD_PTR process = 0, system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0)
        return std::popcount(uint64_t(process));
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? int(info.dwNumberOfProcessors) : 1;
}

void WaitWhileEqual(const intptr_t* word, intptr_t value) {
    if (std::atomic_ref<intptr_t>(*const_cast<intptr_t*>(word)).load(std::memory_order_acquire) != value)
        return;
    const AddressWaits waits = FindAddressWaits();
    if (waits.wait == nullptr) {
        Sleep(0);
        return;
    }
    intptr_t compare = value;
    waits.wait(const_cast<intptr_t*>(word), &compare, sizeof compare, INFINITE);
}

void WakeWordWaiters(const intptr_t* word) {
    const AddressWaits waits = FindAddressWaits();
    if (waits.wake != nullptr) waits.wake(const_cast<intptr_t*>(word));
}

}  // namespace tav::platform
