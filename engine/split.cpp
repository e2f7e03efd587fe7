#include "engine/split.h"

#include <algorithm>
#include <atomic>

#include "engine/worker.h"
#include "platform/thread.h"

namespace tav {
namespace {

// What the threads of one pass share.
struct PassState {
    const SplitPass* pass;
    MatteJob* job;
    std::atomic<int32_t> nextPiece{0};
    std::atomic<int32_t> begunSteps{0};
    std::atomic<int32_t> stopped{0};  // some thread found a cancel request
    std::atomic<int32_t> helpersDone{0};
};

// Time slices given up while waiting for a thread that is about to end,
// before sleeping until it has: ending within a part is the rule, and
// waking from a sleep can take a scheduler's period on a busy machine.
constexpr int kYieldsBeforeSleeping = 2000;

struct Helper {
    PassState* state;
    int32_t thread;
};

// The helpers of a pass, started and ended by the calling thread, which also
// gives them the priority the controller gives the worker: lowered while it
// works in the background, raised while the controller waits for it (they
// take the worker's priority when they are made, and are told of changes
// between the worker's parts and before it waits for them).
struct Helpers {
    Helper helpers[kMaxPassThreads];
    platform::ThreadHandle handles[kMaxPassThreads];
    int32_t started = 0;
    int32_t priority = INT32_MIN;

    void FollowWorker(const MatteJob* job) {
        if (job == nullptr || started == 0) return;
        const int32_t wanted = LoadShared(const_cast<MatteJob*>(job)->workerPriority);
        if (wanted == priority) return;
        priority = wanted;
        for (int32_t i = 0; i < started; ++i)
            platform::SetHelperPriority(handles[i], platform::ThreadPriority(wanted));
    }
};

bool Cancelled(const PassState& s) { return s.job != nullptr && CancelRequested(s.job); }

// The calling thread's progress: reports the steps begun so far that it has
// not reported yet, looking for a cancel request after each. False when one
// was found.
struct Reporter {
    int32_t firstStep;
    int32_t reported = 0;

    bool Catch(PassState& s) {
        if (s.job == nullptr) return true;
        const int32_t begun = s.begunSteps.load(std::memory_order_relaxed);
        while (reported < begun) {
            ReportWorkerProgress(s.job, firstStep + reported++);
            if (CancelRequested(s.job)) return false;
        }
        return true;
    }
};

// Claims and works pieces until none is left or the pass is stopped. The
// calling thread passes its reporter and its helpers; helpers pass neither.
void WorkPieces(PassState& s, int32_t thread, Reporter* reporter, Helpers* helpers) {
    const SplitPass& pass = *s.pass;
    for (;;) {
        if (Cancelled(s)) break;
        const int32_t piece = s.nextPiece.fetch_add(1, std::memory_order_relaxed);
        if (piece >= pass.pieces) return;
        const PieceShape shape = pass.begin(pass.kernel, thread, piece);
        if (shape.firstSteps != 0) s.begunSteps.fetch_add(shape.firstSteps, std::memory_order_relaxed);
        for (int32_t part = 0; part < shape.parts; ++part) {
            if (helpers != nullptr) helpers->FollowWorker(s.job);
            if (shape.stepsPerPart != 0) s.begunSteps.fetch_add(shape.stepsPerPart, std::memory_order_relaxed);
            if ((reporter != nullptr && !reporter->Catch(s)) || Cancelled(s)) {
                s.stopped.store(1, std::memory_order_relaxed);
                return;
            }
            pass.work(pass.kernel, thread, piece, part);
        }
    }
    s.stopped.store(1, std::memory_order_relaxed);
}

void HelperBody(void* argument) {
    const Helper* helper = static_cast<const Helper*>(argument);
    WorkPieces(*helper->state, helper->thread, nullptr, nullptr);
    helper->state->helpersDone.fetch_add(1, std::memory_order_release);
}

}  // namespace

int32_t PassThreads(int32_t limit, int32_t pieces) {
    const int32_t wanted = limit > 0 ? limit : int32_t(platform::UsableProcessorCount());
    return std::max<int32_t>(1, std::min({wanted, kMaxPassThreads, pieces}));
}

bool RunPass(const SplitPass& pass, int32_t threads, MatteJob* job, int32_t firstStep) {
    PassState state;
    state.pass = &pass;
    state.job = job;
    Helpers helpers;
    threads = std::clamp<int32_t>(threads, 1, kMaxPassThreads);
    for (int32_t t = 1; t < threads; ++t) {
        Helper& helper = helpers.helpers[helpers.started];
        helper = Helper{&state, t};
        const platform::ThreadHandle handle = platform::StartHelperThread(HelperBody, &helper);
        if (handle == platform::kNoThread) break;
        helpers.handles[helpers.started++] = handle;
    }
    if (job != nullptr) StoreShared(job->helperThreads, helpers.started);

    Reporter reporter{firstStep};
    WorkPieces(state, 0, &reporter, &helpers);
    // The helpers write into the job's buffers and read its settings: they
    // have all ended before the pass returns, so that nothing of the pass
    // outlives it (see EndWorker). A controller that stops the worker raises
    // its priority first, and the helpers' with it, so that they are not
    // left waiting for a processor behind other work.
    helpers.FollowWorker(job);
    for (int i = 0; i < kYieldsBeforeSleeping && state.helpersDone.load(std::memory_order_acquire) < helpers.started; ++i)
        platform::YieldTimeSlice();
    for (int32_t i = 0; i < helpers.started; ++i) platform::JoinHelperThread(helpers.handles[i]);
    if (job != nullptr) StoreShared(job->helperThreads, 0);
    if (state.stopped.load(std::memory_order_relaxed) != 0) return false;
    return reporter.Catch(state);
}

}  // namespace tav
