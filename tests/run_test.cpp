// A whole run through the entry point on the in-process host: the image
// keyed as the plain references key it, tile by tile, and the run's ends.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "runtime/allocator.h"
#include "runtime/parameters.h"
#include "runtime/plugin_state.h"
#include "platform/posix/dialog_driver.h"
#include "tests/keyer_support.h"
#include "ui/registry.h"

namespace tav {
namespace {

using inprocess::InProcessHost;

// A green-screen layer with a subject, 4 planes, transparency 200, and no
// pure white: the content bounds are the whole area.
std::vector<uint8_t> Layer(int width, int height) {
    return test::MakeImage(width, height, 4, [=](int x, int y, int p) {
        const bool subject =
            (x - width / 2) * (x - width / 2) + (y - height / 2) * (y - height / 2) < width * width / 9;
        const int screen[3] = {20, 210, 40}, fg[3] = {200, 150 + (x & 15), 120};
        return p == 3 ? 200 : subject ? fg[p] : screen[p] + ((x * 7 + y * 3) & 7);
    });
}

class RunTest : public ::testing::Test {
protected:
    RunTest() : host_(ENTRYPOINT) {
        host_.recording = true;
        host_.SetImage(130, 70, 4, Layer(130, 70));
        host_.SetFilterCase(filterCaseEditableTransparencyNoSelection);
        test::ClearMessages();
    }
    // A repeated run: the record exists with the dialog off.
    void Settle(void (*settings)(ParameterRecord*) = nullptr) {
        host_.Call(filterSelectorParameters);
        ParameterRecord* p = GetParameters(&host_.record());
        p->ShowDialog = 0;
        p->ScreenColor = 1;
        if (settings) settings(p);
    }
    // What the run must write over the area: the reference worker composed
    // as "Foreground & Transparency".
    std::vector<uint8_t> Expected(int left, int top, int right, int bottom) {
        const cli::Image image{host_.width(), host_.height(), true, host_.image()};
        return test::Expected(image, *GetParameters(&host_.record()), left, top, right - left, bottom - top, nullptr)
            .rgba;
    }
    InProcessHost host_;
};

TEST_F(RunTest, ARepeatedRunKeysTheWholeAreaInSixTilesWithProgress) {
    Settle([](ParameterRecord* p) {
        p->MatteBlur = 3;
        p->MatteChoke = -1;
    });
    std::vector<uint8_t> expected = Expected(0, 0, 130, 70);
    EXPECT_EQ(host_.RunFilter(false), 0);
    EXPECT_EQ(host_.image(), expected);
    EXPECT_TRUE(test::RecordedMessages().empty());
    // Capture: 6 tiles; output: the same 6 tiles, in the same order.
    ASSERT_EQ(host_.advanceRequests.size(), 12u);
    const Rect want[6] = {{0, 0, 64, 64}, {0, 64, 64, 128}, {0, 128, 64, 130},
                          {64, 0, 70, 64}, {64, 64, 70, 128}, {64, 128, 70, 130}};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(std::memcmp(&host_.advanceRequests[6 + i].outRect, &want[i], sizeof(Rect)), 0) << "tile " << i;
    auto progress = host_.progressCalls();
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back().total, 70 + 130 + 70 + 70);
    EXPECT_EQ(host_.record().inRect.right, 0);
    EXPECT_EQ(host_.record().outRect.right, 0);
    EXPECT_EQ(host_.selectors.back(), filterSelectorFinish);
}

// A selection away from the origin, and areas that reach the far end of the
// host's 16-bit coordinates, where the tile walk must stop at the area's edge
// rather than wrap past 32767. The rest of the image stays as it was.
struct AreaCase {
    const char* name;
    int imageWidth, imageHeight;
    int left, top, right, bottom;
};

class RunAreaTest : public RunTest, public ::testing::WithParamInterface<AreaCase> {};

TEST_P(RunAreaTest, EveryTileLiesInTheAreaAndTheWholeAreaIsKeyed) {
    const AreaCase& c = GetParam();
    host_.SetImage(c.imageWidth, c.imageHeight, 4, Layer(c.imageWidth, c.imageHeight));
    host_.SetFilterRect(c.left, c.top, c.right, c.bottom);
    Settle();
    std::vector<uint8_t> expected = Expected(c.left, c.top, c.right, c.bottom);
    ASSERT_EQ(host_.RunFilter(false), 0);
    EXPECT_TRUE(host_.image() == expected);
    // Capture and output each visit ceil(w / 64) x ceil(h / 64) tiles.
    const size_t tiles = size_t((c.right - c.left + 63) / 64) * size_t((c.bottom - c.top + 63) / 64);
    EXPECT_EQ(host_.advanceRequests.size(), 2 * tiles);
    for (const inprocess::AdvanceRequest& request : host_.advanceRequests) {
        const Rect& r = request.inRect;
        ASSERT_TRUE(r.left >= c.left && r.top >= c.top && r.right <= c.right && r.bottom <= c.bottom &&
                    r.left < r.right && r.top < r.bottom)
            << r.left << "," << r.top << "," << r.right << "," << r.bottom;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Areas, RunAreaTest,
    ::testing::Values(AreaCase{"selection", 130, 70, 20, 10, 110, 60},
                      AreaCase{"wide32704", 32704, 2, 0, 0, 32704, 2},
                      AreaCase{"wide32705", 32705, 2, 0, 0, 32705, 2},
                      AreaCase{"wide32767", 32767, 4, 0, 0, 32767, 4},
                      AreaCase{"columnAt32704", 32767, 4, 32704, 0, 32705, 4},
                      AreaCase{"columnAt32766", 32767, 3, 32766, 0, 32767, 3},
                      AreaCase{"tall32704", 2, 32704, 0, 0, 2, 32704},
                      AreaCase{"tall32705", 2, 32705, 0, 0, 2, 32705},
                      AreaCase{"tall32767", 4, 32767, 0, 0, 4, 32767},
                      AreaCase{"rowAt32704", 4, 32767, 0, 32704, 4, 32705},
                      AreaCase{"cornerAt32767", 70, 32767, 3, 32700, 70, 32767}),
    test::kCaseName);

TEST_F(RunTest, AbortAtTheFirstTileWritesNothingAndKeepsTheBuffersForFinish) {
    Settle();
    std::vector<uint8_t> before = host_.image();
    host_.abortAtCall = 0;
    host_.Call(filterSelectorPrepare);
    EXPECT_EQ(host_.Call(filterSelectorStart), 1);
    EXPECT_EQ(host_.image(), before);
    EXPECT_NE(test::StoredState(host_)->sourceImage, nullptr);
    EXPECT_EQ(host_.Call(filterSelectorFinish), 0);
    EXPECT_EQ(test::StoredState(host_)->sourceImage, nullptr);
}

// A host that fails a request, in the capture (calls 0..5) or the output
// (6..11): the host's code is the run's result, and the walk ends.
TEST_F(RunTest, TheHostsCodeIsTheResult) {
    Settle();
    for (const auto& [failAt, code] : {std::pair<int, int16_t>{0, -128}, {5, -108}, {6, -128}, {11, -1}}) {
        host_.failAtCall = failAt;
        host_.failResult = code;
        host_.ClearRecords();
        EXPECT_EQ(host_.RunFilter(false), code) << "call " << failAt;
        EXPECT_EQ(host_.record().inRect.right, 0) << "call " << failAt;
    }
}

TEST_F(RunTest, WithoutMemoryForTheBuffersTheRunReportsMemFullAndWritesNothing) {
    host_.SetImage(700, 600, 4, Layer(700, 600));  // 1.26 MB RGB: file-backed
    Settle();
    std::vector<void*> held;
    for (int i = 0; i < kBufferSlotCount; ++i) held.push_back(AllocLargeBuffer(kFileBackedThreshold));
    std::vector<uint8_t> before = host_.image();
    EXPECT_EQ(host_.RunFilter(false), memFullErr);
    EXPECT_EQ(host_.image(), before);
    for (void* block : held) FreeLargeBuffer(block);
}

// A host that never sent the parameters selector gets the defaults and the
// dialog, which on opening detects the screen (green) and fits the zoom; OK
// keys with them.
TEST_F(RunTest, AStartWithoutAParametersSelectorGetsTheDefaults) {
    test::ScopedSettingsStores stores;  // the dialog keeps its place there
    const cli::Image image{host_.width(), host_.height(), true, host_.image()};
    platform::SetDialogDriver([](platform::WindowHandle dialog, void*) { platform::PressEnter(dialog); }, nullptr);
    host_.Call(filterSelectorPrepare);
    EXPECT_EQ(host_.Call(filterSelectorStart), 0);
    platform::SetDialogDriver(nullptr, nullptr);
    const ParameterRecord* record = GetParameters(&host_.record());
    ASSERT_NE(record, nullptr);
    ParameterRecord want = test::DefaultSettings();  // with the dialog off for the next run
    want.ScreenColor = 1;
    want.PreviewZoom = want.FitZoom = record->FitZoom;
    EXPECT_EQ(std::memcmp(record, &want, sizeof want), 0);
    EXPECT_EQ(host_.image(), test::Expected(image, want, 0, 0, 130, 70, nullptr).rgba);
    host_.Call(filterSelectorFinish);
}

// The switch in a user's store of its own, for this test only.
TEST_F(RunTest, TheDebugSwitchWithoutADebuggerDoesNotStopTheHost) {
    test::ScopedSettingsStores stores;
    EXPECT_EQ(WriteSettingsInt(kUserSettingsKey, "debug", 1), 1);
    Settle();
    EXPECT_EQ(host_.RunFilter(false), 0);
}

TEST_F(RunTest, HostsThatSkipFinishNeverRunOutOfBuffers) {
    host_.SetImage(700, 600, 4, Layer(700, 600));
    Settle();
    host_.quirks.skipFinish = true;
    for (int run = 0; run < 6; ++run) ASSERT_EQ(host_.RunFilter(false), 0) << "run " << run;
    host_.quirks.skipFinish = false;
    host_.Call(filterSelectorFinish);
}

}  // namespace
}  // namespace tav
