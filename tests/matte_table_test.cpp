#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "engine/keying.h"
#include "engine/matte_table.h"
#include "tests/reference.h"

namespace tav {
namespace {

std::array<int32_t, 256> Table(int fb, int fw, int gamma, bool dynamic, int lo, int hi) {
    std::array<int32_t, 256> table{};
    ComputeMatteTable(table.data(), fb, fw, gamma, dynamic, lo, hi);
    return table;
}

// ---- Against the plain level table -----------------------------------------------

struct RangeCase {
    const char* name;
    bool dynamic;
    int lo, hi;
};

class MatteTableAgainstReferenceTest : public ::testing::TestWithParam<RangeCase> {};

// Every force black and force white in steps of 15 (overlapping thresholds
// included), with no gamma and gammas at both ends.
TEST_P(MatteTableAgainstReferenceTest, MatchesThePlainTableForEverySetting) {
    const RangeCase& c = GetParam();
    for (int fb = 0; fb < 256; fb += 15)
        for (int fw = 0; fw < 256; fw += 15)
            for (int gamma : {0, 1, 77, 128, 255})
                ASSERT_EQ(Table(fb, fw, gamma, c.dynamic, c.lo, c.hi),
                          reference::LevelTable(fb, fw, gamma, c.dynamic, c.lo, c.hi))
                    << "force black " << fb << ", force white " << fw << ", gamma " << gamma;
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, MatteTableAgainstReferenceTest,
    ::testing::Values(RangeCase{"fixed", false, 0, 255},
                      // Without dynamic range the key range is ignored.
                      RangeCase{"fixedIgnoresTheKeyRange", false, 40, 200},
                      RangeCase{"stretched", true, 40, 200}, RangeCase{"wholeRange", true, 0, 255},
                      RangeCase{"narrow", true, 127, 129}, RangeCase{"uniformImage", true, 100, 100},
                      RangeCase{"noKeyRangeMeasured", true, kNoKeyRange.minimum, kNoKeyRange.maximum}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Entries worked out by hand ----------------------------------------------------

struct EntryCase {
    int fb, fw, gamma;
    bool dynamic;
    int lo, hi;
    int index, entry;
};

void PrintTo(const EntryCase& c, std::ostream* os) {
    *os << "fb " << c.fb << " fw " << c.fw << " gamma " << c.gamma << (c.dynamic ? " dynamic " : " ") << c.lo
        << ".." << c.hi << " [" << c.index << "]";
}

class MatteTableEntryTest : public ::testing::TestWithParam<EntryCase> {};

// Both the table and the tests' plain table give the value worked out by hand.
TEST_P(MatteTableEntryTest, MatchesTheHandComputedValue) {
    const EntryCase& c = GetParam();
    EXPECT_EQ(Table(c.fb, c.fw, c.gamma, c.dynamic, c.lo, c.hi)[size_t(c.index)], c.entry);
    EXPECT_EQ(reference::LevelTable(c.fb, c.fw, c.gamma, c.dynamic, c.lo, c.hi)[size_t(c.index)], c.entry);
}

INSTANTIATE_TEST_SUITE_P(
    Values, MatteTableEntryTest,
    ::testing::Values(
        EntryCase{0, 0, 0, false, 0, 255, 77, 77},       // neutral settings: the identity
        EntryCase{0, 0, 255, false, 0, 255, 128, 64},    // gamma 255 squares: (128/255)^2 * 255
        EntryCase{0, 0, 1, false, 0, 255, 254, 253},     // any gamma costs the truncation
        EntryCase{255, 0, 0, false, 0, 255, 255, 0},     // force black 255: all black
        EntryCase{100, 155, 77, false, 0, 255, 101, 255},  // thresholds meet: no middle
        EntryCase{200, 100, 0, false, 0, 255, 200, 0},     // thresholds overlap: black wins
        EntryCase{10, 20, 0, false, 0, 255, 11, 1},      // (1 * 255) / 225
        EntryCase{10, 20, 0, false, 0, 255, 100, 102},   // (90 * 255) / 225
        EntryCase{10, 20, 100, false, 0, 255, 100, 71},
        EntryCase{10, 20, 0, false, 0, 255, 235, 255},   // 255 - FW: forced
        EntryCase{10, 20, 0, false, 0, 255, 234, 253},
        EntryCase{0, 0, 0, true, 40, 200, 41, 1},        // stretched over the key range
        EntryCase{0, 0, 0, true, 40, 200, 100, 95},
        EntryCase{0, 0, 0, true, 40, 200, 40, 0},
        EntryCase{0, 0, 0, true, 40, 200, 200, 255},
        EntryCase{0, 0, 0, true, 100, 100, 100, 0},      // uniform image: no division by zero
        EntryCase{0, 0, 0, true, 100, 100, 101, 255},
        EntryCase{30, 0, 0, true, 40, 200, 50, 0},       // stretched below FB: negative level
        EntryCase{30, 0, 255, true, 40, 200, 50, 0},
        EntryCase{0, 0, 0, true, 255, 0, 128, 0},        // no key range measured
        EntryCase{0, 0, 0, true, 255, 0, 255, 255}));

// ---- The key range -------------------------------------------------------------

struct ScanCase {
    const char* name;
    std::vector<uint8_t> rgb;
    bool green;
    KeyRange want;
};

class KeyRangeTest : public ::testing::TestWithParam<ScanCase> {};

TEST_P(KeyRangeTest, IsTheSmallestAndLargestRawMatteValue) {
    const ScanCase& c = GetParam();
    const KeyRange got = ScanKeyRange(c.rgb.data(), int64_t(c.rgb.size() / 3), c.green);
    EXPECT_EQ(got.minimum, c.want.minimum);
    EXPECT_EQ(got.maximum, c.want.maximum);
}

INSTANTIATE_TEST_SUITE_P(
    Images, KeyRangeTest,
    ::testing::Values(
        ScanCase{"none", {}, false, kNoKeyRange},
        // (60, 60, 115): k = 55, raw 200; (0, 0, 195): raw 60.
        ScanCase{"twoColours", {60, 60, 115, 0, 0, 195, 60, 60, 115}, false, {60, 200}},
        ScanCase{"greenScreen", {0, 255, 0, 60, 115, 60}, true, {0, 200}},
        ScanCase{"blueOnGreenIsOpaque", {0, 0, 255}, true, {255, 255}},
        // 2S - O - R of -1 and -3 halve to 0 and -1 (toward zero): raw 255
        // both; 31 halves to 15: raw 240.
        ScanCase{"truncatedTowardZero", {1, 0, 0, 3, 0, 0, 1, 0, 16}, false, {240, 255}},
        ScanCase{"onePixel", {10, 20, 31}, false, {239, 239}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KeyRangeTest, RandomImagesMatchThePixelByPixelRange) {
    std::mt19937 random(77);
    for (int trial = 0; trial < 200; ++trial) {
        const bool green = trial % 2 != 0;
        const int count = 1 + int(random() % 300);
        std::vector<uint8_t> rgb(size_t(count) * 3);
        // Narrow channel ranges in some trials keep the extremes away from 0 and 255.
        const int spread = trial % 3 == 0 ? 40 : 256, base = trial % 3 == 0 ? 100 : 0;
        for (uint8_t& v : rgb) v = uint8_t(base + int(random() % unsigned(spread)));
        KeyRange want = kNoKeyRange;
        for (int i = 0; i < count; ++i) {
            const int raw = RawMatteValue(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2], green);
            want = {std::min(want.minimum, raw), std::max(want.maximum, raw)};
        }
        const KeyRange got = ScanKeyRange(rgb.data(), count, green);
        ASSERT_TRUE(got.minimum == want.minimum && got.maximum == want.maximum)
            << "trial " << trial << ": got " << got.minimum << ".." << got.maximum << ", want " << want.minimum
            << ".." << want.maximum;
    }
}

}  // namespace
}  // namespace tav
