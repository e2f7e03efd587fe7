// Threads on POSIX. A thread's handle is its kernel thread id: the controller
// never dereferences it, so a thread that has ended leaves nothing behind to
// free. A start gate holds the new thread until the starter has recorded the
// handle. Threads started here take no asynchronous signals: those go to the
// threads of the program that made them, which decides what they mean.
#include "platform/thread.h"

#include <pthread.h>
#include <signal.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <initializer_list>
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
    // The new thread inherits the mask in force while it is made.
    sigset_t all, previous;
    sigfillset(&all);
    for (int synchronous : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT, SIGSYS})
        sigdelset(&all, synchronous);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    pthread_t thread;
    int failed = pthread_create(&thread, &attributes, ThreadMain, start);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
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
