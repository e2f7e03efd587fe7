#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <vector>

#include "engine/matte_table.h"
#include "engine/worker.h"
#include "runtime/allocator.h"
#include "runtime/matte_run.h"
#include "interface/parameter_record.h"
#include "runtime/plugin_state.h"
#include "tests/engine_helpers.h"
#include "tests/reference.h"
#include "tests/support.h"
#include "hosts/inprocess/inprocess_host.h"

namespace tav {
namespace {

using test::Matte;
using test::StepRange;

constexpr int kWidth = 60, kHeight = 40;
constexpr int kAreaLeft = 5, kAreaTop = 2;  // the filtered area within the image

// The host's progress callback has no context.
test::ProgressLog* g_log = nullptr;
void HostProgress(int32_t done, int32_t total) { test::ProgressLog::Record(g_log, done, total); }

// A state block as a run leaves it once the area is captured: a green-screen
// scene in sourceImage, the other buffers unwritten, a Parameter record with
// its defaults and the dialog off.
class MatteRunTest : public ::testing::Test {
protected:
    MatteRunTest() : scene_(kWidth, kHeight, true), parameters_(NewMacHandle(sizeof(ParameterRecord))) {
        record_.parameters = parameters_;
        SetParameterDefaults(&parameters());
        parameters().ShowDialog = 0;
        parameters().ScreenColor = 1;
        record_.progressProc = HostProgress;
        SetHostRect(&record_.filterRect, kAreaLeft, kAreaTop, kAreaLeft + kWidth, kAreaTop + kHeight);
        ResetRunStartValues(&state_);
        state_.filterRecord = &record_;
        state_.sourceImage = scene_.rgb.data();
        state_.foregroundImage = scene_.foreground.data();
        state_.rawMatte = scene_.raw.data();
        state_.finalMatte = scene_.final.data();
        state_.width = kWidth;
        state_.height = kHeight;
        state_.contentLeft = kAreaLeft;
        state_.contentTop = kAreaTop + 3;  // below the white margin
        state_.contentRight = kAreaLeft + kWidth;
        state_.contentBottom = kAreaTop + kHeight;
        StoreShared(state_.worker.reportProgress, int32_t(1));
        log_.job = &state_.worker;
        g_log = &log_;
        Captured();
    }
    // What a capture of the scene learns while it copies it.
    void Captured() { state_.captured = test::PlainStatistics(scene_.rgb); }
    ~MatteRunTest() override {
        StopWorker(&state_);
        inprocess::DisposeSystemHandle(parameters_);
    }

    ParameterRecord& parameters() { return *static_cast<ParameterRecord*>(MacHandleData(parameters_)); }
    std::vector<int32_t> Table() const { return {std::begin(state_.matteTable), std::end(state_.matteTable)}; }

    test::Scene scene_;
    Handle parameters_;
    FilterRecord record_{};
    PluginState state_{};
    test::ProgressLog log_;
};

std::vector<int32_t> Plain(int fb, int fw, int gamma, bool dynamic, KeyRange range) {
    const auto t = reference::LevelTable(fb, fw, gamma, dynamic, range.minimum, range.maximum);
    return {t.begin(), t.end()};
}

// ---- The level table and the key range -------------------------------------------

// Until the whole area is captured (no image yet, or a tile the host failed
// to give) the table is stretched over no key range; then the range comes
// from the capture, once a run, even when dynamic range is turned off and on,
// and again for the other screen when the screen changes.
TEST_F(MatteRunTest, TheKeyRangeIsTakenOnceFromTheWholeCapture) {
    // Raw matte values 200 and 60 on a green screen: (60, 115, 60) and (0, 195, 0).
    std::vector<uint8_t>& rgb = scene_.rgb;
    for (size_t i = 0; i < rgb.size(); i += 3) {
        const bool left = (i / 3) % kWidth < kWidth / 2;
        rgb[i] = rgb[i + 2] = left ? 60 : 0;
        rgb[i + 1] = left ? 115 : 195;
    }
    Captured();
    parameters().DynamicRange = 1;
    for (int32_t incomplete : {0, -108}) {
        state_.sourceImage = incomplete != 0 ? scene_.rgb.data() : nullptr;
        state_.captureIncomplete = incomplete;
        BuildMatteTable(&state_);
        EXPECT_EQ(state_.keyRangeTaken, 0);
        EXPECT_EQ(Table(), Plain(0, 0, 0, true, kNoKeyRange));
    }
    state_.captureIncomplete = 0;
    BuildMatteTable(&state_);
    EXPECT_EQ(state_.keyRangeTaken, 1);
    EXPECT_EQ(Table(), Plain(0, 0, 0, true, {60, 200}));
    // No pixel has more blue than red and green: every blue key is below 0.
    parameters().ScreenColor = 0;
    BuildMatteTable(&state_);
    EXPECT_EQ(Table(), Plain(0, 0, 0, true, {255, 255}));
    parameters().ScreenColor = 1;
    BuildMatteTable(&state_);
    EXPECT_EQ(Table(), Plain(0, 0, 0, true, {60, 200}));

    std::fill(rgb.begin(), rgb.end(), uint8_t(128));  // would give 255..255
    Captured();
    parameters().DynamicRange = 0;
    BuildMatteTable(&state_);
    EXPECT_EQ(Table(), Plain(0, 0, 0, false, kNoKeyRange));
    parameters().DynamicRange = 1;
    parameters().ForceBlack = 20;
    BuildMatteTable(&state_);
    EXPECT_EQ(Table(), Plain(20, 0, 0, true, {60, 200}));
}

// ---- The worker ------------------------------------------------------------------------

struct WorkerCase {
    const char* name;
    uint8_t blur;
    int32_t choke;
    int total;  // progress steps: the rows, a column and a row of the blur, a row of the choke
};

class MatteRunWorkerTest : public MatteRunTest, public ::testing::WithParamInterface<WorkerCase> {};

// Every setting of the record distinct, the content bounds relative to the
// area, the state's table; the worker reports every step and finishes, and
// after the wait its result is the state's: the delivered matte in
// finalMatte, the one before the choke in rawMatte.
TEST_P(MatteRunWorkerTest, KeysTheAreaWithTheRecordsSettingsTheBoundsAndTheTable) {
    const WorkerCase& c = GetParam();
    ParameterRecord& p = parameters();
    p.CorrectionR = -30, p.CorrectionG = 40, p.CorrectionB = 5;
    p.Protection = 200;
    p.RestoreR = 10, p.RestoreG = 20, p.RestoreB = 30;
    p.BlueRemoval = 180;
    p.MatteBlur = c.blur;
    p.MatteChoke = c.choke;
    p.ForceBlack = 12, p.ForceWhite = 7, p.Gamma = 40, p.DynamicRange = 1;
    state_.contentLeft = kAreaLeft + 4;
    state_.contentRight = kAreaLeft + 55;
    state_.contentBottom = kAreaTop + 38;
    BuildMatteTable(&state_);
    RestartWorker(&state_);
    WaitForWorker(&state_);
    StopWorker(&state_);     // stopping and waiting once it is done
    WaitForWorker(&state_);  // keep the result, exchanged once
    EXPECT_EQ(state_.worker.workerHandle, kNoWorker);
    EXPECT_EQ(state_.worker.workerFinished, 1);
    EXPECT_EQ(log_.calls, StepRange(0, c.total, c.total));

    const MatteSettings settings{1, -30, 40, 5, 200, 10, 20, 30, 180, c.blur, c.choke};
    const auto table = reference::LevelTable(12, 7, 40, true, state_.keyRange.minimum, state_.keyRange.maximum);
    const reference::WorkerResult want =
        reference::RunWorker(settings, table.data(), scene_.rgb, kWidth, kHeight, 4, 3, 55, 38);
    const size_t n = scene_.raw.size();
    EXPECT_TRUE(std::equal(want.foreground.begin(), want.foreground.end(), state_.foregroundImage));
    EXPECT_TRUE(Matte(state_.finalMatte, state_.finalMatte + n) == want.final) << "delivered matte";
    EXPECT_TRUE(Matte(state_.rawMatte, state_.rawMatte + n) == want.raw) << "matte before the choke";
}

INSTANTIATE_TEST_SUITE_P(Stages, MatteRunWorkerTest,
                         ::testing::Values(WorkerCase{"keyingOnly", 0, 0, 40}, WorkerCase{"blur", 2, 0, 140},
                                           WorkerCase{"shrink", 0, -2, 80}, WorkerCase{"blurAndGrow", 2, 3, 180}),
                         test::kCaseName);

TEST_F(MatteRunTest, AnIncompleteCaptureGivesAWorkerThatEndsWithoutAResult) {
    state_.captureIncomplete = -108;
    RestartWorker(&state_);
    WaitForWorker(&state_);
    EXPECT_EQ(state_.worker.workerHandle, kNoWorker);
    EXPECT_EQ(state_.worker.workerFinished, 0);
    EXPECT_TRUE(scene_.Untouched());
}

TEST_F(MatteRunTest, WithoutAParameterRecordNothingStartsAndTheRunningWorkerStops) {
    log_.holdAt = 2;
    RestartWorker(&state_);
    log_.WaitFor(2);
    const std::vector<int32_t> table = Table();
    record_.parameters = nullptr;
    BuildMatteTable(&state_);  // without settings the table stays as it is
    EXPECT_EQ(Table(), table);
    RestartWorker(&state_);
    WaitForWorker(&state_);
    record_.parameters = parameters_;
    EXPECT_EQ(state_.worker.workerHandle, kNoWorker);
    EXPECT_EQ(state_.worker.workerFinished, 0);
    EXPECT_EQ(log_.calls, StepRange(0, 3, kHeight)) << "a worker started again";
}

// The table is rebuilt while the worker keys a row, and again once it is
// asked to stop while it is held at the next: the worker reads only its own
// copy (with ThreadSanitizer: no data race), so even the row keyed after the
// first rebuild uses the table the worker was started with. The held row is
// not keyed: the request is seen as soon as its step is reported.
TEST_F(MatteRunTest, RebuildingTheTableWhileTheWorkerKeysLeavesItsCopyAlone) {
    BuildMatteTable(&state_);
    const std::vector<int32_t> started = Table();
    state_.worker.threads = 1;
    log_.holdAt = 4;
    RestartWorker(&state_);
    log_.WaitFor(3);
    parameters().ForceBlack = 100;
    BuildMatteTable(&state_);  // while row 3 is keyed
    log_.WaitFor(4);
    StoreShared(state_.worker.cancelRequest, int32_t(1));
    parameters().Gamma = 200;
    BuildMatteTable(&state_);  // while the cancelled worker is held at row 4
    WaitForWorker(&state_);

    EXPECT_EQ(Table(), Plain(100, 0, 200, true, state_.keyRange));
    EXPECT_EQ(state_.worker.workerFinished, 0);
    EXPECT_EQ(log_.calls, StepRange(0, 5, kHeight));
    const reference::WorkerResult want = reference::RunWorker(MatteSettingsOf(parameters()), started.data(),
                                                              scene_.rgb, kWidth, kHeight, 0, 3, kWidth, kHeight);
    const ptrdiff_t keyed = 4 * kWidth;
    EXPECT_TRUE(std::equal(scene_.raw.begin(), scene_.raw.begin() + keyed, want.final.begin()));
    EXPECT_TRUE(std::equal(scene_.foreground.begin(), scene_.foreground.begin() + 3 * keyed, want.foreground.begin()));
    EXPECT_TRUE(std::all_of(scene_.raw.begin() + keyed, scene_.raw.end(), [](uint8_t m) { return m == test::Scene::kUnwritten; }));
}

}  // namespace
}  // namespace tav
