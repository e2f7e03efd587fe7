// The keyer's image reader: every colour type as 8-bit RGBA, and files cut or
// damaged anywhere refused with the reason.
#include <gtest/gtest.h>
#include <png.h>

#include <string>
#include <vector>

#include "tests/keyer_support.h"
#include "tools/cli/image_io.h"

namespace tav {
namespace {

using namespace test;

TEST(ImageReadTest, GreyAndGreyWithAlphaPngsBecomeRgba) {
    TempFolder folder;
    for (bool alpha : {false, true}) {
        png_image png{};
        png.version = PNG_IMAGE_VERSION;
        png.width = 3;
        png.height = 2;
        png.format = alpha ? PNG_FORMAT_GA : PNG_FORMAT_GRAY;
        const uint8_t grey[] = {0, 0, 128, 7, 255, 255, 10, 1, 20, 2, 30, 3};
        const uint8_t plain[] = {0, 128, 255, 10, 20, 30};
        std::string path = folder.Path(alpha ? "ga.png" : "g.png");
        ASSERT_TRUE(png_image_write_to_file(&png, path.c_str(), 0, alpha ? grey : plain, 0, nullptr));
        Image image = Read(path);
        ASSERT_EQ(image.rgba.size(), 24u);
        EXPECT_EQ(image.hadAlpha, alpha);
        for (int i = 0; i < 6; ++i) {
            uint8_t v = alpha ? grey[2 * i] : plain[i];
            EXPECT_EQ(image.rgba[4 * i], v);
            EXPECT_EQ(image.rgba[4 * i + 1], v);
            EXPECT_EQ(image.rgba[4 * i + 2], v);
            EXPECT_EQ(image.rgba[4 * i + 3], alpha ? grey[2 * i + 1] : 255);
        }
    }
}

// Every prefix of a good file, and the file with one byte changed at many
// places, is refused with a reason, never taken as a whole image.
TEST(DamagedImageTest, EveryCutAndEveryFlippedByteIsRefusedOrDecodedWhole) {
    for (const bool jpeg : {false, true}) {
        SCOPED_TRACE(jpeg ? "JPEG" : "PNG");
        TempFolder folder;
        const std::string path = folder.Path(jpeg ? "a.jpg" : "a.png");
        Image scene = Scene(40, 30, true);
        if (jpeg) WriteJpeg(path, scene);
        else Write(path, scene);
        const std::string file = ReadFile(path);
        const std::vector<uint8_t> bytes(file.begin(), file.end());
        Image image;
        std::string error;
        ASSERT_TRUE(cli::DecodeImage(bytes.data(), bytes.size(), {}, &image, &error)) << error;
        for (size_t length = 0; length < bytes.size(); length += 7) {
            error.clear();
            EXPECT_FALSE(cli::DecodeImage(bytes.data(), length, {}, &image, &error)) << "cut at " << length;
            EXPECT_FALSE(error.empty());
        }
        // A changed byte may still decode (a pixel of another colour); if it does,
        // the image is whole.
        for (size_t at = 2; at < bytes.size(); at += 5) {
            std::vector<uint8_t> damaged = bytes;
            damaged[at] ^= 0x5A;
            error.clear();
            if (cli::DecodeImage(damaged.data(), damaged.size(), {}, &image, &error)) {
                EXPECT_EQ(image.rgba.size(), size_t(image.width) * image.height * 4) << "byte " << at;
            } else {
                EXPECT_FALSE(error.empty()) << "byte " << at;
            }
        }
    }
}

}  // namespace
}  // namespace tav
