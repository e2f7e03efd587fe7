#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "host/capture.h"
#include "host/plugin_state.h"
#include "tests/support.h"

namespace tav {
namespace {

using test::PreparedRun;

std::vector<uint8_t> White(int width, int height, int planes) {
    return std::vector<uint8_t>(size_t(width) * height * planes, 255);
}

struct TileCase {
    int left, top, width, height;
    std::vector<Rect> tiles;
};

class TileWalkTest : public ::testing::TestWithParam<TileCase> {};

TEST_P(TileWalkTest, VisitsTheGridRowByRowCutAtTheEdges) {
    const TileCase& c = GetParam();
    PreparedRun run(c.left + c.width + 3, c.top + c.height + 2, 3, {});
    run.Select(c.left, c.top, c.left + c.width, c.top + c.height);
    std::vector<Rect> seen;
    FirstTile(&run.state);
    const FilterRecord& r = run.host.record();
    EXPECT_EQ(r.inLoPlane, 0);
    EXPECT_EQ(r.inHiPlane, 2);
    EXPECT_EQ(r.inputRate, kFixedOne);
    EXPECT_EQ(r.maskRate, kFixedOne);
    do {
        seen.push_back(r.inRect);
        EXPECT_EQ(std::memcmp(&r.inRect, &r.outRect, sizeof(Rect)), 0);
    } while (NextTile(&run.state));
    ASSERT_EQ(seen.size(), c.tiles.size());
    for (size_t i = 0; i < seen.size(); ++i) {
        const Rect& want = c.tiles[i];
        EXPECT_EQ(seen[i].top, want.top + c.top) << "tile " << i;
        EXPECT_EQ(seen[i].left, want.left + c.left) << "tile " << i;
        EXPECT_EQ(seen[i].bottom, want.bottom + c.top) << "tile " << i;
        EXPECT_EQ(seen[i].right, want.right + c.left) << "tile " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Areas, TileWalkTest,
    ::testing::Values(TileCase{0, 0, 64, 64, {{0, 0, 64, 64}}},
                      TileCase{0, 0, 65, 64, {{0, 0, 64, 64}, {0, 64, 64, 65}}},
                      TileCase{0, 0, 130, 70,
                               {{0, 0, 64, 64}, {0, 64, 64, 128}, {0, 128, 64, 130},
                                {64, 0, 70, 64}, {64, 64, 70, 128}, {64, 128, 70, 130}}},
                      TileCase{5, 9, 130, 70,
                               {{0, 0, 64, 64}, {0, 64, 64, 128}, {0, 128, 64, 130},
                                {64, 0, 70, 64}, {64, 64, 70, 128}, {64, 128, 70, 130}}},
                      TileCase{3, 1, 1, 1, {{0, 0, 1, 1}}}));

class CaptureTest : public ::testing::TestWithParam<int> {};  // planes

TEST_P(CaptureTest, CopiesTheSelectionAsPackedRgb) {
    const int planes = GetParam();
    const int width = 150, height = 90;
    auto pixel = [](int x, int y, int p) { return p == 3 ? 17 : (x * 7 + y * 13 + p * 101) & 255; };
    PreparedRun run(width, height, planes, test::MakeImage(width, height, planes, pixel));
    run.Select(11, 6, 140, 85);  // 129 x 79: three tile columns and two rows
    ASSERT_TRUE(CaptureImage(&run.state));
    ASSERT_NE(run.state.sourceImage, nullptr);
    ASSERT_NE(run.state.foregroundImage, nullptr);
    ASSERT_NE(run.state.rawMatte, nullptr);
    ASSERT_NE(run.state.finalMatte, nullptr);
    std::vector<uint8_t> expected;
    for (int y = 6; y < 85; ++y)
        for (int x = 11; x < 140; ++x)
            for (int p = 0; p < 3; ++p) expected.push_back(uint8_t(pixel(x, y, p)));
    std::vector<uint8_t> got(run.state.sourceImage, run.state.sourceImage + expected.size());
    EXPECT_EQ(got, expected);
    EXPECT_EQ(run.host.advanceRequests.size(), 6u);
    EXPECT_EQ(run.host.advanceRequests[0].inHiPlane, planes - 1);
}

INSTANTIATE_TEST_SUITE_P(Planes, CaptureTest, ::testing::Values(3, 4));

TEST(CaptureOnceTest, ASecondCaptureReadsNothing) {
    PreparedRun run(70, 70, 3, White(70, 70, 3));
    ASSERT_TRUE(CaptureImage(&run.state));
    size_t requests = run.host.advanceRequests.size();
    EXPECT_EQ(requests, 4u);
    uint8_t* source = run.state.sourceImage;
    ASSERT_TRUE(CaptureImage(&run.state));
    EXPECT_EQ(run.host.advanceRequests.size(), requests);
    EXPECT_EQ(run.state.sourceImage, source);
}

TEST(CaptureOnceTest, AFailedRequestLeavesTheCaptureToBeReadAgain) {
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
}

struct BoundsCase {
    const char* name;
    std::vector<std::pair<int, int>> marks;  // non-white pixels, image coordinates
    int left, top, right, bottom;           // expected, image coordinates
};

class ContentBoundsTest : public ::testing::TestWithParam<BoundsCase> {};

TEST_P(ContentBoundsTest, EncloseEveryPixelThatIsNotPureWhite) {
    const BoundsCase& c = GetParam();
    std::vector<uint8_t> image = White(120, 80, 3);
    for (auto [x, y] : c.marks) image[(size_t(y) * 120 + x) * 3 + 1] = 254;
    PreparedRun run(120, 80, 3, image);
    run.Select(10, 5, 110, 75);
    ASSERT_TRUE(CaptureImage(&run.state));
    EXPECT_EQ(run.state.contentLeft, c.left);
    EXPECT_EQ(run.state.contentTop, c.top);
    EXPECT_EQ(run.state.contentRight, c.right);
    EXPECT_EQ(run.state.contentBottom, c.bottom);
}

INSTANTIATE_TEST_SUITE_P(
    Images, ContentBoundsTest,
    ::testing::Values(BoundsCase{"single", {{37, 22}}, 37, 22, 38, 23},
                      BoundsCase{"allWhite", {}, 110, 75, 110, 75},
                      BoundsCase{"outsideSelectionIgnored", {{3, 3}, {50, 40}}, 50, 40, 51, 41},
                      BoundsCase{"corners", {{10, 5}, {109, 74}}, 10, 5, 110, 75},
                      BoundsCase{"diagonal", {{60, 10}, {20, 70}}, 20, 10, 61, 71}),
    [](const auto& info) { return std::string(info.param.name); });

struct ScreenCase {
    const char* name;
    uint8_t g1, b1, g2, b2;  // two halves of the image
    int expected;
};

class ScreenDetectionTest : public ::testing::TestWithParam<ScreenCase> {};

TEST_P(ScreenDetectionTest, GreenOnlyWhenBlueSumsLess) {
    const ScreenCase& c = GetParam();
    PreparedRun run(40, 20, 3, test::MakeImage(40, 20, 3, [&](int x, int, int p) {
                        bool first = x < 20;
                        return p == 0 ? 30 : p == 1 ? (first ? c.g1 : c.g2) : (first ? c.b1 : c.b2);
                    }));
    EXPECT_EQ(DetectScreenColor(&run.state), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Sums, ScreenDetectionTest,
    ::testing::Values(ScreenCase{"tie", 200, 100, 100, 200, 0},
                      ScreenCase{"green", 250, 10, 240, 20, 1},
                      ScreenCase{"blue", 10, 250, 20, 240, 0},
                      ScreenCase{"greenByOne", 101, 100, 100, 100, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ScreenDetectionLargeTest, SumsBeyondThirtyTwoBitsStillDecide) {
    // 4200 x 4200 pixels of green 255 / blue 240: the green sum passes 2^32,
    // the blue one does not. Wrapped 32-bit sums would call this screen blue.
    const int side = 4200;
    std::vector<uint8_t> image(size_t(side) * side * 3);
    for (size_t i = 0; i < image.size(); i += 3) {
        image[i] = 0;
        image[i + 1] = 255;
        image[i + 2] = 240;
    }
    PreparedRun run(side, side, 3, std::move(image));
    EXPECT_EQ(DetectScreenColor(&run.state), 1);
}

}  // namespace
}  // namespace tav
