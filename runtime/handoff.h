// Hand-overs between the host's thread and a helper of the run: counters
// shared without a lock, each raised by one thread and awaited by the other.
#pragma once

#include <cstdint>

namespace tav {

// Waits until `*word` is at least `least`, or `*stop` is set (a null `stop`
// never is): awake for a few time slices (a hand-over takes a fraction of a
// millisecond), then asleep until woken (platform::WakeWordWaiters on
// `word`) or a short timeout passes.
void WaitUntilAtLeast(intptr_t* word, intptr_t least, intptr_t* stop);

}  // namespace tav
