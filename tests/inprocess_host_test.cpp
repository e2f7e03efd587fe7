// The in-process host itself: later tests and the keyer rely on it serving
// requests the way hosts do.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "tests/support.h"
#include "hosts/inprocess/inprocess_host.h"

namespace tav::inprocess {
namespace {

// A scriptable plug-in: each selector runs the test's function.
std::function<void(int16_t, FilterRecord*, int16_t*)> g_plugin;

void FakeEntry(int16_t selector, FilterRecord* record, intptr_t*, int16_t* result) {
    if (g_plugin) g_plugin(selector, record, result);
}

class InProcessHostTest : public ::testing::Test {
protected:
    InProcessHostTest() : host_(FakeEntry) {
        host_.recording = true;
        // Pixel (x, y) = (x, y, x + y, 200 + plane index for the 4th plane).
        host_.SetImage(10, 8, 4, test::MakeImage(10, 8, 4, [](int x, int y, int p) {
                           return p == 0 ? x : p == 1 ? y : p == 2 ? x + y : 200;
                       }));
    }
    ~InProcessHostTest() override { g_plugin = nullptr; }
    InProcessHost host_;
};

// The requested planes of the requested rectangle, or at a rate N the image
// reduced N : 1: a reduced pixel is the average of its block, halves rounded
// up; a block cut by the image's edge averages the pixels it has; beyond the
// reduced image the padding rules.
TEST_F(InProcessHostTest, ServesThePlanesOfTheRectangleReducedByAveragingBlocks) {
    const struct {
        int rate, loPlane, hiPlane;
        Rect rect;
        int16_t padding;
        std::vector<uint8_t> rows;
        int16_t result;
    } cases[] = {
        // Planes 1 and 2 (y and x + y) of rows 2..3, columns 3..5.
        {1, 1, 2, Rect{2, 3, 4, 6}, plugInPadReplicate, {2, 5, 2, 6, 2, 7, 3, 6, 3, 7, 3, 8}, 0},
        // Plane 0 is x: a 2 x 2 block at x = 2k holds 2k and 2k + 1. Reduced
        // columns 3..6 are image columns 6, 8, 10 and 12; the last two lie
        // outside the 10-pixel image.
        {2, 0, 0, Rect{0, 3, 1, 7}, plugInPadReplicate, {7, 9, 9, 9}, 0},
        {2, 0, 0, Rect{0, 3, 1, 7}, 77, {7, 9, 77, 77}, 0},
        {2, 0, 0, Rect{0, 3, 1, 7}, plugInPadError, {}, -30100},
        // Plane 2 is x + y; at 3 : 1 the last column (x = 9) and row
        // (y = 6, 7) are cut: 12..15 over 3 x 2 average to 13.5, 15 and 16 to
        // 15.5; both halves go up.
        {3, 2, 2, Rect{2, 2, 3, 4}, plugInPadReplicate, {14, 16}, 0},
        // Plane 3 is 200 everywhere.
        {4, 3, 3, Rect{0, 0, 1, 3}, plugInPadReplicate, {200, 200, 200}, 0},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> rows;
        int16_t result = 0;
        g_plugin = [&](int16_t, FilterRecord* r, int16_t*) {
            r->inRect = c.rect;
            r->inLoPlane = int16_t(c.loPlane);
            r->inHiPlane = int16_t(c.hiPlane);
            r->inputRate = c.rate * kFixedOne;
            r->inputPadding = c.padding;
            result = r->advanceState();
            const size_t rowLength = size_t(c.rect.right - c.rect.left) * (c.hiPlane - c.loPlane + 1);
            for (int k = 0; result == 0 && k < c.rect.bottom - c.rect.top; ++k) {
                const auto* in = static_cast<const uint8_t*>(r->inData) + size_t(k) * r->inRowBytes;
                rows.insert(rows.end(), in, in + rowLength);
            }
        };
        host_.Call(filterSelectorStart);
        EXPECT_EQ(result, c.result) << c.rate << " " << c.padding;
        EXPECT_EQ(rows, c.rows) << c.rate << " " << c.padding;
    }
}

TEST_F(InProcessHostTest, WritesFullResolutionOutputBackButNotReducedOutput) {
    g_plugin = [&](int16_t selector, FilterRecord* r, int16_t* result) {
        if (selector != filterSelectorStart) return;
        // A reduced request first: its output must not reach the image.
        r->inRect = r->outRect = Rect{0, 0, 2, 2};
        r->outLoPlane = 0;
        r->outHiPlane = 3;
        r->inputRate = 2 * kFixedOne;
        *result = r->advanceState();
        std::memset(r->outData, 99, size_t(r->outRowBytes) * 2);
        // Then the real tile: planes 1..1 of rows 1..2, columns 2..3.
        r->inRect = r->outRect = Rect{1, 2, 3, 4};
        r->outLoPlane = r->outHiPlane = 1;
        r->inputRate = kFixedOne;
        *result = r->advanceState();
        std::memset(r->outData, 42, size_t(r->outRowBytes) * 2);
    };
    std::vector<uint8_t> before = host_.image();
    EXPECT_EQ(host_.Call(filterSelectorStart), 0);
    std::vector<uint8_t> expected = before;
    for (int y = 1; y < 3; ++y)
        for (int x = 2; x < 4; ++x) expected[(size_t(y) * 10 + x) * 4 + 1] = 42;
    EXPECT_EQ(host_.image(), expected);
}

TEST_F(InProcessHostTest, RecordsSelectorsProgressAndHonoursSkippedFinish) {
    g_plugin = [&](int16_t selector, FilterRecord* r, int16_t*) {
        if (selector == filterSelectorStart) {
            r->progressProc(1, 3);
            r->progressProc(3, 3);
            r->inRect = Rect{0, 0, 1, 1};  // asks once more
        } else if (selector == filterSelectorContinue) {
            r->inRect = Rect{};
        }
    };
    host_.quirks.skipFinish = true;
    EXPECT_EQ(host_.RunFilter(true), 0);
    EXPECT_EQ(host_.selectors, (std::vector<int16_t>{filterSelectorParameters, filterSelectorPrepare,
                                                     filterSelectorStart, filterSelectorContinue}));
    auto progress = host_.progressCalls();
    ASSERT_EQ(progress.size(), 2u);
    EXPECT_EQ(progress[1].done, 3);
    EXPECT_EQ(progress[1].total, 3);
}

TEST_F(InProcessHostTest, CapturesWhatDisplayPixelsIsAskedToDraw) {
    // A 3 x 2 interleaved RGB map; the plug-in asks for its right 2 x 2 part.
    uint8_t pixels[2][3][3] = {{{1, 2, 3}, {4, 5, 6}, {7, 8, 9}},
                               {{10, 11, 12}, {13, 14, 15}, {16, 17, 18}}};
    g_plugin = [&](int16_t, FilterRecord* r, int16_t*) {
        PSPixelMap map{};
        map.version = 1;
        map.bounds = VRect{0, 0, 2, 3};
        map.imageMode = plugInModeRGBColor;
        map.rowBytes = 9;
        map.colBytes = 3;
        map.planeBytes = 1;
        map.baseAddr = pixels;
        VRect src{0, 1, 2, 3};
        r->displayPixels(&map, &src, 5, 6, nullptr);
    };
    host_.Call(filterSelectorStart);
    ASSERT_EQ(host_.displays.size(), 1u);
    const DisplayCapture& d = host_.displays[0];
    EXPECT_EQ(std::vector<int>({d.width, d.height, d.dstRow, d.dstCol}), std::vector<int>({2, 2, 5, 6}));
    EXPECT_EQ(d.rgb, (std::vector<uint8_t>{4, 5, 6, 7, 8, 9, 13, 14, 15, 16, 17, 18}));
}

}  // namespace
}  // namespace tav::inprocess
