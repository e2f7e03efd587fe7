// The bundled sample and its settings file: the settings key the unevenly lit
// screen to full transparency, where the defaults leave a veil, and keep the
// subject's core solid and the translucent veil at about its own strength.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/keyer_support.h"

namespace tav::test {
namespace {

struct Coverage {
    int screenMost;           // the screen's strongest alpha (left and right margins)
    int coreLeast;            // the subject's weakest alpha inside
    int veilLeast, veilMost;  // the translucent veil's alpha
};

Coverage Measure(const Image& keyed) {
    auto alpha = [&](int x, int y) { return int(keyed.rgba[(size_t(y) * keyed.width + x) * 4 + 3]); };
    Coverage c{0, 255, 255, 0};
    for (int y = 0; y < keyed.height; ++y) {
        for (int x = 0; x < 90; ++x) c.screenMost = std::max(c.screenMost, alpha(x, y));
        for (int x = 440; x < keyed.width; ++x) c.screenMost = std::max(c.screenMost, alpha(x, y));
    }
    for (int y = 180; y < 260; ++y)
        for (int x = 180; x < 280; ++x) c.coreLeast = std::min(c.coreLeast, alpha(x, y));
    for (int y = 120; y < 300; ++y) {
        for (int x = 345; x < 425; ++x) {
            c.veilLeast = std::min(c.veilLeast, alpha(x, y));
            c.veilMost = std::max(c.veilMost, alpha(x, y));
        }
    }
    return c;
}

TEST(SampleSettingsTest, TheSettingsFileKeysTheSampleCleanly) {
    TempFolder folder;
    const std::string sample = std::string(TAVRISK_SOURCE_DIR) + "/samples/greenscreen.png";
    const std::string settings = std::string(TAVRISK_SOURCE_DIR) + "/samples/greenscreen.tvk";
    ASSERT_EQ(Keyer(folder, "key " + sample + " -o " + folder.Path("default.png") + " --quiet").status, 0);
    ASSERT_EQ(Keyer(folder, "key " + sample + " -o " + folder.Path("clean.png") + " --quiet --settings " + settings).status, 0);
    const Coverage plain = Measure(Read(folder.Path("default.png")));
    const Coverage clean = Measure(Read(folder.Path("clean.png")));
    EXPECT_GT(plain.screenMost, 8);  // the veil of the uneven screen
    EXPECT_EQ(clean.screenMost, 0);
    EXPECT_EQ(clean.coreLeast, 255);
    // The veil covers 45 % of the screen: 115 of 255.
    EXPECT_GE(clean.veilLeast, 95);
    EXPECT_LE(clean.veilMost, 135);
}

}  // namespace
}  // namespace tav::test
