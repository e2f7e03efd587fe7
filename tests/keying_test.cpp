#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/keying.h"
#include "tests/reference.h"

namespace tav {
namespace {

// Settings in their order: screen colour, correction R, G, B, protection,
// restore R, G, B, removal, blur, choke.
constexpr MatteSettings kBlue{0, 0, 0, 0, 0, 0, 0, 0, 255, 0, 0};
constexpr MatteSettings kGreen{1, 0, 0, 0, 0, 0, 0, 0, 255, 0, 0};

const std::array<int32_t, 256> kIdentity = reference::LevelTable(0, 0, 0, false, 0, 255);

using Pixel = std::array<int, 4>;  // matte, R, G, B

Pixel Key(const KeySettings& s, int r, int g, int b, bool inside = true, const int32_t* table = kIdentity.data()) {
    const KeyedPixel k = KeyPixel(uint8_t(r), uint8_t(g), uint8_t(b), inside, s, table);
    return {k.matte, k.r, k.g, k.b};
}

TEST(KeyingTest, RawMatteValueTruncatesTheScreenKeyTowardZeroAndClamps) {
    const struct {
        uint8_t r, g, b;
        bool green;
        int32_t raw;
    } cases[] = {{0, 0, 255, false, 0},      // pure blue screen
                 {0, 255, 0, true, 0},       // pure green screen
                 {128, 128, 128, false, 255},  // neutral grey: k = 0
                 {255, 0, 0, false, 255},    // pure red: k < 0 counts as 0
                 {0, 0, 255, true, 255},     // blue on a green screen
                 {10, 20, 31, false, 239},   // (62 - 30) / 2 = 16
                 {11, 20, 30, false, 241},   // (60 - 31) / 2 = 14 (14.5 cut)
                 {30, 21, 20, false, 255}};  // (40 - 51) / 2 = -5: not screen
    for (const auto& c : cases)
        EXPECT_EQ(RawMatteValue(c.r, c.g, c.b, c.green), c.raw) << int(c.r) << "," << int(c.g) << "," << int(c.b);
}

// ---- Pixels worked out by hand ----------------------------------------------------

struct HandCase {
    const char* name;
    MatteSettings settings;
    int forceBlack;  // of the level table
    int r, g, b;
    Pixel want;
};

class KeyPixelHandTest : public ::testing::TestWithParam<HandCase> {};

TEST_P(KeyPixelHandTest, GivesTheWorkedOutPixel) {
    const HandCase& c = GetParam();
    const auto table = reference::LevelTable(c.forceBlack, 0, 0, false, 0, 255);
    EXPECT_EQ(Key(BuildKeySettings(c.settings), c.r, c.g, c.b, true, table.data()), c.want);
}

// (100, 60, 200) on blue: k = (400 - 60 - 100) / 2 = 120, matte 135.
INSTANTIATE_TEST_SUITE_P(
    Pixels, KeyPixelHandTest,
    ::testing::Values(
        HandCase{"pureScreenIsTransparentAndBlack", kBlue, 0, 0, 0, 255, {0, 0, 0, 0}},
        // B <- G = 60; removal 255: f = (255 * (135 - 255)) / 255 = -120, X + (X * f) / 255,
        // which is X * 135 / 255 rounded up.
        HandCase{"blueReplacedByGreenThenScaledByTheMatte", kBlue, 0, 100, 60, 200, {135, 53, 32, 32}},
        // Protection p keeps the colour when p > 255 - matte = 120.
        HandCase{"protectedWhenOpaqueEnough", {0, 0, 0, 0, 121, 0, 0, 0, 0, 0, 0}, 0, 100, 60, 200, {135, 100, 60, 200}},
        HandCase{"notProtectedAtTheBoundary", {0, 0, 0, 0, 120, 0, 0, 0, 0, 0, 0}, 0, 100, 60, 200, {135, 100, 60, 60}},
        HandCase{"pureScreenIsNeverProtected", {0, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0}, 0, 0, 0, 255, {0, 0, 0, 0}},
        // (200, 150, 100): matte 255, D = 100 - 150 = -50, B <- 150; restore 255
        // subtracts 50, restore 10 subtracts (10 * 50) / 255 = 1 (truncated).
        HandCase{"negativeScreenExcessLowersTheRestoredChannels",
                 {0, 0, 0, 0, 0, 255, 255, 255, 0, 0, 0}, 0, 200, 150, 100, {255, 150, 100, 100}},
        HandCase{"restoreTruncatesTowardZero", {0, 0, 0, 0, 0, 10, 255, 255, 0, 0, 0}, 0, 200, 150,
                 100, {255, 199, 100, 100}},
        // Correction (0, 30, -40), radius^2 2500; (0, 30, 215) lies at exactly 50
        // from pure blue: matte 255 - 200 = 55, corrected (0, 60, 175) has raw 110,
        // 55 + 110 - 128 = 37. (0, 31, 215) lies beyond: 255 - 399 / 2 = 56.
        HandCase{"correctionRadiusIsInclusive", {0, 0, 30, -40, 0, 0, 0, 0, 0, 0, 0}, 0, 0, 30, 215,
                 {37, 0, 30, 30}},
        HandCase{"beyondTheCorrectionRadius", {0, 0, 30, -40, 0, 0, 0, 0, 0, 0, 0}, 0, 0, 31, 215,
                 {56, 0, 31, 31}},
        // Correction (255, 255, 0) covers every colour: pure blue's corrected
        // colour (255, 255, 255) has raw 255: 0 + 255 - 128; grey clamps at 255.
        HandCase{"correctionRaisesTheMatte", {0, 255, 255, 0, 0, 0, 0, 0, 0, 0, 0}, 0, 0, 0, 255,
                 {127, 0, 0, 0}},
        HandCase{"correctionClampsAt255", {0, 255, 255, 0, 0, 0, 0, 0, 0, 0, 0}, 0, 128, 128, 128,
                 {255, 128, 128, 128}},
        HandCase{"correctionClampsAt0", {0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0}, 0, 0, 0, 255, {0, 0, 0, 0}},
        HandCase{"correctionLowersBlack", {0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0}, 0, 0, 0, 0, {127, 0, 0, 0}},
        // A vector whose components add up to 0 corrects nothing: (0, 0, 245)
        // keeps matte 10; with (10, -10, 1) it is corrected to 10 + 14 - 128.
        HandCase{"cancellingCorrectionVectorIsOff", {0, 10, -10, 0, 0, 0, 0, 0, 0, 0, 0}, 0, 0, 0, 245,
                 {10, 0, 0, 0}},
        HandCase{"nearlyCancellingCorrectionVectorIsOn", {0, 10, -10, 1, 0, 0, 0, 0, 0, 0, 0},
                 0, 0, 0, 245, {0, 0, 0, 0}},
        // Any non-zero screen colour keys green: pure green is screen (on blue it
        // would be opaque and keep its colour), and the correction refers to it.
        HandCase{"everyNonZeroScreenColourKeysGreen", {7, 0, -100, 0, 0, 0, 0, 0, 255, 0, 0},
                 0, 0, 255, 0, {0, 0, 0, 0}},
        // Force black 100: (35 * 255) / 155 = 57.
        HandCase{"theTableShapesTheMatte", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 100, 100, 60, 200, {57, 100, 60, 60}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Properties over many colours -------------------------------------------------

TEST(KeyPixelTest, LightColourEqualToTheScreenRestoresTheColourExactly) {
    for (const MatteSettings& screen : {kBlue, kGreen}) {
        MatteSettings s = screen;
        s.blueRemoval = 0;
        s.restoreG = s.screenColor ? 255 : 0;
        s.restoreB = s.screenColor ? 0 : 255;
        const KeySettings prepared = BuildKeySettings(s);
        for (int r = 0; r < 256; r += 17)
            for (int g = 0; g < 256; g += 15)
                for (int b = 0; b < 256; b += 13) {
                    const Pixel k = Key(prepared, r, g, b);
                    ASSERT_EQ((Pixel{k[0], r, g, b}), k) << "screen " << s.screenColor;
                }
    }
}

TEST(KeyPixelTest, OutsideTheContentBoundsKeysAsTheScreenWhateverTheColour) {
    // Matte 0, D = 255: each channel becomes its light colour, then removal
    // 128 (f = -128) takes X + (X * -128) / 255.
    for (const MatteSettings& screen : {kBlue, kGreen}) {
        MatteSettings s = screen;
        s.restoreR = 40;
        s.restoreG = 50;
        s.restoreB = 60;
        s.blueRemoval = 128;
        for (const auto& [r, g, b] : std::array<std::array<int, 3>, 4>{{{255, 255, 255}, {0, 0, 255}, {0, 255, 0}, {1, 2, 3}}})
            EXPECT_EQ(Key(BuildKeySettings(s), r, g, b, false), (Pixel{0, 20, 25, 30})) << "screen " << s.screenColor;
    }
}

// ---- Every colour against the plain arithmetic ---------------------------------------

struct SettingsCase {
    const char* name;
    MatteSettings settings;
    int forceBlack, forceWhite, gamma;
};

class KeyPixelAgainstReferenceTest : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(KeyPixelAgainstReferenceTest, EveryColourMatchesThePlainArithmetic) {
    const SettingsCase& c = GetParam();
    const auto table = reference::LevelTable(c.forceBlack, c.forceWhite, c.gamma, false, 0, 255);
    const KeySettings prepared = BuildKeySettings(c.settings);
    auto check = [&](int r, int g, int b, bool inside) {
        const KeyedPixel k = KeyPixel(uint8_t(r), uint8_t(g), uint8_t(b), inside, prepared, table.data());
        const reference::Keyed w = reference::KeyPixel(c.settings, table.data(), r, g, b, inside);
        const Pixel got{k.matte, k.r, k.g, k.b}, want{w.m, w.r, w.g, w.b};
        if (got == want) return testing::AssertionSuccess();
        return testing::AssertionFailure() << "colour " << r << "," << g << "," << b << (inside ? "" : " outside")
                                           << ": got " << testing::PrintToString(got) << ", want "
                                           << testing::PrintToString(want);
    };
    // Every colour, in steps that visit all residues of each channel.
    std::vector<uint8_t> colours;
    for (int r = 0; r < 256; r += 3)
        for (int g = 0; g < 256; ++g)
            for (int b = (r + g) % 5; b < 256; b += 5) {
                ASSERT_TRUE(check(r, g, b, true));
                colours.insert(colours.end(), {uint8_t(r), uint8_t(g), uint8_t(b)});
            }
    EXPECT_TRUE(check(1, 2, 3, false));

    // The same colours keyed as runs of every length from 1 to 40 (the
    // vector path's groups and their tails) give the same bytes.
    const int32_t count = int32_t(colours.size() / 3);
    std::vector<uint8_t> matte(size_t(count) + 1, 0xA5), foreground(colours.size() + 3, 0xA5);
    for (int32_t x = 0, length = 1; x < count; x += length, length = length % 40 + 1)
        KeyInsideRun(&colours[3 * size_t(x)], std::min(length, count - x), prepared, table.data(), &matte[x],
                     &foreground[3 * size_t(x)]);
    EXPECT_EQ(matte[count], 0xA5) << "written past the run";
    EXPECT_EQ(foreground[3 * size_t(count)], 0xA5) << "written past the run";
    for (int32_t x = 0; x < count; ++x) {
        const uint8_t* colour = &colours[3 * size_t(x)];
        const reference::Keyed w = reference::KeyPixel(c.settings, table.data(), colour[0], colour[1], colour[2], true);
        const Pixel got{matte[x], foreground[3 * x], foreground[3 * x + 1], foreground[3 * x + 2]};
        ASSERT_EQ(got, (Pixel{w.m, w.r, w.g, w.b})) << "colour " << int(colour[0]) << "," << int(colour[1]) << ","
                                                   << int(colour[2]) << " in a run";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, KeyPixelAgainstReferenceTest,
    ::testing::Values(
        SettingsCase{"blueDefaults", kBlue, 0, 0, 0}, SettingsCase{"greenDefaults", kGreen, 0, 0, 0},
        SettingsCase{"blueEverything", {0, 20, 40, -90, 30, 250, 240, 200, 200, 0, 0}, 12, 30, 80},
        SettingsCase{"greenEverything", {1, -70, 10, 35, 200, 255, 0, 90, 1, 0, 0}, 3, 7, 255},
        SettingsCase{"largeCorrection", {0, 255, -255, 254, 0, 0, 255, 0, 128, 0, 0}, 0, 0, 0},
        SettingsCase{"cancellingCorrection", {9, 10, -10, 0, 0, 0, 0, 0, 255, 0, 0}, 0, 0, 0},
        SettingsCase{"noRemoval", {1, 5, 5, 5, 255, 1, 1, 1, 0, 0, 0}, 100, 100, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tav
