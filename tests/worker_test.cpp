#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "engine/matte_table.h"
#include "engine/worker.h"
#include "host/capture.h"
#include "tests/reference.h"
#include "tests/support.h"

namespace tav {
namespace {

using test::PreparedRun;

// A blue- or green-screen scene: a subject with a soft edge, a strand, a
// translucent patch and a pure white margin at the top (outside the content
// bounds once the margin spans whole rows).
std::vector<uint8_t> Scene(int width, int height, bool green) {
    return test::MakeImage(width, height, 3, [=](int x, int y, int p) {
        if (y < 3) return 255;  // white margin
        int screen[3] = {15, green ? 220 : 40, green ? 50 : 225};
        int subject[3] = {190 + (x % 40), 140 + (y % 30), 100};
        int dx = x - width / 2, dy = y - height / 2;
        int d2 = dx * dx + dy * dy;
        int r2 = (width / 3) * (width / 3);
        int mix = d2 < r2 ? 255 : d2 < r2 + 4 * width ? 255 - 255 * (d2 - r2) / (4 * width) : 0;
        if (x == width / 5) mix = 160;                          // a fine strand
        if (x > width * 3 / 4 && y > height * 3 / 4) mix = 90;  // translucent patch
        return screen[p] + (subject[p] - screen[p]) * mix / 255;
    });
}

struct WorkerCase {
    const char* name;
    bool green;
    int width, height;
    int blur, choke;
    int32_t cr, cg, cb;
    uint8_t protection, restore, removal;
    uint8_t forceBlack, forceWhite, gamma, dynamic;
};

class WorkerWholeImageTest : public ::testing::TestWithParam<WorkerCase> {};

TEST_P(WorkerWholeImageTest, MatchesTheReferenceOnEveryPixel) {
    const WorkerCase& c = GetParam();
    std::vector<uint8_t> rgb = Scene(c.width, c.height, c.green);
    PreparedRun run(c.width + 9, c.height + 4, 4, {});
    // Put the scene into a selection at (5, 2) of a larger layer.
    std::vector<uint8_t> layer(size_t(c.width + 9) * (c.height + 4) * 4, 33);
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x)
            for (int k = 0; k < 3; ++k)
                layer[((size_t(y) + 2) * (c.width + 9) + x + 5) * 4 + k] = rgb[(size_t(y) * c.width + x) * 3 + k];
    run.host.SetImage(c.width + 9, c.height + 4, 4, layer);
    run.Select(5, 2, 5 + c.width, 2 + c.height);

    ParameterRecord& p = run.parameters();
    p.ScreenColor = c.green;
    p.MatteBlur = uint8_t(c.blur);
    p.MatteChoke = c.choke;
    p.CorrectionR = c.cr;
    p.CorrectionG = c.cg;
    p.CorrectionB = c.cb;
    p.Protection = c.protection;
    p.RestoreR = p.RestoreG = p.RestoreB = c.restore;
    p.BlueRemoval = c.removal;
    p.ForceBlack = c.forceBlack;
    p.ForceWhite = c.forceWhite;
    p.Gamma = c.gamma;
    p.DynamicRange = c.dynamic;
    ASSERT_TRUE(CaptureImage(&run.state));
    BuildMatteTable(&run.state);
    MatteWorker(&run.state);  // directly, on this thread

    EXPECT_EQ(run.state.contentTop, 2 + 3);
    reference::WorkerResult want = reference::RunWorker(
        p, MatteTable, rgb, c.width, c.height, run.state.contentLeft - 5, run.state.contentTop - 2,
        run.state.contentRight - 5, run.state.contentBottom - 2);
    const size_t n = size_t(c.width) * c.height;
    EXPECT_TRUE(std::equal(want.foreground.begin(), want.foreground.end(), run.state.foregroundImage));
    EXPECT_TRUE(std::equal(want.raw.begin(), want.raw.end(), run.state.rawMatte));
    EXPECT_TRUE(std::equal(want.final.begin(), want.final.end(), run.state.finalMatte));
    EXPECT_EQ(run.state.workerFinished, 0);  // a direct call records nothing
    EXPECT_EQ(n, size_t(run.state.matteBytes));
}

INSTANTIATE_TEST_SUITE_P(
    Scenes, WorkerWholeImageTest,
    ::testing::Values(
        WorkerCase{"blueDefaults", false, 97, 61, 0, 0, 0, 0, 0, 0, 0, 255, 0, 0, 0, 1},
        WorkerCase{"greenDefaults", true, 97, 61, 0, 0, 0, 0, 0, 0, 0, 255, 0, 0, 0, 1},
        WorkerCase{"blurOnly", false, 80, 70, 6, 0, 0, 0, 0, 0, 0, 255, 0, 0, 0, 0},
        WorkerCase{"chokeGrow", true, 70, 50, 0, 3, 0, 0, 0, 0, 0, 255, 10, 10, 0, 1},
        WorkerCase{"blurAndShrink", false, 90, 66, 4, -2, 10, 20, -40, 40, 120, 200, 5, 20, 60, 1},
        WorkerCase{"largeRadii", true, 40, 30, 60, -50, 0, 0, 0, 0, 0, 255, 0, 0, 0, 1},
        WorkerCase{"everything", true, 65, 65, 2, 1, -30, 40, 5, 250, 255, 100, 30, 40, 200, 0}),
    [](const auto& info) { return std::string(info.param.name); });

class WorkerControlTest : public ::testing::Test {
protected:
    WorkerControlTest() : run_(100, 50, 3, Scene(100, 50, false)) {
        EXPECT_TRUE(CaptureImage(&run_.state));
        BuildMatteTable(&run_.state);
    }
    PreparedRun run_;
};

TEST_F(WorkerControlTest, ProgressTotalCountsTheStages) {
    ParameterRecord& p = run_.parameters();
    MatteWorker(&run_.state);
    EXPECT_EQ(run_.state.progressTotal, 50);
    EXPECT_EQ(std::memcmp(run_.state.rawMatte, run_.state.finalMatte, 5000), 0);
    p.MatteBlur = 4;
    p.MatteChoke = -2;
    MatteWorker(&run_.state);
    EXPECT_EQ(run_.state.progressTotal, 250);
}

TEST_F(WorkerControlTest, ARecordedWorkerReportsProgressAndFinishes) {
    ParameterRecord& p = run_.parameters();
    p.MatteBlur = 3;
    p.MatteChoke = 1;
    run_.state.reportProgress = 1;
    RestartWorker(&run_.state);
    WaitForWorker(&run_.state);
    EXPECT_EQ(run_.state.workerHandle, kNoWorker);
    EXPECT_EQ(run_.state.workerFinished, 1);
    EXPECT_EQ(run_.state.cancelRequest, 0);
    auto progress = run_.host.progressCalls();
    ASSERT_EQ(progress.size(), size_t(50 + 100 + 50 + 50));
    for (size_t i = 0; i < progress.size(); ++i) {
        EXPECT_EQ(progress[i].done, int32_t(i)) << i;
        EXPECT_EQ(progress[i].total, 250);
    }
    // Waiting again returns at once and keeps the result.
    WaitForWorker(&run_.state);
    EXPECT_EQ(run_.state.workerFinished, 1);
}

TEST_F(WorkerControlTest, AThreadedRunEqualsADirectRun) {
    ParameterRecord& p = run_.parameters();
    p.MatteBlur = 5;
    p.MatteChoke = -3;
    MatteWorker(&run_.state);
    std::vector<uint8_t> direct(run_.state.finalMatte, run_.state.finalMatte + 5000);
    std::vector<uint8_t> fg(run_.state.foregroundImage, run_.state.foregroundImage + 15000);
    std::memset(run_.state.finalMatte, 0, 5000);
    RestartWorker(&run_.state);
    WaitForWorker(&run_.state);
    ASSERT_EQ(run_.state.workerFinished, 1);
    EXPECT_TRUE(std::equal(direct.begin(), direct.end(), run_.state.finalMatte));
    EXPECT_TRUE(std::equal(fg.begin(), fg.end(), run_.state.foregroundImage));
}

TEST_F(WorkerControlTest, ACancelBeforeTheFirstRowWritesNothing) {
    std::memset(run_.state.rawMatte, 7, 5000);
    run_.state.workerHandle = 424242;  // as a recorded worker sees itself
    run_.state.cancelRequest = 1;
    MatteWorker(&run_.state);
    EXPECT_EQ(run_.state.workerHandle, kNoWorker);
    EXPECT_EQ(run_.state.cancelRequest, 0);
    EXPECT_EQ(run_.state.workerFinished, 0);
    for (int i = 0; i < 5000; ++i) ASSERT_EQ(run_.state.rawMatte[i], 7);
}

TEST_F(WorkerControlTest, StopAndWaitWithoutAWorkerReturnAtOnceThenRestartStartsOne) {
    StopWorker(&run_.state);
    WaitForWorker(&run_.state);
    EXPECT_EQ(run_.state.workerHandle, kNoWorker);
    EXPECT_EQ(run_.state.workerFinished, 0);
    RestartWorker(&run_.state);
    StopWorker(&run_.state);  // whatever stage it reached, it is gone now
    EXPECT_EQ(run_.state.workerHandle, kNoWorker);
    EXPECT_EQ(run_.state.cancelRequest, 0);
}

TEST_F(WorkerControlTest, AWorkerWithoutAnImageEndsWithoutAResult) {
    uint8_t* source = run_.state.sourceImage;
    run_.state.sourceImage = nullptr;
    RestartWorker(&run_.state);
    WaitForWorker(&run_.state);
    EXPECT_EQ(run_.state.workerFinished, 0);
    EXPECT_EQ(run_.state.workerHandle, kNoWorker);
    run_.state.sourceImage = source;
}

TEST(WorkerStopTest, StopsALargeRunInEveryStage) {
    // A stop at a random moment: the worker must end, unfinished or finished,
    // and never hang, whether it is keying, blurring or choking.
    PreparedRun run(1200, 900, 3, Scene(1200, 900, true));
    ASSERT_TRUE(CaptureImage(&run.state));
    BuildMatteTable(&run.state);
    run.parameters().MatteBlur = 40;
    run.parameters().MatteChoke = 30;
    for (int micros : {0, 100, 3000, 30000, 120000}) {
        RestartWorker(&run.state);
        std::this_thread::sleep_for(std::chrono::microseconds(micros));
        StopWorker(&run.state);
        EXPECT_EQ(run.state.workerHandle, kNoWorker);
        EXPECT_EQ(run.state.cancelRequest, 0);
    }
}

}  // namespace
}  // namespace tav
