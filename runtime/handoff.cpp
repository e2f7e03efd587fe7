#include "runtime/handoff.h"

#include "engine/worker.h"
#include "platform/thread.h"

namespace tav {

// Time slices given up while waiting, before sleeping.
constexpr int kYieldsBeforeSleeping = 200;

void WaitUntilAtLeast(intptr_t* word, intptr_t least, intptr_t* stop) {
    for (int i = 0;; ++i) {
        const intptr_t now = LoadShared(*word);
        if (now >= least || (stop != nullptr && LoadShared(*stop) != 0)) return;
        if (i < kYieldsBeforeSleeping)
            platform::YieldTimeSlice();
        else
            platform::WaitWhileEqual(word, now);
    }
}

}  // namespace tav
