// Threads on POSIX. A thread's handle is its kernel thread id: the controller
// never dereferences it, so a thread that has ended leaves nothing behind to
// free. A start gate holds the new thread until the starter has recorded the
// handle.
#include "platform/thread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <new>

namespace tav::platform {
namespace {

struct StartRecord {
    ThreadBody body;
    void* argument;
    std::atomic<pid_t> tid{0};
    std::atomic<int> gate{0};  // 1: the handle is recorded, run
};

void* ThreadMain(void* raw) {
    auto* start = static_cast<StartRecord*>(raw);
    start->tid.store(pid_t(syscall(SYS_gettid)), std::memory_order_release);
    while (start->gate.load(std::memory_order_acquire) == 0) sched_yield();
    ThreadBody body = start->body;
    void* argument = start->argument;
    delete start;
    body(argument);
    return nullptr;
}

}  // namespace

ThreadHandle StartThread(ThreadBody body, void* argument,
                         void (*record)(ThreadHandle, void*), void* recordArgument) {
    auto* start = new (std::nothrow) StartRecord{body, argument};
    if (start == nullptr) return kNoThread;
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    int failed = pthread_create(&thread, &attributes, ThreadMain, start);
    pthread_attr_destroy(&attributes);
    if (failed) {
        delete start;
        return kNoThread;
    }
    pid_t tid;
    while ((tid = start->tid.load(std::memory_order_acquire)) == 0) sched_yield();
    ThreadHandle handle = ThreadHandle(tid);
    if (record) record(handle, recordArgument);
    start->gate.store(1, std::memory_order_release);
    return handle;
}

void SetThreadPriority(ThreadHandle thread, ThreadPriority priority) {
    if (thread == kNoThread) return;
    // Lowering is always allowed; raising back needs privileges an ordinary
    // user may lack, and then the thread simply keeps its priority.
    int nice = priority == ThreadPriority::BelowNormal ? 5 : 0;
    setpriority(PRIO_PROCESS, id_t(thread), nice);
}

void YieldTimeSlice() { sched_yield(); }

void EndCurrentThread(ThreadHandle) {}

}  // namespace tav::platform
