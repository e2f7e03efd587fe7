#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "engine/worker.h"
#include "tests/engine_helpers.h"
#include "tests/reference.h"

namespace tav {
namespace {

using test::FirstDifference;
using test::Matte;

struct Bounds {
    int left, top, right, bottom;
};

// A job over a scene, with the identity level table.
struct SceneJob : test::Scene {
    SceneJob(int width, int height, bool green, MatteSettings settings, Bounds inside = {0, 0, 1 << 20, 1 << 20})
        : Scene(width, height, green), job(IdleMatteJob()) {
        job.sourceImage = rgb.data();
        job.foregroundImage = foreground.data();
        job.rawMatte = raw.data();
        job.finalMatte = final.data();
        job.width = width;
        job.height = height;
        job.insideLeft = inside.left, job.insideTop = inside.top;
        job.insideRight = inside.right, job.insideBottom = inside.bottom;
        job.settings = settings;
        for (int i = 0; i < 256; ++i) job.matteTable[i] = i;
    }
    MatteJob job;
};

// ---- A whole run, on this thread and helpers, against the reference -------------------------

class WorkerThreadsTest : public ::testing::TestWithParam<int32_t> {};

// The worker leaves the foreground, the delivered matte in finalMatte and the
// matte before the choke in rawMatte; a run that choked has the two the other
// way round and says so. Content bounds inside the area on every side,
// beyond it, empty (every pixel keys as the screen) and inverted; areas with
// fewer rows or strips than threads. Whatever the number of threads, every
// byte is the reference's and every step is reported once, in order.
TEST_P(WorkerThreadsTest, AWholeRunMatchesTheReferenceOnEveryPixel) {
    const struct {
        bool green;
        int width, height;
        MatteSettings settings;  // screen colour, correction R G B, protection, restore R G B, removal, blur, choke
        int forceBlack, forceWhite, gamma;
        bool dynamic;
        Bounds inside;
    } cases[] = {
        {false, 97, 61, {0, 0, 0, 0, 0, 0, 0, 0, 255, 0, 0}, 0, 0, 0, true, {0, 3, 97, 61}},
        {true, 97, 61, {1, 0, 0, 0, 0, 0, 0, 0, 255, 0, 0}, 0, 0, 0, true, {0, 0, 97, 61}},
        {false, 80, 70, {0, 0, 0, 0, 0, 0, 0, 0, 255, 6, 0}, 0, 0, 0, false, {4, 3, 78, 69}},
        {true, 70, 50, {1, 0, 0, 0, 0, 0, 0, 0, 255, 0, 3}, 10, 10, 0, true, {-5, -7, 75, 59}},
        {false, 90, 66, {0, 10, 20, -40, 40, 120, 120, 120, 200, 4, -2}, 5, 20, 60, true, {0, 3, 90, 66}},
        {true, 40, 30, {1, 0, 0, 0, 0, 0, 0, 0, 255, 60, -50}, 0, 0, 0, true, {10, 10, 10, 20}},
        {true, 65, 65, {1, -30, 40, 5, 250, 255, 255, 255, 100, 2, 1}, 30, 40, 200, false, {30, 20, 10, 5}},
        {false, 131, 7, {0, 0, 0, 0, 0, 0, 0, 0, 255, 9, 1}, 0, 0, 0, true, {0, 3, 131, 7}},
        {true, 2, 1, {1, 0, 0, 0, 0, 0, 0, 0, 255, 1, 1}, 0, 0, 0, false, {0, 0, 2, 1}},
        {false, 1, 3, {0, 0, 0, 0, 0, 0, 0, 0, 255, 2, -1}, 0, 0, 0, false, {0, 0, 1, 3}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height << ", blur " << int(c.settings.matteBlur)
                                          << ", choke " << c.settings.matteChoke);
        SceneJob run(c.width, c.height, c.green, c.settings, c.inside);
        run.job.threads = GetParam();
        test::ProgressLog log;
        log.Attach(run.job);
        run.job.reportProgress = 1;
        const auto table = reference::LevelTable(c.forceBlack, c.forceWhite, c.gamma, c.dynamic, 30, 220);
        std::copy(table.begin(), table.end(), run.job.matteTable);
        MatteWorker(&run.job);  // directly: no handle, nothing recorded
        EXPECT_EQ(run.job.workerFinished, 0);
        EXPECT_EQ(run.job.helperThreads, 0);

        const reference::WorkerResult want = reference::RunWorker(
            c.settings, table.data(), run.rgb, c.width, c.height, c.inside.left, c.inside.top, c.inside.right,
            c.inside.bottom);
        const bool choked = c.settings.matteChoke != 0;
        EXPECT_EQ(run.job.mattesExchanged, int32_t(choked));
        EXPECT_TRUE(run.foreground == want.foreground) << "foreground";
        const Matte& delivered = choked ? run.raw : run.final;
        const Matte& beforeChoke = choked ? run.final : run.raw;
        EXPECT_TRUE(delivered == want.final) << "delivered: " << FirstDifference(delivered, want.final, c.width);
        EXPECT_TRUE(beforeChoke == want.raw) << "before the choke: " << FirstDifference(beforeChoke, want.raw, c.width);
        // One step a row, a column and a row of the blur, a row of the choke.
        const int32_t total = c.height + (c.settings.matteBlur ? c.width + c.height : 0) + (choked ? c.height : 0);
        EXPECT_EQ(run.job.progressTotal, total);
        EXPECT_EQ(log.calls, test::StepRange(0, total, total));
    }
}

INSTANTIATE_TEST_SUITE_P(Threads, WorkerThreadsTest, ::testing::Values(1, 2, 3, 5));

// ---- Stopped before it starts, without an image, and in every stage ------------------------

TEST(WorkerTest, ARecordedWorkerAskedToStopBeforeTheFirstRowWritesNothing) {
    SceneJob run(100, 50, false, {0, 0, 0, 0, 0, 0, 0, 0, 255, 3, 1});
    run.job.workerHandle = test::kFakeWorker;  // as a recorded worker sees itself
    run.job.cancelRequest = 1;
    MatteWorker(&run.job);
    EXPECT_EQ(run.job.workerHandle, kNoWorker);
    EXPECT_EQ(run.job.cancelRequest, 0);
    EXPECT_EQ(run.job.workerFinished, 0);
    EXPECT_TRUE(run.Untouched());
}

TEST(WorkerTest, WithoutAnImageAWorkerEndsWithoutAResult) {
    SceneJob run(100, 50, false, {0, 0, 0, 0, 0, 0, 0, 0, 255, 3, 1});
    StopWorker(&run.job);  // no worker: both return at once
    WaitForWorker(&run.job);
    run.job.sourceImage = nullptr;
    StartWorker(&run.job);
    WaitForWorker(&run.job);
    EXPECT_EQ(run.job.workerHandle, kNoWorker);
    EXPECT_EQ(run.job.workerFinished, 0);
    EXPECT_TRUE(run.Untouched());
}

struct StopCase {
    const char* name;
    int step;  // the worker is held there until it is asked to stop; -1: stopped at once
    int32_t threads;
};

class WorkerStopTest : public ::testing::TestWithParam<StopCase> {};

// The worker reports on its own thread while its helpers go on; asked to
// stop, it and every helper end before it says no worker runs (with
// ThreadSanitizer: no helper's write races the checks below). Each row the
// keying wrote is whole and right, and the blur never started.
TEST_P(WorkerStopTest, EndsUnfinishedWithNothingReportedAfterTheStop) {
    // 50 rows, 100 columns and 50 rows of blur, 50 rows of choke.
    const MatteSettings settings{1, 0, 0, 0, 0, 0, 0, 0, 255, 40, 30};
    SceneJob run(100, 50, true, settings);
    run.job.threads = GetParam().threads;
    test::ProgressLog log;
    log.Attach(run.job);
    log.holdAt = GetParam().step;
    run.job.reportProgress = 1;
    StartWorker(&run.job);
    log.WaitFor(log.holdAt);
    StopWorker(&run.job);
    EXPECT_EQ(run.job.workerHandle, kNoWorker);
    EXPECT_EQ(run.job.cancelRequest, 0);
    EXPECT_EQ(run.job.helperThreads, 0);
    if (log.holdAt < 0) return;  // it may have finished
    EXPECT_EQ(run.job.workerFinished, 0);
    EXPECT_EQ(run.job.mattesExchanged, 0);
    EXPECT_EQ(log.calls, test::StepRange(0, log.holdAt + 1, 250));
    if (log.holdAt >= 50) return;
    MatteSettings keyingOnly = settings;
    keyingOnly.matteBlur = keyingOnly.matteChoke = 0;
    const reference::WorkerResult want =
        reference::RunWorker(keyingOnly, run.job.matteTable, run.rgb, 100, 50, 0, 0, 1 << 20, 1 << 20);
    for (size_t row = 0; row < 50; ++row) {
        const auto first = run.raw.begin() + ptrdiff_t(row * 100);
        const bool unwritten = std::all_of(first, first + 100, [](uint8_t m) { return m == test::Scene::kUnwritten; });
        EXPECT_TRUE(unwritten || std::equal(first, first + 100, want.raw.begin() + ptrdiff_t(row * 100))) << row;
        // One thread keys the rows before the held one, and no more.
        if (GetParam().threads == 1) {
            EXPECT_EQ(unwritten, row >= size_t(log.holdAt)) << row;
        }
    }
    EXPECT_TRUE(std::all_of(run.final.begin(), run.final.end(), [](uint8_t m) { return m == test::Scene::kUnwritten; }));
}

INSTANTIATE_TEST_SUITE_P(Stages, WorkerStopTest,
                         ::testing::Values(StopCase{"atOnce", -1, 1}, StopCase{"firstRow", 0, 1},
                                           StopCase{"keying", 25, 1}, StopCase{"blurColumns", 53, 1},
                                           StopCase{"blurRows", 153, 1}, StopCase{"choke", 203, 1},
                                           StopCase{"lastChokeRow", 249, 1}, StopCase{"atOnceOnThree", -1, 3},
                                           StopCase{"firstRowOnThree", 0, 3}, StopCase{"keyingOnThree", 25, 3},
                                           StopCase{"blurColumnsOnTwo", 53, 2}, StopCase{"blurRowsOnThree", 153, 3},
                                           StopCase{"chokeOnTwo", 203, 2}, StopCase{"lastChokeRowOnThree", 249, 3}),
                         test::kCaseName);

}  // namespace
}  // namespace tav
