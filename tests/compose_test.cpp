// The output composer (output/compose): every method, filter case and
// picture layout against a plain reference of the whole host image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "runtime/allocator.h"
#include "runtime/capture.h"
#include "runtime/parameters.h"
#include "runtime/plugin_state.h"
#include "output/compose.h"
#include "output/compose_ahead.h"
#include "runtime/clipboard_picture.h"
#include "platform/clipboard.h"
#include "platform/posix/in_process_clipboard.h"
#include "tests/support.h"
#include "hosts/inprocess/inprocess_host.h"

namespace tav {
namespace {

using test::Cut;
using test::DibLayout;
using test::MakeDib;

// Output bytes the composer must leave alone keep this value.
constexpr uint8_t kUntouched = 0xA5;

// The filtered area of most tests: a selection away from the image's origin,
// 131 x 75 pixels, so three tile columns (64, 64, 3) and two tile rows (64,
// 11); 131 pixels of 3 bytes make padded picture rows.
constexpr int kImageWidth = 150, kImageHeight = 100;
constexpr int kLeft = 11, kTop = 6, kWidth = 131, kHeight = 75;

// Host image bytes; the transparency byte (the last of the pixel) runs
// through 255, 254, 0 and other values. Foreground and matte at area
// position (column, row); the matte takes in 0, 255 and everything between.
uint8_t InputByte(int x, int y, int plane, int planes) {
    if (planes > 3 && plane == planes - 1) {
        const int k = (x * 5 + y * 3) % 6;
        return k == 0 ? 255 : k == 1 ? 254 : k == 2 ? 0 : uint8_t(x * 13 + y * 29);
    }
    return uint8_t(x * 31 + y * 17 + plane * 71);
}
uint8_t MatteValue(int column, int row) {
    return (column + row) % 5 == 0 ? 0 : (column * 3 + row) % 7 == 0 ? 255 : uint8_t(column * 11 + row * 17 + 3);
}
DibColor PictureColour(int32_t column, int32_t row) {
    return {uint8_t(column * 7 + row), uint8_t(row * 3 + 50), uint8_t(column + row * 11)};
}

// Where each output byte comes from.
enum class Colour { Input, Foreground, Grey, OverPicture };
enum class Transparency { NotWritten, Input, Matte };
struct Outcome {
    Colour colour;
    Transparency transparency;
};
constexpr Outcome kCopy = {Colour::Input, Transparency::Input};
constexpr Outcome kOverPicture = {Colour::OverPicture, Transparency::NotWritten};

// The table of output methods. `picture`: the clipboard holds a usable one.
Outcome MethodOutcome(int method, bool picture) {
    switch (method) {
    case 0: return {Colour::Foreground, Transparency::Matte};
    case 1: return {Colour::Foreground, Transparency::Input};
    case 2: return {Colour::Grey, Transparency::Matte};
    case 3: return {Colour::Grey, Transparency::Input};
    case 4: return {Colour::Input, Transparency::Matte};
    case 5: return picture ? kOverPicture : kCopy;
    default: return kCopy;
    }
}

// A filter record and state block made by hand, and a host that walks the
// area tile by tile as the run does.
class ComposeRig {
public:
    ComposeRig(int planes, int imageWidth, int imageHeight, int left, int top, int width, int height)
        : planes(planes), imageWidth(imageWidth), left(left), top(top), width(width), height(height), state{},
          recordBlock_(2048 / sizeof(uint64_t), 0) {
        image = test::MakeImage(imageWidth, imageHeight, planes,
                                [planes](int x, int y, int p) { return InputByte(x, y, p, planes); });
        foreground = test::MakeImage(width, height, 3, [](int c, int r, int k) { return c * 9 + r * 23 + k * 101 + 40; });
        matte = test::MakeImage(width, height, 1, [](int c, int r, int) { return MatteValue(c, r); });
        FilterRecord& r = record();
        r.planes = int16_t(planes);
        SetHostRect(&r.filterRect, left, top, left + width, top + height);
        r.imageSize = {int16_t(imageHeight), int16_t(imageWidth)};
        r.filterCase = filterCaseEditableTransparencyWithSelection;
        r.parameters = NewMacHandle(sizeof(ParameterRecord));
        ResetRunStartValues(&state);
        state.width = width;
        state.height = height;
        state.foregroundImage = foreground.data();
        state.finalMatte = matte.data();
        state.filterRecord = &r;
    }
    ~ComposeRig() {
        FreeLargeBuffer(state.backgroundPicture);
        inprocess::DisposeSystemHandle(record().parameters);
    }

    FilterRecord& record() { return *reinterpret_cast<FilterRecord*>(recordBlock_.data()); }
    void SetMethod(int method) { GetParameters(&record())->OutputMethod = uint8_t(method); }
    uint8_t* At(std::vector<uint8_t>& pixels, int x, int y) {
        return pixels.data() + (size_t(y) * imageWidth + x) * planes;
    }

    // Composes every tile of the area and gathers the output tiles into an
    // image of the host's size whose bytes outside the area, and bytes the
    // composer did not write, are kUntouched. Each tile's buffers are exactly
    // as large as the host's rows make them, with `rowPad` spare bytes a row
    // (the output's rows then differ from the input's); the spare bytes must
    // stay as they are, and the input must not change. With helpers, they
    // compose the bands ahead of the tiles where the method allows.
    std::vector<uint8_t> ComposeAll(int rowPad, const std::function<void()>& afterFirstTile = {},
                                    int32_t helpers = 0) {
        std::vector<uint8_t> result(image.size(), kUntouched);
        FilterRecord& r = record();
        // The run reads the clipboard's picture once, before its first tile.
        FreeLargeBuffer(state.backgroundPicture);
        state.backgroundPicture = nullptr;
        if (GetParameters(&r)->OutputMethod == kOutputBackground) ReadBackgroundPicture(&state);
        ComposeAhead ahead;
        if (helpers > 0) StartComposeAhead(&ahead, &state, helpers);
        FirstTile(&state);
        do {
            const int columns = r.inRect.right - r.inRect.left, rows = r.inRect.bottom - r.inRect.top;
            const int inRowBytes = columns * planes + rowPad;
            const int outRowBytes = columns * planes + (rowPad > 0 ? rowPad + 3 : 0);
            std::vector<uint8_t> in(size_t(rows) * inRowBytes, 0x3C);
            for (int k = 0; k < rows; ++k)
                std::memcpy(&in[size_t(k) * inRowBytes], At(image, r.inRect.left, r.inRect.top + k),
                            size_t(columns) * planes);
            const std::vector<uint8_t> inBefore = in;
            std::vector<uint8_t> out(size_t(rows) * outRowBytes, kUntouched);
            r.inData = in.data();
            r.inRowBytes = inRowBytes;
            r.outData = out.data();
            r.outRowBytes = outRowBytes;

            if (helpers > 0)
                ComposeTile(&state, &ahead);
            else
                ComposeTile(&state);
            if (afterFirstTile) std::exchange(const_cast<std::function<void()>&>(afterFirstTile), {})();

            EXPECT_TRUE(in == inBefore) << "the input tile changed";
            int spareWritten = 0;
            for (int k = 0; k < rows; ++k) {
                for (int b = columns * planes; b < outRowBytes; ++b)
                    spareWritten += out[size_t(k) * outRowBytes + b] != kUntouched;
                std::memcpy(At(result, r.inRect.left, r.inRect.top + k), &out[size_t(k) * outRowBytes],
                            size_t(columns) * planes);
            }
            EXPECT_EQ(spareWritten, 0) << "bytes between the output rows were written";
        } while (NextTile(&state));
        if (helpers > 0) EndComposeAhead(&ahead);
        r.inData = r.outData = nullptr;
        return result;
    }

    // The host image that the table of methods asks for.
    std::vector<uint8_t> Expected(Outcome outcome) {
        std::vector<uint8_t> result(image.size(), kUntouched);
        const bool isProtected = record().filterCase == filterCaseProtectedTransparencyNoSelection ||
                                 record().filterCase == filterCaseProtectedTransparencyWithSelection;
        for (int row = 0; row < height; ++row)
            for (int column = 0; column < width; ++column) {
                const uint8_t* in = At(image, left + column, top + row);
                uint8_t* out = At(result, left + column, top + row);
                const size_t i = size_t(row) * width + column;
                const int mv = matte[i];
                const DibColor b = PictureColour(column, row);
                const int background[3] = {b.r, b.g, b.b};
                for (int c = 0; c < 3; ++c) {
                    const int f = foreground[3 * i + c];
                    switch (outcome.colour) {
                    case Colour::Input: out[c] = in[c]; break;
                    case Colour::Foreground: out[c] = uint8_t(f); break;
                    case Colour::Grey: out[c] = uint8_t(mv); break;
                    case Colour::OverPicture:
                        out[c] = uint8_t(background[c] + int(std::trunc((f - background[c]) * mv / 255.0)));
                        break;
                    }
                }
                const int last = planes - 1;
                if (planes > 3 && outcome.transparency == Transparency::Input) out[last] = in[last];
                if (planes > 3 && outcome.transparency == Transparency::Matte)
                    out[last] = isProtected && in[last] == 255 ? 255 : uint8_t(mv);
            }
        return result;
    }

    // "" when the composed image is the one the outcome asks for, else where
    // the first difference lies.
    std::string Check(Outcome outcome, int rowPad = 0, const std::function<void()>& afterFirstTile = {},
                      int32_t helpers = 0) {
        return test::FirstDifference(ComposeAll(rowPad, afterFirstTile, helpers), Expected(outcome), imageWidth,
                                     planes);
    }

    const int planes, imageWidth, left, top, width, height;
    std::vector<uint8_t> image, foreground, matte;
    PluginState state;

private:
    std::vector<uint64_t> recordBlock_;  // a zero-filled FilterRecord with room to spare
};

ComposeRig StandardRig(int planes) { return ComposeRig(planes, kImageWidth, kImageHeight, kLeft, kTop, kWidth, kHeight); }
// Six bands of tiles, the last of 13 rows: room for several helpers.
ComposeRig TallRig(int planes) { return ComposeRig(planes, kImageWidth, 350, kLeft, kTop, kWidth, 333); }

// The clipboard is the process's: every test starts and ends with it closed
// and empty.
class ComposeTest : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }
    static void Reset() {
        platform::CloseClipboard();
        platform::ClearClipboard();
    }
    static void Put(const std::vector<uint8_t>& bytes) { platform::SetClipboardDib(bytes.data(), bytes.size()); }
    static bool ClipboardClosed() {
        if (!platform::OpenClipboard(0)) return false;
        platform::CloseClipboard();
        return true;
    }
};

std::vector<uint8_t> Picture(int32_t width, int32_t height, uint16_t bitCount = 24, uint32_t headerSize = 40,
                             uint8_t filler = 0x77) {
    return MakeDib(DibLayout{width, height, bitCount, 0, headerSize, filler}, PictureColour);
}

// ---- The table of methods, without a picture ---------------------------

using MethodParam = std::tuple<int, int, int>;  // method, planes, filterCase

class ComposeTileMethods : public ComposeTest, public ::testing::WithParamInterface<MethodParam> {};

// Methods 6, 7 and 255 are beyond the list; 5 finds no picture. Planes 3 is
// a flat image: its buffers end with the last colour byte, so a transparency
// byte read past them is caught by AddressSanitizer, and one written would
// overwrite the next pixel's red. Odd filter cases have spare bytes at the
// ends of the rows, and the output rows are longer than the input rows.
// Tile by tile, and with helpers composing bands ahead (on a taller area
// with several).
TEST_P(ComposeTileMethods, WriteWhatTheTableSays) {
    const auto [method, planes, filterCase] = GetParam();
    for (int32_t helpers : {0, 1, 3}) {
        ComposeRig rig = helpers > 1 ? TallRig(planes) : StandardRig(planes);
        rig.SetMethod(method);
        rig.record().filterCase = int16_t(filterCase);
        EXPECT_EQ(rig.Check(MethodOutcome(method, false), filterCase % 2 ? 5 : 0, {}, helpers), "")
            << helpers << " helpers";
    }
    EXPECT_TRUE(ClipboardClosed());
}

INSTANTIATE_TEST_SUITE_P(AllMethods, ComposeTileMethods,
                         ::testing::Combine(::testing::Values(0, 1, 2, 3, 4, 5, 6, 7, 255), ::testing::Values(3, 4, 5),
                                            ::testing::Range(1, 8)),
                         [](const auto& info) {
                             return "Method" + std::to_string(std::get<0>(info.param)) + "Planes" +
                                    std::to_string(std::get<1>(info.param)) + "Case" +
                                    std::to_string(std::get<2>(info.param));
                         });

// ---- The composite over the clipboard's picture ----------------------------

struct PictureCase {
    std::string name;
    std::vector<uint8_t> bytes;
    bool usable;
};

// Rows of 131 pixels: 393 bytes padded to 396 at 24 bits. The fourth bytes
// of 32-bit pixels and the row padding are junk. Which headers are usable is
// the bitmap reader's matter (dib_test): here a few it refuses show that the
// composer takes its answer, for the area's size and the block's.
std::vector<PictureCase> PictureCases() {
    const std::vector<uint8_t> good = Picture(kWidth, kHeight);
    return {
        {"Nothing", {}, false},
        {"Rgb24BottomUp", good, true},
        {"Rgb24TopDown", Picture(kWidth, -kHeight, 24, 40, 0x00), true},
        {"Rgb32BottomUp", Picture(kWidth, kHeight, 32, 40, 0xFF), true},
        {"Rgb32TopDown", Picture(kWidth, -kHeight, 32, 108, 0x9E), true},
        {"ZeroSizeBlock", {}, false},
        {"SixteenBits", Picture(kWidth, kHeight, 16), false},
        {"OneWider", Picture(kWidth + 1, kHeight), false},
        {"OneTaller", Picture(kWidth, kHeight + 1), false},
        {"LastPixelCutByOneByte", Cut(good, 3 + 1), false},
    };
}

using PictureParam = std::tuple<PictureCase, int>;  // the clipboard, planes

class ComposeTileOverPicture : public ComposeTest, public ::testing::WithParamInterface<PictureParam> {};

// The probe tells whether the picture fits the area and the composer agrees:
// it mixes foreground and picture by the matte, or, without a usable
// picture, copies the input. It reads the picture only when it lies wholly
// within its block, whose size is exactly the picture's: AddressSanitizer
// catches any read past it. Neither changes nor keeps the clipboard open.
TEST_P(ComposeTileOverPicture, MixesForegroundAndPictureByTheMatteOrCopiesTheInput) {
    const auto& [c, planes] = GetParam();
    ComposeRig rig = StandardRig(planes);
    rig.SetMethod(kOutputBackground);
    rig.record().filterCase = filterCaseProtectedTransparencyWithSelection;
    if (c.name != "Nothing") Put(c.bytes);
    EXPECT_EQ(ProbeClipboardImage(&rig.state, 0), c.usable ? 1 : 0);
    EXPECT_TRUE(ClipboardClosed());
    for (int32_t helpers : {0, 1})
        EXPECT_EQ(rig.Check(MethodOutcome(kOutputBackground, c.usable), planes == 4 ? 5 : 0, {}, helpers), "")
            << helpers << " helpers";
    EXPECT_TRUE(ClipboardClosed());
    EXPECT_EQ(ProbeClipboardImage(&rig.state, 0), c.usable ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Pictures, ComposeTileOverPicture,
                         ::testing::Combine(::testing::ValuesIn(PictureCases()), ::testing::Values(3, 4, 5)),
                         [](const auto& info) {
                             return std::get<0>(info.param).name + "Planes" + std::to_string(std::get<1>(info.param));
                         });

// Hand-worked mixes of one pixel: the picture moves towards the foreground
// by matte / 255 of the way, truncated toward zero.
TEST_F(ComposeTest, MixTruncatesTowardZero) {
    const struct {
        int foreground, background, matte, expected;
    } cases[] = {{10, 200, 100, 126} /* 200 - 74.51 */, {200, 10, 100, 84} /* 10 + 74.51 */,
                 {0, 255, 1, 254},   {255, 0, 1, 1},     {255, 0, 254, 254}, {0, 255, 254, 1},   {0, 255, 128, 127},
                 {255, 0, 128, 128}, {37, 180, 255, 37}, {37, 180, 0, 180},  {90, 90, 77, 90}};
    for (const auto& c : cases) {
        ComposeRig rig(4, 1, 1, 0, 0, 1, 1);
        rig.foreground.assign(3, uint8_t(c.foreground));
        rig.matte = {uint8_t(c.matte)};
        rig.SetMethod(kOutputBackground);
        const auto b = uint8_t(c.background);
        Put(MakeDib(DibLayout{1, 1, 24}, [b](int32_t, int32_t) { return DibColor{b, b, b}; }));
        const std::vector<uint8_t> got = rig.ComposeAll(0);
        EXPECT_EQ(got, (std::vector<uint8_t>{uint8_t(c.expected), uint8_t(c.expected), uint8_t(c.expected), kUntouched}))
            << c.foreground << " over " << c.background << " by " << c.matte;
    }
}

// Someone else holds the clipboard open: the probe answers 0 and the
// composer copies the input, and neither closes the other holder's
// clipboard. Once it is free the same picture is used.
TEST_F(ComposeTest, HeldOpenElsewhereGivesNoPicture) {
    ComposeRig rig = StandardRig(4);
    rig.SetMethod(kOutputBackground);
    Put(Picture(kWidth, -kHeight));
    ASSERT_TRUE(platform::OpenClipboard(0));
    EXPECT_EQ(ProbeClipboardImage(&rig.state, 0), 0);
    EXPECT_EQ(rig.Check(kCopy), "");
    EXPECT_FALSE(platform::OpenClipboard(0)) << "the holder's clipboard was closed";
    platform::CloseClipboard();

    EXPECT_EQ(ProbeClipboardImage(&rig.state, 0), 1);
    EXPECT_EQ(rig.Check(kOverPicture), "");
}

// The picture is read once, at the run's start: neither the one the
// clipboard held when the dialog probed it, nor one another program puts
// there after the first tile, changes any tile.
TEST_F(ComposeTest, UsesThePictureOfTheRunsStartForEveryTile) {
    ComposeRig rig = StandardRig(4);
    rig.SetMethod(kOutputBackground);
    Put(Picture(kWidth, kHeight));
    ASSERT_EQ(ProbeClipboardImage(&rig.state, 0), 1);
    Put(Picture(kWidth, kHeight, 16));
    EXPECT_EQ(rig.Check(kCopy), "");
    Put(Picture(kWidth, kHeight));
    const std::vector<uint8_t> other =
        MakeDib(DibLayout{kWidth, kHeight, 24, 0, 40, 0x77}, [](int32_t, int32_t) { return DibColor{1, 2, 3}; });
    EXPECT_EQ(rig.Check(kOverPicture, 0, [&] { Put(other); }), "");
    platform::ClearClipboard();
    EXPECT_EQ(rig.Check(kCopy, 0, [] { Put(Picture(kWidth, kHeight)); }), "");
}

TEST_F(ComposeTest, WithoutResultsCopiesTheInput) {
    for (int method : {0, 2, 4, 5}) {
        ComposeRig rig = StandardRig(4);
        rig.SetMethod(method);
        Put(Picture(kWidth, kHeight));
        rig.state.foregroundImage = nullptr;
        rig.state.finalMatte = nullptr;
        EXPECT_EQ(rig.Check(kCopy), "") << "method " << method;
    }
}

// A tile reaching outside the filtered area (never asked by the run) is
// left unwritten rather than read from outside the working buffers.
TEST_F(ComposeTest, OutsideTheAreaWritesNothing) {
    ComposeRig rig = StandardRig(4);
    rig.SetMethod(kOutputForegroundTransparency);
    FilterRecord& r = rig.record();
    std::vector<uint8_t> in(64 * 64 * 4, 1), out(64 * 64 * 4, kUntouched);
    r.inData = in.data();
    r.outData = out.data();
    r.inRowBytes = r.outRowBytes = 64 * 4;
    const int tiles[][4] = {{kLeft, kTop - 1, kLeft + 10, kTop + 10},
                            {kLeft - 1, kTop, kLeft + 10, kTop + 10},
                            {kLeft, kTop, kLeft + 10, kTop + kHeight + 1},
                            {kLeft + kWidth - 10, kTop, kLeft + kWidth + 1, kTop + 10}};
    for (const auto& tile : tiles) {  // left, top, right, bottom
        SetHostRect(&r.inRect, tile[0], tile[1], tile[2], tile[3]);
        r.outRect = r.inRect;
        ComposeTile(&rig.state);
        EXPECT_EQ(std::count(out.begin(), out.end(), kUntouched), std::ptrdiff_t(out.size()));
    }
}

}  // namespace
}  // namespace tav
