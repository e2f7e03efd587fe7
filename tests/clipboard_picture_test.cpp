// The packed-bitmap reader (runtime/clipboard_picture): every layout read at every pixel,
// and every header that lies about the block refused.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "runtime/clipboard_picture.h"
#include "tests/support.h"

namespace tav {
namespace {

using test::Cut;
using test::DibLayout;
using test::MakeDib;
using test::With;

DibColor Pattern(int32_t column, int32_t row) {
    return {uint8_t(column * 3 + row), uint8_t(row * 5 + 1), uint8_t(column ^ (row * 7))};
}

// A heap copy of exactly the picture's bytes, so that any read past its end
// is caught by AddressSanitizer; and the reader's answer for it.
struct ExactBlock {
    explicit ExactBlock(const std::vector<uint8_t>& bytes) : size(bytes.size()), data(new uint8_t[size + !size]) {
        if (size > 0) std::memcpy(data.get(), bytes.data(), size);
    }
    bool Read(int32_t width, int32_t height, DibPicture* picture) {
        return ReadDib(data.get(), size, width, height, picture);
    }
    size_t size;
    std::unique_ptr<uint8_t[]> data;
};

// 7 pixels of 3 bytes need a padded row (21 -> 24 bytes). The last stored
// row need not carry its padding; a block larger than the picture (the
// system rounds block sizes up) is read from the header's stated offset.
TEST(DibReader, ReadsEveryPixelAtItsPictureRowAndColumn) {
    const std::pair<DibLayout, int> cases[] = {  // the layout, and bytes added to (or cut from) the block
        {{7, 5, 24}, 0}, {{7, -5, 24}, 0}, {{7, 5, 32}, 0}, {{7, -5, 32}, 0},
        {{8, 3, 24}, 0},  // rows that need no padding
        {{1, 1, 24}, 0}, {{9, -1, 32}, 0}, {{6, 4, 24, 0, 108}, 0}, {{6, -4, 32, 0, 124}, 0},
        {{7, -5, 24}, -3}, {{7, 5, 24}, -3},  // the last stored row without its padding
        {{7, 5, 24}, 32}};                    // bytes past the picture
    for (const auto& [layout, trailing] : cases) {
        SCOPED_TRACE(::testing::Message() << layout.width << " x " << layout.height << " at " << layout.bitCount
                                          << " bits, header " << layout.headerSize << ", " << trailing);
        const int32_t rows = layout.height < 0 ? -layout.height : layout.height;
        std::vector<uint8_t> bytes = MakeDib(layout, Pattern);
        bytes.resize(bytes.size() + trailing, 0xEE);
        ExactBlock block(bytes);
        DibPicture picture{};
        ASSERT_TRUE(block.Read(layout.width, rows, &picture));
        EXPECT_EQ(picture.width, layout.width);
        EXPECT_EQ(picture.height, rows);
        EXPECT_EQ(picture.bytesPerPixel, layout.bitCount / 8);
        EXPECT_EQ(picture.rowBytes % 4, 0);
        for (int32_t row = 0; row < rows; ++row)
            for (int32_t column = 0; column < layout.width; ++column) {
                const DibColor want = Pattern(column, row), got = picture.ColorAt(column, row);
                ASSERT_TRUE(got.r == want.r && got.g == want.g && got.b == want.b) << column << "," << row;
            }
        // Rows outside the picture, which the reader's callers never ask for,
        // are taken as the nearest stored row rather than read from outside.
        EXPECT_EQ(picture.Row(rows), picture.Row(rows - 1));
        EXPECT_EQ(picture.Row(-1), picture.Row(0));
        EXPECT_EQ(picture.Row(INT_MIN), picture.Row(0));
        EXPECT_EQ(picture.Row(INT_MAX), picture.Row(rows - 1));
    }
}

std::vector<uint8_t> Good(int32_t width, int32_t height, uint16_t bitCount = 24) {
    return MakeDib(DibLayout{width, height, bitCount}, Pattern);
}

// Headers that lie about the block, or formats the reader does not take, are
// refused and the picture is left alone.
TEST(DibReader, RefusesMalformedBlocksAndLeavesThePictureAlone) {
    const struct {
        const char* name;
        int32_t width, height;  // the size asked for
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"SixteenBits", 7, 5, Good(7, 5, 16)},
        {"FortyEightBits", 7, 5, Good(7, 5, 48)},
        {"ZeroBits", 7, 5, With(Good(7, 5), 12, 1)},  // biPlanes 1, biBitCount 0
        {"RunLength8", 7, 5, With(Good(7, 5), 16, 1)},
        {"Bitfields", 7, 5, With(Good(7, 5, 32), 16, 3)},
        {"OneWider", 7, 5, Good(8, 5)},
        {"OneNarrower", 7, 5, Good(6, 5)},
        {"OneTaller", 7, 5, Good(7, 6)},
        {"OneShorter", 7, 5, Good(7, 4)},
        {"OneTallerTopDown", 7, 5, Good(7, -6)},
        {"NegativeWidth", 7, 5, With(Good(7, 5), 4, uint32_t(-7))},
        {"HeightIntMin", 7, 5, With(Good(7, 5), 8, 0x80000000u)},
        {"HeightIntMinAskedLargest", 7, INT_MAX, With(Good(7, 5), 8, 0x80000000u)},
        {"ZeroWidthAsked", 0, 5, With(Good(7, 5), 4, 0)},
        {"ZeroHeightAsked", 7, 0, With(Good(7, 5), 8, 0)},
        {"LastPixelCutByOneByte", 7, 5, Cut(Good(7, 5), 3 + 1)},  // padding + 1
        {"TopDownLastPixelCutByOneByte", 7, 5, Cut(Good(7, -5), 3 + 1)},
        {"LastRowMissing", 7, 5, Cut(Good(7, 5), 24)},
        {"HeaderOnly", 7, 5, Cut(Good(7, 5), 5 * 24)},
        {"ShorterThanTheHeader", 7, 5, Cut(Good(7, 5), 5 * 24 + 20)},
        {"EmptyBlock", 7, 5, {}},
        {"HeaderSizeTooSmall", 7, 5, With(Good(7, 5), 0, 12)},
        {"HeaderSizeZero", 7, 5, With(Good(7, 5), 0, 0)},
        {"HeaderSizePastTheEnd", 7, 5, With(Good(7, 5), 0, 40 + 5 * 24 + 1)},
        {"HeaderSizeLeavesTooFewRows", 7, 5, With(Good(7, 5), 0, 44)},
        {"HeaderSizeHuge", 7, 5, With(Good(7, 5), 0, 0xFFFFFFF0u)},
        {"HeaderSizeAllOnes", 7, 5, With(Good(7, 5), 0, 0xFFFFFFFFu)},
        // Sizes whose products would wrap in 32 bits: rows of 8 GiB, and
        // two thousand million rows, against a block of a few bytes.
        {"WidthBeyondTheBlock", INT_MAX, 5, With(Good(7, 5, 32), 4, uint32_t(INT_MAX))},
        {"HeightBeyondTheBlock", 7, INT_MAX, With(Good(7, 5), 8, uint32_t(INT_MAX))},
        {"BothBeyondTheBlock", INT_MAX, INT_MAX,
         With(With(Good(7, 5, 32), 4, uint32_t(INT_MAX)), 8, uint32_t(INT_MAX))}};
    for (const auto& c : cases) {
        ExactBlock block(c.bytes);
        DibPicture picture{};
        picture.width = -7;  // a value the reader would never leave there
        EXPECT_FALSE(block.Read(c.width, c.height, &picture)) << c.name;
        EXPECT_EQ(picture.width, -7) << c.name;
        EXPECT_EQ(picture.bits, nullptr) << c.name;
    }
    DibPicture picture{};
    EXPECT_FALSE(ReadDib(nullptr, 1000, 7, 5, &picture));
}

}  // namespace
}  // namespace tav
