#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/keying.h"
#include "engine/matte_table.h"

namespace tav {
namespace {

ParameterRecord Defaults(uint8_t screen = 0) {
    ParameterRecord p;
    std::memset(&p, 0, sizeof p);
    SetParameterDefaults(&p);
    p.ScreenColor = screen;
    return p;
}

std::vector<int32_t> Identity() {
    std::vector<int32_t> t(256);
    ComputeMatteTable(t.data(), 0, 0, 0, false, 0, 255);
    return t;
}

KeyedPixel Key(const ParameterRecord& p, uint8_t r, uint8_t g, uint8_t b, bool inside = true,
               const std::vector<int32_t>& table = Identity()) {
    return KeyPixel(r, g, b, inside, PrepareCorrection(p), table.data());
}

struct RawCase {
    uint8_t r, g, b;
    bool green;
    int32_t raw;
};

class RawMatteTest : public ::testing::TestWithParam<RawCase> {};

TEST_P(RawMatteTest, ScreenKeyTruncatesTowardZeroAndClamps) {
    const RawCase& c = GetParam();
    EXPECT_EQ(RawMatteValue(c.r, c.g, c.b, c.green), c.raw);
}

INSTANTIATE_TEST_SUITE_P(
    Colours, RawMatteTest,
    ::testing::Values(RawCase{0, 0, 255, false, 0},      // pure blue screen
                      RawCase{0, 255, 0, true, 0},       // pure green screen
                      RawCase{128, 128, 128, false, 255},  // neutral grey: k = 0
                      RawCase{255, 0, 0, false, 255},    // pure red: k < 0 counts as 0
                      RawCase{0, 0, 255, true, 255},     // blue on a green screen
                      RawCase{10, 20, 31, false, 239},   // (62 - 30) / 2 = 16
                      RawCase{11, 20, 30, false, 241},   // (60 - 31) / 2 = 14 (14.5 cut)
                      RawCase{30, 21, 20, false, 255})); // (40 - 51) / 2 = -5: not screen

TEST(KeyPixelTest, PureScreenIsTransparentAndBlack) {
    KeyedPixel k = Key(Defaults(), 0, 0, 255);
    EXPECT_EQ(k.matte, 0);
    EXPECT_EQ(k.r, 0);
    EXPECT_EQ(k.g, 0);
    EXPECT_EQ(k.b, 0);
}

TEST(KeyPixelTest, BlueIsReplacedByGreenThenScaledByTheMatteRoundingUp) {
    // (100, 60, 200): k = (400 - 60 - 100) / 2 = 120, m = 135. B <- G = 60.
    // Removal 255: f = (255 * (135 - 255)) / 255 = -120; X + X * f / 255.
    KeyedPixel k = Key(Defaults(), 100, 60, 200);
    EXPECT_EQ(k.matte, 135);
    EXPECT_EQ(k.r, 100 + (100 * -120) / 255);  // 53 = ceil(100 * 135 / 255)
    EXPECT_EQ(k.g, 60 + (60 * -120) / 255);
    EXPECT_EQ(k.b, 60 + (60 * -120) / 255);
    EXPECT_EQ(k.r, 53);
}

TEST(KeyPixelTest, LightColourEqualToTheScreenRestoresTheColourExactly) {
    for (uint8_t screen : {0, 1}) {
        ParameterRecord p = Defaults(screen);
        p.BlueRemoval = 0;
        p.RestoreR = 0;
        p.RestoreG = screen ? 255 : 0;
        p.RestoreB = screen ? 0 : 255;
        for (int r = 0; r < 256; r += 17)
            for (int g = 0; g < 256; g += 15)
                for (int b = 0; b < 256; b += 13) {
                    KeyedPixel k = Key(p, uint8_t(r), uint8_t(g), uint8_t(b));
                    ASSERT_EQ(k.r, r);
                    ASSERT_EQ(k.g, g);
                    ASSERT_EQ(k.b, b);
                }
    }
}

TEST(KeyPixelTest, OutsideTheContentBoundsKeysAsTheScreenWhateverTheColour) {
    for (uint8_t screen : {0, 1}) {
        ParameterRecord p = Defaults(screen);
        p.RestoreR = 40;
        p.RestoreG = 50;
        p.RestoreB = 60;
        p.BlueRemoval = 128;
        KeyedPixel a = Key(p, 255, 255, 255, false);
        KeyedPixel b = Key(p, 0, 0, 255, false);
        KeyedPixel c = Key(p, 0, 255, 0, false);
        EXPECT_EQ(a.matte, 0);
        EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
        EXPECT_EQ(std::memcmp(&a, &c, sizeof a), 0);
        // The light colour scaled by removal: D = 255, each X = restore; f = -128.
        EXPECT_EQ(a.r, 40 + (40 * -128) / 255);
        EXPECT_EQ(a.g, 50 + (50 * -128) / 255);
        EXPECT_EQ(a.b, 60 + (60 * -128) / 255);
    }
}

TEST(KeyPixelTest, ProtectionSkipsReplacementAndRestoreForOpaqueEnoughPixels) {
    ParameterRecord p = Defaults();
    p.BlueRemoval = 0;
    p.Protection = 255;
    KeyedPixel kept = Key(p, 100, 60, 200);  // m = 135 >= 1: protected
    EXPECT_EQ(kept.b, 200);
    KeyedPixel screen = Key(p, 0, 0, 255);   // m = 0: still processed
    EXPECT_EQ(screen.b, 0);
    p.Protection = 0;
    EXPECT_EQ(Key(p, 100, 60, 200).b, 60);   // nothing protected
    p.Protection = 120;                      // protected when 120 > 255 - m, m > 135
    EXPECT_EQ(Key(p, 100, 60, 200).b, 60);
    p.Protection = 121;
    EXPECT_EQ(Key(p, 100, 60, 200).b, 200);
}

TEST(KeyPixelTest, NegativeScreenExcessLowersTheRestoredChannels) {
    // (200, 150, 100) on blue: D = 100 - 150 = -50, B <- 150;
    // restore (255, 255, 255): X + (255 * -50) / 255 = X - 50.
    ParameterRecord p = Defaults();
    p.BlueRemoval = 0;
    p.RestoreR = p.RestoreG = p.RestoreB = 255;
    KeyedPixel k = Key(p, 200, 150, 100);
    EXPECT_EQ(k.r, 150);
    EXPECT_EQ(k.g, 100);
    EXPECT_EQ(k.b, 100);
    p.RestoreR = 10;  // (10 * -50) / 255 = -1 (truncated toward zero)
    EXPECT_EQ(Key(p, 200, 150, 100).r, 199);
}

TEST(KeyPixelTest, CorrectionRadiusIsInclusive) {
    // Correction (0, 30, -40): sum -10 (on), radius^2 = 2500.
    ParameterRecord p = Defaults();
    p.CorrectionG = 30;
    p.CorrectionB = -40;
    // Colour at distance exactly 50 from pure blue: (0, 30, 215) -> 900 + 1600.
    KeyedPixel within = Key(p, 0, 30, 215);
    // Uncorrected: k = (430 - 30) / 2 = 200, a = 55 -> m = 55.
    // Corrected (0, 60, 175): k = (350 - 60) / 2 = 145, ac = 110 -> m = 55 + 110 - 128 = 37.
    EXPECT_EQ(within.matte, 37);
    KeyedPixel beyond = Key(p, 0, 31, 215);  // 961 + 1600 > 2500
    EXPECT_EQ(beyond.matte, 255 - (430 - 31) / 2);
}

TEST(KeyPixelTest, CorrectionOffsetCanRaiseAndClampsTheMatte) {
    ParameterRecord p = Defaults();
    p.CorrectionR = 255;
    p.CorrectionG = 255;  // radius^2 = 130050 covers every colour
    // Pure blue: m = 0; corrected (255, 255, 255): ac = 255 -> m = 0 + 255 - 128 = 127.
    EXPECT_EQ(Key(p, 0, 0, 255).matte, 127);
    // Grey: m = 255 + 255 - 128 clamps to 255.
    EXPECT_EQ(Key(p, 128, 128, 128).matte, 255);
    // Corrected colour that is pure screen lowers by 128.
    ParameterRecord q = Defaults();
    q.CorrectionB = 255;
    EXPECT_EQ(Key(q, 0, 0, 255).matte, 0);     // 0 + 0 - 128 clamps
    EXPECT_EQ(Key(q, 0, 0, 0).matte, 127);     // black: 255 + 0 - 128
}

TEST(KeyPixelTest, AllZeroAndCancellingCorrectionVectorsCorrectNothing) {
    ParameterRecord p = Defaults();
    EXPECT_FALSE(PrepareCorrection(p).correctionOn);
    p.CorrectionR = 10;
    p.CorrectionG = -10;
    EXPECT_FALSE(PrepareCorrection(p).correctionOn);
    EXPECT_EQ(Key(p, 0, 0, 255).matte, 0);
    p.CorrectionB = 1;
    EXPECT_TRUE(PrepareCorrection(p).correctionOn);
    EXPECT_EQ(PrepareCorrection(p).correctionRadius2, 201);
}

TEST(KeyPixelTest, EveryNonZeroScreenColourKeysGreen) {
    ParameterRecord p = Defaults(7);
    p.CorrectionG = -100;  // sum -100: on; reference pure green for every non-zero value
    KeyedPixel k = Key(p, 0, 255, 0);
    KeyedPixel g = Key(Defaults(1), 0, 255, 0);
    EXPECT_EQ(k.b, g.b);
    // Corrected (0, 155, 0): k = 155 / ... = (310 - 0 - 0) / 2 = 155, ac = 100 -> 0 + 100 - 128.
    EXPECT_EQ(k.matte, 0);
    EXPECT_EQ(Key(Defaults(7), 0, 255, 0, false).matte, 0);
}

TEST(KeyPixelTest, TheTableShapesTheMatte) {
    std::vector<int32_t> table(256);
    ComputeMatteTable(table.data(), 100, 0, 0, false, 0, 255);
    ParameterRecord p = Defaults();
    p.BlueRemoval = 0;
    // (100, 60, 200): a = 135 -> (35 * 255) / 155 = 57.
    EXPECT_EQ(Key(p, 100, 60, 200, true, table).matte, 57);
}

}  // namespace
}  // namespace tav

#include "tests/reference.h"

namespace tav {
namespace {

struct SettingsCase {
    const char* name;
    uint8_t screen;
    int32_t cr, cg, cb;
    uint8_t protection, rr, rg, rb, removal;
    int fb, fw, gamma;
};

class KeyPixelAgainstReferenceTest : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(KeyPixelAgainstReferenceTest, EveryColourMatchesThePlainArithmetic) {
    const SettingsCase& c = GetParam();
    ParameterRecord p = Defaults(c.screen);
    p.CorrectionR = c.cr;
    p.CorrectionG = c.cg;
    p.CorrectionB = c.cb;
    p.Protection = c.protection;
    p.RestoreR = c.rr;
    p.RestoreG = c.rg;
    p.RestoreB = c.rb;
    p.BlueRemoval = c.removal;
    std::vector<int32_t> table(256);
    ComputeMatteTable(table.data(), c.fb, c.fw, c.gamma, false, 0, 255);
    const KeySettings settings = PrepareCorrection(p);
    // Every colour, in steps that visit all residues of each channel.
    for (int r = 0; r < 256; r += 3)
        for (int g = 0; g < 256; ++g)
            for (int b = (r + g) % 5; b < 256; b += 5) {
                KeyedPixel k = KeyPixel(uint8_t(r), uint8_t(g), uint8_t(b), true, settings, table.data());
                reference::Keyed want = reference::KeyPixel(p, table.data(), r, g, b, true);
                ASSERT_TRUE(k.matte == want.m && k.r == want.r && k.g == want.g && k.b == want.b)
                    << "colour " << r << "," << g << "," << b << ": got " << int(k.matte) << " "
                    << int(k.r) << " " << int(k.g) << " " << int(k.b) << ", want " << int(want.m)
                    << " " << int(want.r) << " " << int(want.g) << " " << int(want.b);
            }
    KeyedPixel out = KeyPixel(1, 2, 3, false, settings, table.data());
    reference::Keyed want = reference::KeyPixel(p, table.data(), 1, 2, 3, false);
    EXPECT_TRUE(out.matte == want.m && out.r == want.r && out.g == want.g && out.b == want.b);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, KeyPixelAgainstReferenceTest,
    ::testing::Values(SettingsCase{"blueDefaults", 0, 0, 0, 0, 0, 0, 0, 0, 255, 0, 0, 0},
                      SettingsCase{"greenDefaults", 1, 0, 0, 0, 0, 0, 0, 0, 255, 0, 0, 0},
                      SettingsCase{"blueEverything", 0, 20, 40, -90, 30, 250, 240, 200, 200, 12, 30, 80},
                      SettingsCase{"greenEverything", 1, -70, 10, 35, 200, 255, 0, 90, 1, 3, 7, 255},
                      SettingsCase{"largeCorrection", 0, 255, -255, 254, 0, 0, 255, 0, 128, 0, 0, 0},
                      SettingsCase{"noRemoval", 1, 5, 5, 5, 255, 1, 1, 1, 0, 100, 100, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tav
