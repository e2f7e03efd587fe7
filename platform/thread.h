// Threads: the matte worker runs on one of its own, and the passes of a run
// share their work with helper threads that the thread starting them waits
// for.
#pragma once

#include <cstdint>

namespace tav::platform {

using ThreadHandle = intptr_t;  // -1: none
constexpr ThreadHandle kNoThread = -1;

enum class ThreadPriority { BelowNormal = -1, Normal = 0, AboveNormal = 1 };

using ThreadBody = void (*)(void* argument);

// Starts `body(argument)` on a new thread with the default stack size. The
// thread does not begin to run until `record(handle, recordArgument)` has
// returned, so the caller can store the handle where the thread will look for
// it. Returns kNoThread (and never calls `record`) when no thread can be made.
ThreadHandle StartThread(ThreadBody body, void* argument,
                         void (*record)(ThreadHandle handle, void* recordArgument),
                         void* recordArgument);

void SetThreadPriority(ThreadHandle thread, ThreadPriority priority);

// Gives the rest of the time slice to other threads (a zero-length sleep).
void YieldTimeSlice();

// Called by a thread's body as its last act; releases what the platform
// keeps for the thread. The body then returns.
void EndCurrentThread(ThreadHandle self);

// Starts `body(argument)` on a helper thread with the priority of the calling
// thread; the caller must JoinHelperThread it. kNoThread when no thread can
// be made.
ThreadHandle StartHelperThread(ThreadBody body, void* argument);
// Waits until the helper's body has returned and the thread has ended, and
// releases what the platform keeps for it.
void JoinHelperThread(ThreadHandle helper);
void SetHelperPriority(ThreadHandle helper, ThreadPriority priority);

// The processors this process may run on (its affinity), at least 1.
int UsableProcessorCount();

// Blocks while `*word` holds `value`; it may also return early, so callers
// test the word again. Whoever changes a word that a thread may wait on calls
// WakeWordWaiters afterwards; that call only passes the word's address to the
// system and never touches the word, so it may follow the last store a
// thread makes into memory that another thread may free at once.
void WaitWhileEqual(const intptr_t* word, intptr_t value);
void WakeWordWaiters(const intptr_t* word);

}  // namespace tav::platform
