// Reading the host's image (runtime/capture): the tiles read, the packed copy of
// the selection, its content bounds and the screen colour it shows.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "runtime/capture.h"
#include "runtime/plugin_state.h"
#include "tests/support.h"

namespace tav {
namespace {

using test::PreparedRun;

// Selections away from the origin, each read whole at full size in tiles 64
// pixels wide and the last column of tiles narrower (1 to 4 and 7 pixels:
// every pixel count a row of a tile can end with after groups of four); the
// tallest has more tiles than are ever in flight between the host's thread
// and the packing helper. The pixels' bytes are scattered over 0..255 so
// that the keys' extremes differ from tile to tile. (The walk's order and
// its far edges are the run tests'.)
TEST(CaptureTest, CopiesTheSelectionAsPackedRgb) {
    for (int planes : {3, 4}) {
        for (int width : {129, 66, 67, 68, 135}) {
            // Each key's extreme at one pixel only, in different places of a
            // group of four and of the tiles.
            auto pixel = [width](int x, int y, int p) {
                const int planted = x == 13 + width % 4 && y == 20   ? 0x00FF00
                                    : x == 70 && y == 40             ? 0x0000FF
                                    : x == 10 + width && y == 84     ? 0xFF00FF
                                    : x == 31 && y == 7              ? 0xFFFF00
                                                                     : -1;
                if (p < 3 && planted >= 0) return (planted >> (16 - 8 * p)) & 255;
                return p == 3 ? 17 : int((uint32_t(x * 7919 + y * 104729 + p * 1299709) * 2654435761u) >> 24) % 250;
            };
            const int rows = width == 135 ? 650 : 79;
            PreparedRun run(150, rows + 11, planes, test::MakeImage(150, rows + 11, planes, pixel));
            run.Select(11, 6, 11 + width, 6 + rows);
            ASSERT_TRUE(CaptureImage(&run.state));
            ASSERT_TRUE(run.state.sourceImage && run.state.foregroundImage && run.state.rawMatte &&
                        run.state.finalMatte);
            const std::vector<uint8_t> expected =
                test::MakeImage(width, rows, 3, [&](int x, int y, int p) { return pixel(x + 11, y + 6, p); });
            EXPECT_EQ(std::vector<uint8_t>(run.state.sourceImage, run.state.sourceImage + expected.size()), expected)
                << planes << " planes, " << width << " wide";
            EXPECT_EQ(run.host.advanceRequests.size(), size_t((width + 63) / 64 * ((rows + 63) / 64)));
            for (const inprocess::AdvanceRequest& request : run.host.advanceRequests) {
                EXPECT_EQ(std::memcmp(&request.inRect, &request.outRect, sizeof(Rect)), 0);
                EXPECT_TRUE(request.inLoPlane == 0 && request.inHiPlane == planes - 1 &&
                            request.inputRate == kFixedOne);
            }
            // The statistics gathered on the way, against the copy read plainly.
            const CaptureStatistics want = test::PlainStatistics(expected);
            EXPECT_EQ(std::memcmp(&run.state.captured, &want, sizeof want), 0) << planes << " planes, " << width;
        }
    }
}

TEST(CaptureTest, AFailedRequestLeavesTheCaptureToBeReadAgainOnceOnly) {
    PreparedRun run(100, 100, 3, test::MakeImage(100, 100, 3, [](int x, int, int) { return x; }));
    run.host.failAtCall = 2;
    run.host.failResult = -108;
    EXPECT_FALSE(CaptureImage(&run.state));
    EXPECT_NE(run.state.sourceImage, nullptr);  // kept for the run's end
    run.host.failAtCall = -1;
    run.host.advanceRequests.clear();
    ASSERT_TRUE(CaptureImage(&run.state));
    EXPECT_EQ(run.host.advanceRequests.size(), 4u);
    EXPECT_EQ(run.state.sourceImage[3 * (99 * 100 + 99)], 99);
    uint8_t* source = run.state.sourceImage;
    ASSERT_TRUE(CaptureImage(&run.state));  // a second capture reads nothing
    EXPECT_EQ(run.host.advanceRequests.size(), 4u);
    EXPECT_EQ(run.state.sourceImage, source);
}

TEST(CaptureTest, ContentBoundsEncloseEveryPixelOfTheSelectionThatIsNotPureWhite) {
    const struct {
        std::vector<std::pair<int, int>> marks;  // pixels that are not white, image coordinates
        int left, top, right, bottom;            // expected, image coordinates
    } cases[] = {{{{37, 22}}, 37, 22, 38, 23},
                 {{}, 110, 75, 110, 75},
                 {{{3, 3}, {50, 40}}, 50, 40, 51, 41},  // the first outside the selection
                 {{{10, 5}, {109, 74}}, 10, 5, 110, 75},
                 {{{60, 10}, {20, 70}}, 20, 10, 61, 71}};
    for (const auto& c : cases) {
        std::vector<uint8_t> image(120 * 80 * 3, 255);
        for (auto [x, y] : c.marks) image[(size_t(y) * 120 + x) * 3 + 1] = 254;
        PreparedRun run(120, 80, 3, image);
        run.Select(10, 5, 110, 75);
        ASSERT_TRUE(CaptureImage(&run.state));
        const PluginState& s = run.state;
        EXPECT_EQ(std::vector<int>({s.contentLeft, s.contentTop, s.contentRight, s.contentBottom}),
                  std::vector<int>({c.left, c.top, c.right, c.bottom}));
    }
}

// Two halves of the image with green g1, g2 and blue b1, b2. At 4200 x 4200
// pixels of green 255 / blue 240 the green sum passes 2^32, the blue one does
// not: wrapped 32-bit sums would call this screen blue.
TEST(ScreenDetectionTest, GreenOnlyWhenBlueSumsLess) {
    const struct {
        int side;
        uint8_t g1, b1, g2, b2;
        int expected;
    } cases[] = {{40, 200, 100, 100, 200, 0}, {40, 250, 10, 240, 20, 1}, {40, 10, 250, 20, 240, 0},
                 {40, 101, 100, 100, 100, 1}, {4200, 255, 240, 255, 240, 1}};
    for (const auto& c : cases) {
        PreparedRun run(c.side, c.side, 3, test::MakeImage(c.side, c.side, 3, [&](int x, int, int p) {
                            const bool left = x < c.side / 2;
                            return p == 0 ? 30 : p == 1 ? (left ? c.g1 : c.g2) : (left ? c.b1 : c.b2);
                        }));
        EXPECT_EQ(DetectScreenColor(&run.state), c.expected) << int(c.g1) << "/" << int(c.b1);
    }
}

}  // namespace
}  // namespace tav
