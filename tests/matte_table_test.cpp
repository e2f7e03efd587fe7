#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdint>
#include <random>
#include <vector>

#include "engine/matte_table.h"
#include "tests/reference.h"
#include "tests/support.h"

namespace tav {
namespace {

std::array<int32_t, 256> Table(int fb, int fw, int gamma, bool dynamic, int lo, int hi) {
    std::array<int32_t, 256> table{};
    ComputeMatteTable(table.data(), fb, fw, gamma, dynamic, lo, hi);
    return table;
}

// ---- Against the plain level table -----------------------------------------------

// Every force black and force white in steps of 15 (overlapping thresholds
// included), with no gamma and gammas at both ends, over key ranges (which
// without dynamic range are ignored) including a uniform image and none.
TEST(MatteTableTest, MatchesThePlainTableForEverySetting) {
    const struct {
        bool dynamic;
        int lo, hi;
    } ranges[] = {{false, 0, 255},  {false, 40, 200},   {true, 40, 200},
                  {true, 0, 255},   {true, 127, 129},   {true, 100, 100},
                  {true, kNoKeyRange.minimum, kNoKeyRange.maximum}};
    for (const auto& c : ranges)
        for (int fb = 0; fb < 256; fb += 15)
            for (int fw = 0; fw < 256; fw += 15)
                for (int gamma : {0, 1, 77, 128, 255})
                    ASSERT_EQ(Table(fb, fw, gamma, c.dynamic, c.lo, c.hi),
                              reference::LevelTable(fb, fw, gamma, c.dynamic, c.lo, c.hi))
                        << "force black " << fb << ", force white " << fw << ", gamma " << gamma
                        << (c.dynamic ? ", stretched over " : ", fixed, ") << c.lo << ".." << c.hi;
}

// ---- Entries worked out by hand ----------------------------------------------------

// Both the table and the tests' plain table give the value worked out by hand.
TEST(MatteTableTest, EntriesAreTheHandComputedValues) {
    const struct {
        int fb, fw, gamma;
        bool dynamic;
        int lo, hi;
        int index, entry;
    } cases[] = {
        {0, 0, 0, false, 0, 255, 77, 77},          // neutral settings: the identity
        {0, 0, 255, false, 0, 255, 128, 64},       // gamma 255 squares: (128/255)^2 * 255
        {0, 0, 1, false, 0, 255, 254, 253},        // any gamma costs the truncation
        {255, 0, 0, false, 0, 255, 255, 0},        // force black 255: all black
        {100, 155, 77, false, 0, 255, 101, 255},   // thresholds meet: no middle
        {200, 100, 0, false, 0, 255, 200, 0},      // thresholds overlap: black wins
        {10, 20, 0, false, 0, 255, 11, 1},         // (1 * 255) / 225
        {10, 20, 0, false, 0, 255, 100, 102},      // (90 * 255) / 225
        {10, 20, 100, false, 0, 255, 100, 71},
        {10, 20, 0, false, 0, 255, 235, 255},      // 255 - FW: forced
        {10, 20, 0, false, 0, 255, 234, 253},
        {0, 0, 0, true, 40, 200, 41, 1},           // stretched over the key range
        {0, 0, 0, true, 40, 200, 100, 95},
        {0, 0, 0, true, 40, 200, 40, 0},
        {0, 0, 0, true, 40, 200, 200, 255},
        {0, 0, 0, true, 100, 100, 100, 0},         // uniform image: no division by zero
        {0, 0, 0, true, 100, 100, 101, 255},
        {30, 0, 0, true, 40, 200, 50, 0},          // stretched below FB: negative level
        {30, 0, 255, true, 40, 200, 50, 0},
        {0, 0, 0, true, 255, 0, 128, 0},           // no key range measured
        {0, 0, 0, true, 255, 0, 255, 255}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "fb " << c.fb << " fw " << c.fw << " gamma " << c.gamma
                                          << (c.dynamic ? " dynamic " : " ") << c.lo << ".." << c.hi);
        EXPECT_EQ(Table(c.fb, c.fw, c.gamma, c.dynamic, c.lo, c.hi)[size_t(c.index)], c.entry) << c.index;
        EXPECT_EQ(reference::LevelTable(c.fb, c.fw, c.gamma, c.dynamic, c.lo, c.hi)[size_t(c.index)], c.entry)
            << c.index;
    }
}

// ---- The key range -------------------------------------------------------------

// From the extremes of the screen keys' numerators that a capture gathers:
// none for no pixels, raw 255 for numerators -1 and -3 (halved toward zero),
// and on random images the pixel-by-pixel range.
TEST(KeyRangeTest, FromTheScreenKeysExtremesIsTheSmallestAndLargestRawMatteValue) {
    EXPECT_EQ(KeyRangeOf(INT32_MAX, INT32_MIN).minimum, kNoKeyRange.minimum);
    EXPECT_EQ(KeyRangeOf(INT32_MAX, INT32_MIN).maximum, kNoKeyRange.maximum);
    EXPECT_EQ(KeyRangeOf(-3, -1).minimum, 255);
    std::mt19937 random(77);
    for (int trial = 0; trial < 200; ++trial) {
        const bool green = trial % 2 != 0;
        std::vector<uint8_t> rgb(size_t(1 + random() % 300) * 3);
        // Narrow channel ranges in some trials keep the extremes away from 0 and 255.
        const int spread = trial % 3 == 0 ? 40 : 256, base = trial % 3 == 0 ? 100 : 0;
        for (uint8_t& v : rgb) v = uint8_t(base + int(random() % unsigned(spread)));
        const CaptureStatistics c = test::PlainStatistics(rgb);
        const KeyRange got =
            green ? KeyRangeOf(c.leastGreenKey, c.mostGreenKey) : KeyRangeOf(c.leastBlueKey, c.mostBlueKey);
        const KeyRange want = test::PlainKeyRange(rgb, green);
        ASSERT_TRUE(got.minimum == want.minimum && got.maximum == want.maximum)
            << "trial " << trial << ": got " << got.minimum << ".." << got.maximum << ", want " << want.minimum
            << ".." << want.maximum;
    }
}

}  // namespace
}  // namespace tav
