#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "engine/matte_table.h"
#include "engine/worker.h"
#include "host/allocator.h"
#include "host/matte_run.h"
#include "host/parameters.h"
#include "host/plugin_state.h"
#include "platform/thread.h"
#include "tests/engine_helpers.h"
#include "tests/reference.h"

namespace tav {
namespace {

using test::Matte;

constexpr uint8_t kUnwritten = 0xEE;
constexpr int kWidth = 60, kHeight = 40;
constexpr int kAreaLeft = 5, kAreaTop = 2;  // the filtered area within the image

// The worker's progress as the host sees it: the steps, the last one told to
// the controller as it is reported (before its row is keyed), and a hold of
// the worker at step `holdAt` until a stop is requested.
struct Hold {
    PluginState* state = nullptr;
    int32_t holdAt = -1;
    std::atomic<int32_t> reported{-1};
    std::vector<int32_t> steps;

    void WaitFor(int32_t step) {
        for (int32_t seen; (seen = reported.load()) < step;) reported.wait(seen);
    }
};
Hold* g_hold = nullptr;

void HoldingProgress(int32_t done, int32_t) {
    Hold& h = *g_hold;
    h.steps.push_back(done);
    h.reported.store(done);
    h.reported.notify_all();
    if (done != h.holdAt) return;
    while (LoadShared(h.state->worker.cancelRequest) == 0) platform::YieldTimeSlice();
}

// A state block as a run leaves it once the area is captured: the scene in
// sourceImage, the other buffers unwritten, a Parameter record with its
// defaults and the dialog off.
class MatteRunTest : public ::testing::Test {
protected:
    MatteRunTest()
        : rgb_(test::Scene(kWidth, kHeight, true)),
          foreground_(rgb_.size(), kUnwritten),
          raw_(size_t(kWidth) * kHeight, kUnwritten),
          final_(raw_.size(), kUnwritten) {
        parameters_ = NewMacHandle(sizeof(ParameterRecord));
        record_.parameters = parameters_;
        SetParameterDefaults(&parameters());
        parameters().ShowDialog = 0;
        parameters().ScreenColor = 1;
        record_.progressProc = HoldingProgress;
        SetHostRect(&record_.filterRect, kAreaLeft, kAreaTop, kAreaLeft + kWidth, kAreaTop + kHeight);
        ResetRunStartValues(&state_);
        state_.filterRecord = &record_;
        state_.sourceImage = rgb_.data();
        state_.foregroundImage = foreground_.data();
        state_.rawMatte = raw_.data();
        state_.finalMatte = final_.data();
        state_.width = kWidth;
        state_.height = kHeight;
        state_.contentLeft = kAreaLeft;
        state_.contentTop = kAreaTop + 3;  // below the white margin
        state_.contentRight = kAreaLeft + kWidth;
        state_.contentBottom = kAreaTop + kHeight;
        hold_.state = &state_;
        g_hold = &hold_;
    }
    ~MatteRunTest() override {
        StopWorker(&state_);
        g_hold = nullptr;
        DisposeMacHandle(parameters_);
    }

    ParameterRecord& parameters() { return *static_cast<ParameterRecord*>(MacHandleData(parameters_)); }
    std::vector<int32_t> Table() const { return {std::begin(state_.matteTable), std::end(state_.matteTable)}; }
    bool Untouched() const {
        return foreground_ == std::vector<uint8_t>(foreground_.size(), kUnwritten) &&
               raw_ == Matte(raw_.size(), kUnwritten) && final_ == Matte(final_.size(), kUnwritten);
    }

    std::vector<uint8_t> rgb_, foreground_;
    Matte raw_, final_;
    Handle parameters_;
    FilterRecord record_{};
    PluginState state_{};
    Hold hold_;
};

std::vector<int32_t> Plain(int fb, int fw, int gamma, bool dynamic, KeyRange range) {
    const auto t = reference::LevelTable(fb, fw, gamma, dynamic, range.minimum, range.maximum);
    return {t.begin(), t.end()};
}

// ---- The level table and the key range -------------------------------------------

TEST_F(MatteRunTest, TheKeyRangeIsScannedOncePerRunEvenWhenDynamicRangeToggles) {
    // Raw matte values 200 and 60 on a green screen: (60, 115, 60) and (0, 195, 0).
    for (size_t i = 0; i < rgb_.size(); i += 3) {
        const bool left = (i / 3) % kWidth < kWidth / 2;
        rgb_[i] = rgb_[i + 2] = left ? 60 : 0;
        rgb_[i + 1] = left ? 115 : 195;
    }
    parameters().DynamicRange = 1;
    BuildMatteTable(&state_);
    EXPECT_EQ(state_.keyRangeScanned, 1);
    EXPECT_EQ(state_.keyRange.minimum, 60);
    EXPECT_EQ(state_.keyRange.maximum, 200);
    EXPECT_EQ(Table(), Plain(0, 0, 0, true, {60, 200}));

    std::fill(rgb_.begin(), rgb_.end(), uint8_t(128));  // would scan as 255..255
    parameters().DynamicRange = 0;
    BuildMatteTable(&state_);
    EXPECT_EQ(Table(), Plain(0, 0, 0, false, kNoKeyRange));
    parameters().DynamicRange = 1;
    parameters().ForceBlack = 20;
    BuildMatteTable(&state_);
    EXPECT_EQ(state_.keyRange.minimum, 60);
    EXPECT_EQ(state_.keyRange.maximum, 200);
    EXPECT_EQ(Table(), Plain(20, 0, 0, true, {60, 200}));
}

struct CaptureCase {
    const char* name;
    bool image;
    int32_t captureIncomplete;
};

class MatteRunCaptureTest : public MatteRunTest, public ::testing::WithParamInterface<CaptureCase> {};

// Until the whole area is captured, the table is stretched over no key range
// and the range is left to be scanned once it is.
TEST_P(MatteRunCaptureTest, TheKeyRangeWaitsForTheCapturedImage) {
    uint8_t* const image = state_.sourceImage;
    if (!GetParam().image) state_.sourceImage = nullptr;
    state_.captureIncomplete = GetParam().captureIncomplete;
    parameters().DynamicRange = 1;
    BuildMatteTable(&state_);
    EXPECT_EQ(state_.keyRangeScanned, 0);
    EXPECT_EQ(Table(), Plain(0, 0, 0, true, kNoKeyRange));

    state_.sourceImage = image;
    state_.captureIncomplete = 0;
    BuildMatteTable(&state_);
    EXPECT_EQ(state_.keyRangeScanned, 1);
    const KeyRange range = ScanKeyRange(rgb_.data(), kWidth * kHeight, true);
    EXPECT_EQ(state_.keyRange.minimum, range.minimum);
    EXPECT_EQ(state_.keyRange.maximum, range.maximum);
    EXPECT_EQ(Table(), Plain(0, 0, 0, true, range));
}

INSTANTIATE_TEST_SUITE_P(Captures, MatteRunCaptureTest,
                         ::testing::Values(CaptureCase{"noImage", false, 0},
                                           CaptureCase{"hostFailedATile", true, -108}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- The worker ------------------------------------------------------------------------

class MatteRunWorkerTest : public MatteRunTest, public ::testing::WithParamInterface<int32_t> {};

// Every setting of the record distinct, the content bounds relative to the
// area, the state's table; after the wait, the result is the state's: the
// delivered matte in finalMatte, the one before the choke in rawMatte.
TEST_P(MatteRunWorkerTest, KeysTheAreaWithTheRecordsSettingsTheBoundsAndTheTable) {
    ParameterRecord& p = parameters();
    p.CorrectionR = -30, p.CorrectionG = 40, p.CorrectionB = 5;
    p.Protection = 200;
    p.RestoreR = 10, p.RestoreG = 20, p.RestoreB = 30;
    p.BlueRemoval = 180;
    p.MatteBlur = 2;
    p.MatteChoke = GetParam();
    p.ForceBlack = 12, p.ForceWhite = 7, p.Gamma = 40, p.DynamicRange = 1;
    state_.contentLeft = kAreaLeft + 4;
    state_.contentRight = kAreaLeft + 55;
    state_.contentBottom = kAreaTop + 38;
    BuildMatteTable(&state_);
    RestartWorker(&state_);
    WaitForWorker(&state_);
    WaitForWorker(&state_);  // a second wait exchanges nothing more
    ASSERT_EQ(state_.worker.workerFinished, 1);

    const MatteSettings settings{1, -30, 40, 5, 200, 10, 20, 30, 180, 2, GetParam()};
    const auto table = reference::LevelTable(12, 7, 40, true, state_.keyRange.minimum, state_.keyRange.maximum);
    const reference::WorkerResult want =
        reference::RunWorker(settings, table.data(), rgb_, kWidth, kHeight, 4, 3, 55, 38);
    const size_t n = raw_.size();
    EXPECT_TRUE(std::equal(want.foreground.begin(), want.foreground.end(), state_.foregroundImage));
    EXPECT_TRUE(Matte(state_.finalMatte, state_.finalMatte + n) == want.final) << "delivered matte";
    EXPECT_TRUE(Matte(state_.rawMatte, state_.rawMatte + n) == want.raw) << "matte before the choke";
}

INSTANTIATE_TEST_SUITE_P(Chokes, MatteRunWorkerTest, ::testing::Values(0, -2, 3));

TEST_F(MatteRunTest, AnIncompleteCaptureGivesAWorkerThatEndsWithoutAResult) {
    state_.captureIncomplete = -108;
    RestartWorker(&state_);
    WaitForWorker(&state_);
    EXPECT_EQ(state_.worker.workerHandle, kNoWorker);
    EXPECT_EQ(state_.worker.workerFinished, 0);
    EXPECT_TRUE(Untouched());
}

TEST_F(MatteRunTest, WithoutAParameterRecordNothingStartsAndTheRunningWorkerStops) {
    StoreShared(state_.worker.reportProgress, int32_t(1));
    hold_.holdAt = 2;
    RestartWorker(&state_);
    hold_.WaitFor(2);
    const std::vector<int32_t> table = Table();
    record_.parameters = nullptr;
    BuildMatteTable(&state_);  // without settings the table stays as it is
    EXPECT_EQ(Table(), table);
    RestartWorker(&state_);
    WaitForWorker(&state_);
    EXPECT_EQ(state_.worker.workerHandle, kNoWorker);
    EXPECT_EQ(state_.worker.workerFinished, 0);
    EXPECT_EQ(hold_.steps, (std::vector<int32_t>{0, 1, 2})) << "a worker started again";
    record_.parameters = parameters_;
}

// The table is rebuilt while the worker keys a row, and again once it is
// asked to stop while it still keys one: the worker reads only its own copy
// (with ThreadSanitizer: no data race), so even the row keyed after the first
// rebuild uses the table the worker was started with.
TEST_F(MatteRunTest, RebuildingTheTableWhileTheWorkerKeysLeavesItsCopyAlone) {
    StoreShared(state_.worker.reportProgress, int32_t(1));
    BuildMatteTable(&state_);
    const std::vector<int32_t> started = Table();
    hold_.holdAt = 4;
    RestartWorker(&state_);
    hold_.WaitFor(3);
    parameters().ForceBlack = 100;
    BuildMatteTable(&state_);  // while row 3 is keyed
    hold_.WaitFor(4);
    StoreShared(state_.worker.cancelRequest, int32_t(1));
    parameters().Gamma = 200;
    BuildMatteTable(&state_);  // while the cancelled worker keys row 4
    WaitForWorker(&state_);

    EXPECT_EQ(Table(), Plain(100, 0, 200, true, state_.keyRange));
    EXPECT_EQ(state_.worker.workerFinished, 0);
    EXPECT_EQ(hold_.steps, (std::vector<int32_t>{0, 1, 2, 3, 4}));
    const reference::WorkerResult want = reference::RunWorker(MatteSettingsOf(parameters()), started.data(), rgb_,
                                                              kWidth, kHeight, 0, 3, kWidth, kHeight);
    const size_t keyed = size_t(5) * kWidth;
    EXPECT_TRUE(std::equal(raw_.begin(), raw_.begin() + ptrdiff_t(keyed), want.final.begin()));
    EXPECT_TRUE(std::equal(foreground_.begin(), foreground_.begin() + ptrdiff_t(3 * keyed), want.foreground.begin()));
    EXPECT_TRUE(std::all_of(raw_.begin() + ptrdiff_t(keyed), raw_.end(), [](uint8_t m) { return m == kUnwritten; }));
}

}  // namespace
}  // namespace tav
