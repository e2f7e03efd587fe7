// The pass driver: how many threads a pass takes, that every part is worked
// once on the thread that began its piece, the progress of all threads told
// in order on the calling one, and a cancel request stopping every helper
// after the part it is in.
#include <gtest/gtest.h>

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "engine/split.h"
#include "engine/worker.h"
#include "platform/thread.h"
#include "tests/engine_helpers.h"

namespace tav {
namespace {

TEST(SplitTest, APassTakesTheThreadsAskedForOrOneAProcessorWithinItsCapAndItsPieces) {
    const int32_t processors = platform::UsableProcessorCount();
    const struct {
        int32_t limit, pieces, want;
    } cases[] = {{0, 1000, std::min(processors, kMaxPassThreads)},
                 {3, 1000, 3},
                 {100, 1000, kMaxPassThreads},
                 {5, 2, 2},
                 {0, 0, 1},
                 {-4, 1, 1}};
    for (const auto& c : cases) EXPECT_EQ(PassThreads(c.limit, c.pieces), c.want) << c.limit << ", " << c.pieces;

    // The processors are those the process may run on.
    cpu_set_t all, one;
    ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
    CPU_ZERO(&one);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &all)) {
            CPU_SET(cpu, &one);
            break;
        }
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    EXPECT_EQ(platform::UsableProcessorCount(), 1);
    EXPECT_EQ(PassThreads(0, 1000), 1);
    ASSERT_EQ(sched_setaffinity(0, sizeof all, &all), 0);
    EXPECT_EQ(platform::UsableProcessorCount(), CPU_COUNT(&all));
}

// A kernel that records who worked what: piece p has p % 3 + 1 parts, begins
// p % 2 steps and one more with every part.
struct Recorder {
    explicit Recorder(int32_t pieces) : beganOn(size_t(pieces), -1), worked(size_t(pieces)) {}

    static PieceShape Begin(void* kernel, int32_t thread, int32_t piece) {
        auto& r = *static_cast<Recorder*>(kernel);
        r.beganOn[size_t(piece)] = thread;
        return PieceShape{piece % 3 + 1, piece % 2, 1};
    }
    static void Work(void* kernel, int32_t thread, int32_t piece, int32_t part) {
        auto& r = *static_cast<Recorder*>(kernel);
        // Parts in order, on the thread that began the piece.
        if (r.beganOn[size_t(piece)] == thread && int32_t(r.worked[size_t(piece)].size()) == part)
            r.worked[size_t(piece)].push_back(part);
        else
            r.misplaced.fetch_add(1);
    }

    std::vector<int32_t> beganOn;
    std::vector<std::vector<int32_t>> worked;
    std::atomic<int32_t> misplaced{0};
};

class SplitPassTest : public ::testing::TestWithParam<int32_t> {};

TEST_P(SplitPassTest, WorksEveryPartOnceAndReportsEveryStepInOrderOnTheCallingThread) {
    for (int32_t pieces : {0, 1, 2, 7, 200}) {
        Recorder recorder(pieces);
        MatteJob job = IdleMatteJob();
        test::ProgressLog log;
        log.Attach(job);
        job.reportProgress = 1;
        job.progressTotal = 1000;
        const SplitPass pass{pieces, &recorder, Recorder::Begin, Recorder::Work};
        EXPECT_TRUE(RunPass(pass, GetParam(), &job, 40));
        EXPECT_EQ(job.helperThreads, 0);
        EXPECT_EQ(recorder.misplaced.load(), 0);
        int32_t steps = 0;
        for (int32_t p = 0; p < pieces; ++p) {
            EXPECT_EQ(recorder.worked[size_t(p)].size(), size_t(p % 3 + 1)) << "piece " << p;
            steps += p % 2 + p % 3 + 1;
        }
        EXPECT_EQ(log.calls, test::StepRange(40, steps, 1000)) << pieces << " pieces";
    }
}

// Every helper is held inside its first part until the calling thread, told
// its first step, has seen them all there and asks the job to stop: each
// helper then stops after that part, the calling thread before its first.
TEST_P(SplitPassTest, ACancelRequestStopsEveryHelperAfterThePartItIsIn) {
    struct Held {
        MatteJob job = IdleMatteJob();
        std::atomic<int32_t> inside{0}, parts{0}, ownParts{0};

        static PieceShape Begin(void*, int32_t, int32_t) { return PieceShape{3, 1, 0}; }
        static void Work(void* kernel, int32_t thread, int32_t, int32_t) {
            auto& h = *static_cast<Held*>(kernel);
            h.parts.fetch_add(1);
            if (thread == 0) {
                h.ownParts.fetch_add(1);
                return;
            }
            h.inside.fetch_add(1);
            while (LoadShared(h.job.cancelRequest) == 0) platform::YieldTimeSlice();
        }
        static void Progress(void* context, int32_t, int32_t) {
            auto& h = *static_cast<Held*>(context);
            while (h.inside.load() < LoadShared(h.job.helperThreads)) platform::YieldTimeSlice();
            StoreShared(h.job.cancelRequest, int32_t(1));
        }
    } held;
    held.job.workerHandle = test::kFakeWorker;  // requests are those of a recorded worker
    held.job.reportProgress = 1;
    held.job.progress = Held::Progress;
    held.job.progressContext = &held;
    const SplitPass pass{20, &held, Held::Begin, Held::Work};
    EXPECT_FALSE(RunPass(pass, GetParam(), &held.job, 0));
    EXPECT_EQ(held.job.helperThreads, 0);
    EXPECT_EQ(held.ownParts.load(), 0);
    EXPECT_EQ(held.parts.load(), GetParam() - 1);
}

INSTANTIATE_TEST_SUITE_P(Threads, SplitPassTest, ::testing::Values(1, 2, 3, 4));

}  // namespace
}  // namespace tav
