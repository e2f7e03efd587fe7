// The keyer's image reader: files cut or damaged anywhere refused with the
// reason. (Every colour type as 8-bit RGBA is png_io_test's.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/keyer_support.h"
#include "tools/cli/image_io.h"

namespace tav {
namespace {

using namespace test;

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
