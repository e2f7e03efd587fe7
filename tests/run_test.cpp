#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "host/allocator.h"
#include "host/matte_run.h"
#include "host/parameters.h"
#include "host/plugin_state.h"
#include "tests/doubles/user_services.h"
#include "tests/reference.h"
#include "tools/inprocess_host/inprocess_host.h"
#include "ui/registry.h"

namespace tav {
namespace {

using inprocess::InProcessHost;

// A green-screen layer with a subject, 4 planes, transparency 200.
std::vector<uint8_t> Layer(int width, int height) {
    std::vector<uint8_t> layer(size_t(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int p = 0; p < 4; ++p) {
                const bool subject =
                    (x - width / 2) * (x - width / 2) + (y - height / 2) * (y - height / 2) < width * width / 9;
                const int screen[3] = {20, 210, 40}, fg[3] = {200, 150 + (x & 15), 120};
                layer[(size_t(y) * width + x) * 4 + p] =
                    uint8_t(p == 3 ? 200 : subject ? fg[p] : screen[p] + ((x * 7 + y * 3) & 7));
            }
    return layer;
}

// The plug-in's state block as the host holds it between calls.
PluginState* StoredState(InProcessHost& host) {
    return static_cast<PluginState*>(MacHandleData(reinterpret_cast<Handle>(host.dataWord())));
}

class RunTest : public ::testing::Test {
protected:
    RunTest() : host_(ENTRYPOINT) {
        InProcessHost::SetHandleDisposer(DisposeMacHandle);
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
    // What the run must write: the reference worker over the selection,
    // composed as "Foreground & Transparency".
    std::vector<uint8_t> Expected(int left, int top, int right, int bottom) {
        const ParameterRecord& p = *GetParameters(&host_.record());
        const int w = right - left, h = bottom - top;
        std::vector<uint8_t> rgb(size_t(w) * h * 3);
        const std::vector<uint8_t>& image = host_.image();
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int k = 0; k < 3; ++k)
                    rgb[(size_t(y) * w + x) * 3 + k] = image[((size_t(y) + top) * host_.width() + x + left) * 4 + k];
        // No pure white in these scenes: the content bounds are the whole area.
        int lo = 255, hi = 0;
        for (size_t i = 0; i < rgb.size(); i += 3) {
            int s = rgb[i + 1], o = rgb[i + 2], r = rgb[i];
            int a = 255 - std::clamp((2 * s - o - r) / 2, 0, 255);
            lo = std::min(lo, a);
            hi = std::max(hi, a);
        }
        const auto table = reference::LevelTable(p.ForceBlack, p.ForceWhite, p.Gamma, p.DynamicRange != 0, lo, hi);
        reference::WorkerResult want = reference::RunWorker(MatteSettingsOf(p), table.data(), rgb, w, h, 0, 0, w, h);
        std::vector<uint8_t> out = image;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint8_t* px = &out[((size_t(y) + top) * host_.width() + x + left) * 4];
                size_t i = size_t(y) * w + x;
                for (int k = 0; k < 3; ++k) px[k] = want.foreground[3 * i + k];
                px[3] = want.final[i];
            }
        return out;
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
    for (int i = 0; i < 6; ++i) {
        const Rect& r = host_.advanceRequests[6 + i].outRect;
        EXPECT_TRUE(r.top == want[i].top && r.left == want[i].left && r.bottom == want[i].bottom &&
                    r.right == want[i].right)
            << "tile " << i;
    }
    auto progress = host_.progressCalls();
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back().total, 70 + 130 + 70 + 70);
    EXPECT_EQ(host_.record().inRect.right, 0);
    EXPECT_EQ(host_.record().outRect.right, 0);
    EXPECT_EQ(host_.selectors.back(), filterSelectorFinish);
}

TEST_F(RunTest, ASelectionAwayFromTheOriginLeavesTheRestAsItWas) {
    host_.SetFilterRect(20, 10, 110, 60);
    host_.SetFilterCase(filterCaseEditableTransparencyWithSelection);
    Settle();
    std::vector<uint8_t> expected = Expected(20, 10, 110, 60);
    EXPECT_EQ(host_.RunFilter(false), 0);
    EXPECT_EQ(host_.image(), expected);
}

// Areas that reach the far end of the host's 16-bit coordinates: the tile
// walk must stop at the area's edge rather than wrap past 32767.
struct FarEdgeCase {
    const char* name;
    int imageWidth, imageHeight;
    int left, top, right, bottom;
};

class RunFarEdgeTest : public RunTest, public ::testing::WithParamInterface<FarEdgeCase> {};

TEST_P(RunFarEdgeTest, EveryTileLiesInTheAreaAndTheWholeAreaIsKeyed) {
    const FarEdgeCase& c = GetParam();
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
    Areas, RunFarEdgeTest,
    ::testing::Values(FarEdgeCase{"wide32704", 32704, 2, 0, 0, 32704, 2},
                      FarEdgeCase{"wide32705", 32705, 2, 0, 0, 32705, 2},
                      FarEdgeCase{"wide32767", 32767, 4, 0, 0, 32767, 4},
                      FarEdgeCase{"columnAt32704", 32767, 4, 32704, 0, 32705, 4},
                      FarEdgeCase{"columnAt32766", 32767, 3, 32766, 0, 32767, 3},
                      FarEdgeCase{"tall32704", 2, 32704, 0, 0, 2, 32704},
                      FarEdgeCase{"tall32705", 2, 32705, 0, 0, 2, 32705},
                      FarEdgeCase{"tall32767", 4, 32767, 0, 0, 4, 32767},
                      FarEdgeCase{"rowAt32704", 4, 32767, 0, 32704, 4, 32705},
                      FarEdgeCase{"cornerAt32767", 70, 32767, 3, 32700, 70, 32767}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RunTest, AbortAtTheFirstTileWritesNothingAndKeepsTheBuffersForFinish) {
    Settle();
    std::vector<uint8_t> before = host_.image();
    host_.abortAtCall = 0;
    host_.Call(filterSelectorPrepare);
    EXPECT_EQ(host_.Call(filterSelectorStart), 1);
    EXPECT_EQ(host_.image(), before);
    EXPECT_NE(StoredState(host_)->sourceImage, nullptr);
    EXPECT_EQ(host_.Call(filterSelectorFinish), 0);
    EXPECT_EQ(StoredState(host_)->sourceImage, nullptr);
}

struct FailCase {
    const char* name;
    int failAt;  // advanceState call that fails: capture 0..5, output 6..11
    int16_t code;
};

class RunHostFailureTest : public RunTest, public ::testing::WithParamInterface<FailCase> {};

TEST_P(RunHostFailureTest, TheHostsCodeIsTheResult) {
    Settle();
    host_.failAtCall = GetParam().failAt;
    host_.failResult = GetParam().code;
    EXPECT_EQ(host_.RunFilter(false), GetParam().code);
    EXPECT_EQ(host_.record().inRect.right, 0);
}

INSTANTIATE_TEST_SUITE_P(Calls, RunHostFailureTest,
                         ::testing::Values(FailCase{"firstCaptureTile", 0, -128}, FailCase{"lastCaptureTile", 5, -108},
                                           FailCase{"firstOutputTile", 6, -128}, FailCase{"lastOutputTile", 11, -1}),
                         [](const auto& info) { return std::string(info.param.name); });

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

TEST_F(RunTest, TheDialogPathEndsAsACancelledDialogAndTheRepeatedRunThenWorks) {
    host_.Call(filterSelectorParameters);  // arms the dialog
    std::vector<uint8_t> before = host_.image();
    EXPECT_EQ(host_.RunFilter(false), 1);
    EXPECT_EQ(host_.image(), before);
    EXPECT_EQ(GetParameters(&host_.record())->ShowDialog, 0);
    EXPECT_EQ(StoredState(host_)->sourceImage, nullptr);
    GetParameters(&host_.record())->ScreenColor = 1;
    std::vector<uint8_t> expected = Expected(0, 0, 130, 70);
    EXPECT_EQ(host_.RunFilter(false), 0);
    EXPECT_EQ(host_.image(), expected);
}

TEST_F(RunTest, AStartWithoutAParametersSelectorGetsTheDefaults) {
    host_.Call(filterSelectorPrepare);
    host_.Call(filterSelectorStart);
    ASSERT_NE(GetParameters(&host_.record()), nullptr);
    host_.Call(filterSelectorFinish);
}

TEST_F(RunTest, TheDebugSwitchWithoutADebuggerDoesNotStopTheHost) {
    // The switch in a user's store of its own, for this test only.
    std::string folder = (std::filesystem::temp_directory_path() / "tavrisk-run-XXXXXX").string();
    ASSERT_NE(mkdtemp(folder.data()), nullptr);
    const char* old = std::getenv("TAVRISK_USER_STORE");
    const std::optional<std::string> saved = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
    setenv("TAVRISK_USER_STORE", (folder + "/user").c_str(), 1);
    EXPECT_EQ(WriteSettingsInt(kUserSettingsKey, "debug", 1), 1);
    Settle();
    EXPECT_EQ(host_.RunFilter(false), 0);
    if (saved) setenv("TAVRISK_USER_STORE", saved->c_str(), 1);
    else unsetenv("TAVRISK_USER_STORE");
    std::filesystem::remove_all(folder);
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
