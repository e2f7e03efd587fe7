// Threads on POSIX. A thread's handle is its kernel thread id: the controller
// never dereferences it, so a thread that has ended leaves nothing behind to
// free. A start gate holds the new thread until the starter has recorded the
// handle. A helper thread's handle points to a record of its pthread_t and
// kernel thread id, which its starter's join frees.
// Threads started here take no asynchronous signals: those go to the threads
// of the program that made them, which decides what they mean.
#include "platform/thread.h"

#include <linux/futex.h>
#include <pthread.h>
#include <signal.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <initializer_list>
#include <new>

namespace tav::platform {
namespace {

// Blocks the asynchronous signals in the calling thread, so that a thread
// made meanwhile inherits a mask without them; `previous` restores it.
void BlockAsynchronousSignals(sigset_t* previous) {
    sigset_t all;
    sigfillset(&all);
    for (int synchronous : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT, SIGSYS})
        sigdelset(&all, synchronous);
    pthread_sigmask(SIG_BLOCK, &all, previous);
}

int NiceOf(ThreadPriority priority) { return priority == ThreadPriority::BelowNormal ? 5 : 0; }

// A helper's handle points to its record, which the join frees.
struct HelperRecord {
    ThreadBody body;
    void* argument;
    pthread_t thread;
    // Its priority is set through its kernel thread id, which it tells as it
    // starts; a priority asked for before that, the thread sets itself.
    std::atomic<pid_t> tid{0};
    std::atomic<int> nice{INT32_MIN};  // INT32_MIN: none asked for
};

void* HelperMain(void* raw) {
    auto* helper = static_cast<HelperRecord*>(raw);
    const pid_t tid = pid_t(syscall(SYS_gettid));
    helper->tid.store(tid);
    if (const int nice = helper->nice.load(); nice != INT32_MIN) setpriority(PRIO_PROCESS, id_t(tid), nice);
    helper->body(helper->argument);
    return nullptr;
}

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
    sigset_t previous;
    BlockAsynchronousSignals(&previous);
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
    setpriority(PRIO_PROCESS, id_t(thread), NiceOf(priority));
}

void YieldTimeSlice() { sched_yield(); }

void EndCurrentThread(ThreadHandle) {}

ThreadHandle StartHelperThread(ThreadBody body, void* argument) {
    auto* helper = new (std::nothrow) HelperRecord{body, argument, pthread_t{}};
    if (helper == nullptr) return kNoThread;
    // A new thread takes the nice value of the thread that makes it.
    sigset_t previous;
    BlockAsynchronousSignals(&previous);
    const int failed = pthread_create(&helper->thread, nullptr, HelperMain, helper);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (failed) {
        delete helper;
        return kNoThread;
    }
    return reinterpret_cast<ThreadHandle>(helper);
}

void JoinHelperThread(ThreadHandle handle) {
    if (handle == kNoThread) return;
    auto* helper = reinterpret_cast<HelperRecord*>(handle);
    pthread_join(helper->thread, nullptr);
    delete helper;
}

void SetHelperPriority(ThreadHandle handle, ThreadPriority priority) {
    if (handle == kNoThread) return;
    auto* helper = reinterpret_cast<HelperRecord*>(handle);
    helper->nice.store(NiceOf(priority));
    if (const pid_t tid = helper->tid.load(); tid != 0) setpriority(PRIO_PROCESS, id_t(tid), NiceOf(priority));
}

int UsableProcessorCount() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? int(online) : 1;
}

// The futex compares the word's first 32 bits (its low half: the targets are
// little-endian). A change in the high half alone is seen when the wait times
// out.
void WaitWhileEqual(const intptr_t* word, intptr_t value) {
    if (std::atomic_ref<intptr_t>(*const_cast<intptr_t*>(word)).load(std::memory_order_acquire) != value) return;
    const timespec limit{0, 20 * 1000 * 1000};
    syscall(SYS_futex, word, FUTEX_WAIT_PRIVATE, uint32_t(uintptr_t(value)), &limit, nullptr, 0);
}

void WakeWordWaiters(const intptr_t* word) {
    syscall(SYS_futex, word, FUTEX_WAKE_PRIVATE, INT32_MAX, nullptr, nullptr, 0);
}

}  // namespace tav::platform
