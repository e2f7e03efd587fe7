// Threads: the matte worker runs on one of its own.
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

}  // namespace tav::platform
