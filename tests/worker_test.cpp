#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/worker.h"
#include "platform/thread.h"
#include "tests/engine_helpers.h"
#include "tests/reference.h"

namespace tav {
namespace {

using test::FirstDifference;
using test::Matte;
using test::Scene;

constexpr uint8_t kUnwritten = 0xEE;

struct Bounds {
    int left, top, right, bottom;
};

// A job over a scene, with buffers of its own and a recorded progress.
struct SceneJob {
    SceneJob(int width, int height, bool green, MatteSettings settings, Bounds inside = {0, 0, 1 << 20, 1 << 20})
        : rgb(Scene(width, height, green)),
          foreground(rgb.size(), kUnwritten),
          raw(size_t(width) * height, kUnwritten),
          final(raw.size(), kUnwritten) {
        MatteJob& j = job();
        j.sourceImage = rgb.data();
        j.foregroundImage = foreground.data();
        j.rawMatte = raw.data();
        j.finalMatte = final.data();
        j.width = width;
        j.height = height;
        j.insideLeft = inside.left;
        j.insideTop = inside.top;
        j.insideRight = inside.right;
        j.insideBottom = inside.bottom;
        j.settings = settings;
        const auto table = reference::LevelTable(0, 0, 0, false, 0, 255);
        std::copy(table.begin(), table.end(), j.matteTable);
    }
    MatteJob& job() { return recording.job; }
    const MatteJob& job() const { return recording.job; }
    bool Untouched() const {
        return foreground == std::vector<uint8_t>(foreground.size(), kUnwritten) &&
               raw == Matte(raw.size(), kUnwritten) && final == Matte(final.size(), kUnwritten);
    }

    std::vector<uint8_t> rgb, foreground;
    Matte raw, final;
    test::RecordingJob recording;
};

// What the worker leaves: the foreground, the delivered matte in finalMatte
// and the matte before the choke in rawMatte; a run that choked has the two
// the other way round and says so.
void ExpectResult(const SceneJob& run, const reference::WorkerResult& want) {
    const MatteJob& job = run.job();
    const bool exchanged = job.settings.matteChoke != 0;
    EXPECT_EQ(job.mattesExchanged, int32_t(exchanged));
    EXPECT_TRUE(run.foreground == want.foreground) << "foreground";
    const Matte& delivered = exchanged ? run.raw : run.final;
    const Matte& beforeChoke = exchanged ? run.final : run.raw;
    EXPECT_TRUE(delivered == want.final) << "delivered: " << FirstDifference(delivered, want.final, job.width);
    EXPECT_TRUE(beforeChoke == want.raw) << "before the choke: " << FirstDifference(beforeChoke, want.raw, job.width);
}

reference::WorkerResult Reference(const SceneJob& run) {
    const MatteJob& j = run.job();
    return reference::RunWorker(j.settings, j.matteTable, run.rgb, j.width, j.height, j.insideLeft, j.insideTop,
                                j.insideRight, j.insideBottom);
}

// ---- A whole run against the reference ------------------------------------------------

struct WholeCase {
    const char* name;
    bool green;
    int width, height;
    MatteSettings settings;  // screen colour, correction R G B, protection, restore R G B, removal, blur, choke
    int forceBlack, forceWhite, gamma;
    bool dynamic;
    Bounds inside;
};

class WorkerWholeImageTest : public ::testing::TestWithParam<WholeCase> {};

TEST_P(WorkerWholeImageTest, MatchesTheReferenceOnEveryPixel) {
    const WholeCase& c = GetParam();
    SceneJob run(c.width, c.height, c.green, c.settings, c.inside);
    const auto table = reference::LevelTable(c.forceBlack, c.forceWhite, c.gamma, c.dynamic, 30, 220);
    std::copy(table.begin(), table.end(), run.job().matteTable);
    MatteWorker(&run.job());  // directly, on this thread
    ExpectResult(run, Reference(run));
    EXPECT_EQ(run.job().workerFinished, 0);  // a direct call records nothing
}

INSTANTIATE_TEST_SUITE_P(
    Scenes, WorkerWholeImageTest,
    ::testing::Values(
        WholeCase{"blueDefaults", false, 97, 61, {0, 0, 0, 0, 0, 0, 0, 0, 255, 0, 0}, 0, 0, 0, true, {0, 3, 97, 61}},
        WholeCase{"greenDefaults", true, 97, 61, {1, 0, 0, 0, 0, 0, 0, 0, 255, 0, 0}, 0, 0, 0, true, {0, 0, 97, 61}},
        // Bounds inside the area on every side.
        WholeCase{"blurOnly", false, 80, 70, {0, 0, 0, 0, 0, 0, 0, 0, 255, 6, 0}, 0, 0, 0, false, {4, 3, 78, 69}},
        // Bounds beyond the area on every side.
        WholeCase{"chokeGrow", true, 70, 50, {1, 0, 0, 0, 0, 0, 0, 0, 255, 0, 3}, 10, 10, 0, true, {-5, -7, 75, 59}},
        WholeCase{"blurAndShrink", false, 90, 66, {0, 10, 20, -40, 40, 120, 120, 120, 200, 4, -2}, 5, 20, 60, true,
                  {0, 3, 90, 66}},
        // Nothing inside: every pixel keys as the screen.
        WholeCase{"largeRadii", true, 40, 30, {1, 0, 0, 0, 0, 0, 0, 0, 255, 60, -50}, 0, 0, 0, true, {10, 10, 10, 20}},
        WholeCase{"everythingInvertedBounds", true, 65, 65, {1, -30, 40, 5, 250, 255, 255, 255, 100, 2, 1}, 30, 40, 200,
                  false, {30, 20, 10, 5}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- On a thread of its own -------------------------------------------------------

struct StagesCase {
    const char* name;
    int blur, choke;
    int total;  // progress steps: the rows, the columns and rows of the blur, the rows of the choke
};

class WorkerThreadTest : public ::testing::TestWithParam<StagesCase> {};

TEST_P(WorkerThreadTest, ReportsEveryStepFinishesAndDeliversTheResult) {
    const StagesCase& c = GetParam();
    SceneJob run(100, 50, false, {0, 0, 0, 0, 0, 0, 0, 0, 255, c.blur, c.choke});
    MatteJob& job = run.job();
    job.reportProgress = 1;
    StartWorker(&job);
    WaitForWorker(&job);
    EXPECT_EQ(job.workerHandle, kNoWorker);
    EXPECT_EQ(job.workerFinished, 1);
    EXPECT_EQ(job.cancelRequest, 0);
    std::vector<std::pair<int32_t, int32_t>> steps;
    for (int i = 0; i < c.total; ++i) steps.emplace_back(i, c.total);
    EXPECT_EQ(run.recording.calls, steps);
    ExpectResult(run, Reference(run));
    // Stopping and waiting once it is done return at once and keep the result.
    StopWorker(&job);
    WaitForWorker(&job);
    EXPECT_EQ(job.workerFinished, 1);
    EXPECT_EQ(job.mattesExchanged, int32_t(c.choke != 0));
}

INSTANTIATE_TEST_SUITE_P(Stages, WorkerThreadTest,
                         ::testing::Values(StagesCase{"keyingOnly", 0, 0, 50}, StagesCase{"blur", 3, 0, 200},
                                           StagesCase{"choke", 0, -2, 100}, StagesCase{"blurAndChoke", 3, 1, 250}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WorkerTest, ARecordedWorkerAskedToStopBeforeTheFirstRowWritesNothing) {
    SceneJob run(100, 50, false, {0, 0, 0, 0, 0, 0, 0, 0, 255, 3, 1});
    run.job().workerHandle = test::kFakeWorker;  // as a recorded worker sees itself
    run.job().cancelRequest = 1;
    MatteWorker(&run.job());
    EXPECT_EQ(run.job().workerHandle, kNoWorker);
    EXPECT_EQ(run.job().cancelRequest, 0);
    EXPECT_EQ(run.job().workerFinished, 0);
    EXPECT_TRUE(run.Untouched());
}

TEST(WorkerTest, WithoutAnImageAWorkerEndsWithoutAResult) {
    SceneJob run(100, 50, false, {0, 0, 0, 0, 0, 0, 0, 0, 255, 3, 1});
    MatteJob& job = run.job();
    StopWorker(&job);  // no worker: both return at once
    WaitForWorker(&job);
    job.sourceImage = nullptr;
    StartWorker(&job);
    WaitForWorker(&job);
    EXPECT_EQ(job.workerHandle, kNoWorker);
    EXPECT_EQ(job.workerFinished, 0);
    EXPECT_TRUE(run.Untouched());
}

// ---- Stopped from the controller in every stage ----------------------------------------

// Progress that holds the worker at step `stopAt`, tells the controller it
// got there, and lets it go on once a stop has been requested.
struct StopPoint {
    MatteJob* job;
    int32_t stopAt;
    std::atomic<bool> reached{false};
    int32_t lastDone = -1;

    static void Progress(void* context, int32_t done, int32_t) {
        auto* self = static_cast<StopPoint*>(context);
        self->lastDone = done;
        if (done != self->stopAt) return;
        self->reached.store(true);
        self->reached.notify_one();
        while (LoadShared(self->job->cancelRequest) == 0) platform::YieldTimeSlice();
    }
};

struct StopCase {
    const char* name;
    int step;  // -1: at once, whatever the worker has reached
};

class WorkerStopTest : public ::testing::TestWithParam<StopCase> {};

TEST_P(WorkerStopTest, EndsUnfinishedWithNothingReportedAfterTheStop) {
    // 50 rows, 100 columns and 50 rows of blur, 50 rows of choke.
    SceneJob run(100, 50, true, {1, 0, 0, 0, 0, 0, 0, 0, 255, 40, 30});
    MatteJob& job = run.job();
    StopPoint point{&job, GetParam().step};
    job.progress = StopPoint::Progress;
    job.progressContext = &point;
    job.reportProgress = 1;
    StartWorker(&job);
    if (point.stopAt >= 0) point.reached.wait(false);
    StopWorker(&job);
    EXPECT_EQ(job.workerHandle, kNoWorker);
    EXPECT_EQ(job.cancelRequest, 0);
    if (point.stopAt < 0) return;
    EXPECT_EQ(job.workerFinished, 0);
    EXPECT_EQ(job.mattesExchanged, 0);
    EXPECT_EQ(point.lastDone, point.stopAt);
}

INSTANTIATE_TEST_SUITE_P(Stages, WorkerStopTest,
                         ::testing::Values(StopCase{"atOnce", -1}, StopCase{"firstRow", 0},
                                           StopCase{"keying", 25}, StopCase{"blurColumns", 53},
                                           StopCase{"blurRows", 153}, StopCase{"choke", 203},
                                           StopCase{"lastChokeRow", 249}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tav
