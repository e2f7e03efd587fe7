#include <gtest/gtest.h>

#include <vector>

#include "engine/matte_table.h"
#include "host/capture.h"
#include "tests/support.h"

namespace tav {
namespace {

std::vector<int32_t> Table(int fb, int fw, int gamma, bool dynamic = false, int lo = 0, int hi = 255) {
    std::vector<int32_t> table(256);
    ComputeMatteTable(table.data(), fb, fw, gamma, dynamic, lo, hi);
    return table;
}

TEST(MatteTableTest, NeutralSettingsGiveTheIdentity) {
    std::vector<int32_t> table = Table(0, 0, 0);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(table[i], i) << i;
}

TEST(MatteTableTest, EntryZeroIsAlwaysZeroAndEntry255IsOpaqueUnlessForceBlackIsFull) {
    for (int fb = 0; fb < 256; fb += 15)
        for (int fw = 0; fw < 256; fw += 15)
            for (int gamma : {0, 128, 255}) {
                std::vector<int32_t> table = Table(fb, fw, gamma);
                ASSERT_EQ(table[0], 0) << fb << " " << fw;
                ASSERT_EQ(table[255], fb == 255 ? 0 : 255) << fb << " " << fw;
            }
}

TEST(MatteTableTest, OverlappingThresholdsLeaveNoMiddle) {
    for (auto [fb, fw] : {std::pair{100, 155}, std::pair{200, 100}, std::pair{0, 255}}) {
        std::vector<int32_t> table = Table(fb, fw, 77);
        for (int i = 0; i < 256; ++i) EXPECT_EQ(table[i], i <= fb ? 0 : 255) << fb << "/" << fw << " @" << i;
    }
    std::vector<int32_t> black = Table(255, 0, 0);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(black[i], 0);
}

struct EntryCase {
    int fb, fw, gamma;
    bool dynamic;
    int lo, hi;
    int index, entry;
};

class MatteTableEntryTest : public ::testing::TestWithParam<EntryCase> {};

TEST_P(MatteTableEntryTest, MatchesTheHandComputedValue) {
    const EntryCase& c = GetParam();
    EXPECT_EQ(Table(c.fb, c.fw, c.gamma, c.dynamic, c.lo, c.hi)[c.index], c.entry);
}

INSTANTIATE_TEST_SUITE_P(
    Values, MatteTableEntryTest,
    ::testing::Values(
        EntryCase{0, 0, 255, false, 0, 255, 128, 64},    // gamma 255 squares: (128/255)^2 * 255
        EntryCase{0, 0, 255, false, 0, 255, 1, 0},
        EntryCase{0, 0, 1, false, 0, 255, 254, 253},     // any gamma costs the truncation
        EntryCase{10, 20, 0, false, 0, 255, 11, 1},      // (1 * 255) / 225
        EntryCase{10, 20, 0, false, 0, 255, 100, 102},   // (90 * 255) / 225
        EntryCase{10, 20, 100, false, 0, 255, 100, 71},
        EntryCase{10, 20, 0, false, 0, 255, 235, 255},   // 255 - FW: forced
        EntryCase{10, 20, 0, false, 0, 255, 234, 253},
        EntryCase{0, 0, 0, true, 40, 200, 41, 1},        // stretched over the key range
        EntryCase{0, 0, 0, true, 40, 200, 100, 95},
        EntryCase{0, 0, 0, true, 40, 200, 199, 253},
        EntryCase{0, 0, 0, true, 40, 200, 40, 0},
        EntryCase{0, 0, 0, true, 40, 200, 200, 255},
        EntryCase{0, 0, 0, true, 100, 100, 100, 0},      // uniform image: no division by zero
        EntryCase{0, 0, 0, true, 100, 100, 101, 255},
        EntryCase{30, 0, 0, true, 40, 200, 50, 0},       // stretched below FB: negative level
        EntryCase{30, 0, 255, true, 40, 200, 50, 0},
        EntryCase{0, 0, 0, true, 255, 0, 128, 0}));      // no key range measured

TEST(KeyRangeTest, IsScannedOncePerRunEvenWhenDynamicRangeToggles) {
    // Raw matte values 200 (grey-blue) and 60 (blue-ish) in a blue-screen image.
    test::PreparedRun run(80, 10, 3, test::MakeImage(80, 10, 3, [](int x, int, int p) {
                              // x < 40: (60, 60, 115) -> k = 55, a = 200; else (0, 0, 195): a = 60
                              if (x < 40) return p == 2 ? 115 : 60;
                              return p == 2 ? 195 : 0;
                          }));
    ParameterRecord& p = run.parameters();
    p.DynamicRange = 1;
    BuildMatteTable(&run.state);
    EXPECT_EQ(run.state.keyRangeScanned, 1);
    EXPECT_EQ(g_keyRange.minimum, 60);
    EXPECT_EQ(g_keyRange.maximum, 200);
    EXPECT_EQ(MatteTable[60], 0);
    EXPECT_EQ(MatteTable[200], 255);
    size_t requests = run.host.advanceRequests.size();
    p.DynamicRange = 0;
    BuildMatteTable(&run.state);
    EXPECT_EQ(MatteTable[60], 60);
    p.DynamicRange = 1;
    BuildMatteTable(&run.state);
    EXPECT_EQ(run.host.advanceRequests.size(), requests);
    EXPECT_EQ(MatteTable[130], (255 * 70) / 140);
}

TEST(KeyRangeTest, AFailedCaptureLeavesTheRangeUnmeasuredAndTriesAgain) {
    test::PreparedRun run(64, 64, 3, std::vector<uint8_t>(64 * 64 * 3, 128));
    run.host.failAtCall = 0;
    run.parameters().DynamicRange = 1;
    BuildMatteTable(&run.state);
    EXPECT_EQ(run.state.keyRangeScanned, 0);
    EXPECT_EQ(g_keyRange.minimum, 255);
    EXPECT_EQ(g_keyRange.maximum, 0);
    for (int i = 0; i < 255; ++i) EXPECT_EQ(MatteTable[i], 0) << i;
    EXPECT_EQ(MatteTable[255], 255);
    run.host.failAtCall = -1;
    BuildMatteTable(&run.state);
    EXPECT_EQ(run.state.keyRangeScanned, 1);
    EXPECT_EQ(g_keyRange.minimum, 255);  // neutral grey: a = 255 everywhere
}

}  // namespace
}  // namespace tav
