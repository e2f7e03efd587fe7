#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "host/allocator.h"
#include "host/capture.h"
#include "host/parameters.h"
#include "host/plugin_state.h"
#include "output/compose.h"
#include "output/dib.h"
#include "platform/clipboard.h"
#include "platform/memory.h"
#include "tests/support.h"

namespace tav {
namespace {

using test::DibLayout;
using test::MakeDib;
using test::Cut;
using test::With;

// Output bytes the composer must leave alone keep this value.
constexpr uint8_t kUntouched = 0xA5;

// The filtered area of most tests: a selection away from the image's origin,
// 131 x 75 pixels, so three tile columns (64, 64, 3) and two tile rows (64,
// 11); 131 pixels of 3 bytes make padded picture rows.
constexpr int kImageWidth = 150, kImageHeight = 100;
constexpr int kLeft = 11, kTop = 6, kWidth = 131, kHeight = 75;

// Host image bytes. The transparency byte (the last of the pixel) runs
// through 255, 254, 0 and other values.
uint8_t InputByte(int x, int y, int plane, int planes) {
    if (planes > 3 && plane == planes - 1) {
        const int k = (x * 5 + y * 3) % 6;
        return k == 0 ? 255 : k == 1 ? 254 : k == 2 ? 0 : uint8_t(x * 13 + y * 29);
    }
    return uint8_t(x * 31 + y * 17 + plane * 71);
}
// Foreground and matte at area position (column, row); the matte takes in
// 0, 255 and everything between.
uint8_t ForegroundByte(int column, int row, int channel) {
    return uint8_t(column * 9 + row * 23 + channel * 101 + 40);
}
uint8_t MatteValue(int column, int row) {
    if ((column + row) % 5 == 0) return 0;
    if ((column * 3 + row) % 7 == 0) return 255;
    return uint8_t(column * 11 + row * 17 + 3);
}
DibColor PictureColour(int32_t column, int32_t row) {
    return {uint8_t(column * 7 + row), uint8_t(row * 3 + 50), uint8_t(column + row * 11)};
}

// Where each output byte comes from, per output method.
enum class Colour { Input, Foreground, Grey, OverPicture };
enum class Transparency { NotWritten, Input, Matte };
struct Outcome {
    Colour colour;
    Transparency transparency;
};

// The table of output methods. `picture`: the clipboard holds a usable one.
Outcome MethodOutcome(int method, bool picture) {
    switch (method) {
    case 0: return {Colour::Foreground, Transparency::Matte};
    case 1: return {Colour::Foreground, Transparency::Input};
    case 2: return {Colour::Grey, Transparency::Matte};
    case 3: return {Colour::Grey, Transparency::Input};
    case 4: return {Colour::Input, Transparency::Matte};
    case 5:
        if (picture) return {Colour::OverPicture, Transparency::NotWritten};
        return {Colour::Input, Transparency::Input};
    default: return {Colour::Input, Transparency::Input};
    }
}

// A filter record and state block made by hand, and a host that walks the
// area tile by tile as the run does.
class ComposeRig {
public:
    ComposeRig(int planes, int imageWidth, int imageHeight, int left, int top, int width,
               int height)
        : planes(planes), imageWidth(imageWidth), imageHeight(imageHeight), left(left), top(top),
          width(width), height(height), state{}, recordBlock_(2048 / sizeof(uint64_t), 0) {
        image.resize(size_t(imageWidth) * imageHeight * planes);
        for (int y = 0; y < imageHeight; ++y)
            for (int x = 0; x < imageWidth; ++x)
                for (int p = 0; p < planes; ++p) At(image, x, y)[p] = InputByte(x, y, p, planes);
        foreground.resize(size_t(width) * height * 3);
        matte.resize(size_t(width) * height);
        for (int row = 0; row < height; ++row)
            for (int column = 0; column < width; ++column) {
                const size_t i = size_t(row) * width + column;
                for (int c = 0; c < 3; ++c) foreground[3 * i + c] = ForegroundByte(column, row, c);
                matte[i] = MatteValue(column, row);
            }

        FilterRecord& r = record();
        r.planes = int16_t(planes);
        SetHostRect(&r.filterRect, left, top, left + width, top + height);
        r.imageSize = {int16_t(imageHeight), int16_t(imageWidth)};
        r.filterCase = filterCaseEditableTransparencyWithSelection;
        r.parameters = NewMacHandle(sizeof(ParameterRecord));
        state.workerHandle = kNoWorker;
        state.width = width;
        state.height = height;
        state.foregroundImage = foreground.data();
        state.finalMatte = matte.data();
        state.filterRecord = &r;
    }
    ~ComposeRig() { DisposeMacHandle(record().parameters); }

    FilterRecord& record() { return *reinterpret_cast<FilterRecord*>(recordBlock_.data()); }
    void SetMethod(int method) { GetParameters(&record())->OutputMethod = uint8_t(method); }
    void SetFilterCase(int filterCase) { record().filterCase = int16_t(filterCase); }
    bool Protected() { return record().filterCase == 6 || record().filterCase == 7; }

    uint8_t* At(std::vector<uint8_t>& pixels, int x, int y) {
        return pixels.data() + (size_t(y) * imageWidth + x) * planes;
    }

    // Composes every tile of the area and gathers the output tiles into an
    // image of the host's size whose bytes outside the area, and bytes the
    // composer did not write, are kUntouched. Each tile's buffers are exactly
    // as large as the host's rows make them, with `rowPad` spare bytes a row
    // (the output's rows then differ from the input's); the spare bytes must
    // stay as they are, and the input must not change.
    std::vector<uint8_t> ComposeAll(int rowPad) {
        std::vector<uint8_t> result(image.size(), kUntouched);
        FilterRecord& r = record();
        FirstTile(&state);
        do {
            const int columns = r.inRect.right - r.inRect.left;
            const int rows = r.inRect.bottom - r.inRect.top;
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

            ComposeTile(&state);

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
        r.inData = nullptr;
        r.outData = nullptr;
        return result;
    }

    // The host image that the table of methods asks for.
    std::vector<uint8_t> Expected(Outcome outcome) {
        std::vector<uint8_t> result(image.size(), kUntouched);
        const bool isProtected = Protected();
        for (int row = 0; row < height; ++row)
            for (int column = 0; column < width; ++column) {
                const int x = left + column, y = top + row;
                const uint8_t* in = At(image, x, y);
                uint8_t* out = At(result, x, y);
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
                        out[c] = uint8_t(background[c] +
                                         int(std::trunc((f - background[c]) * mv / 255.0)));
                        break;
                    }
                }
                if (planes <= 3) continue;
                const int last = planes - 1;
                switch (outcome.transparency) {
                case Transparency::NotWritten: break;
                case Transparency::Input: out[last] = in[last]; break;
                case Transparency::Matte:
                    out[last] = isProtected && in[last] == 255 ? 255 : uint8_t(mv);
                    break;
                }
            }
        return result;
    }

    // "" when equal, else where the first difference lies.
    std::string FirstDifference(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want) {
        for (size_t b = 0; b < want.size(); ++b)
            if (got[b] != want[b]) {
                const size_t pixel = b / planes;
                std::ostringstream where;
                where << "pixel (" << pixel % imageWidth << ", " << pixel / imageWidth << ") byte "
                      << b % planes << ": got " << int(got[b]) << ", want " << int(want[b]);
                return where.str();
            }
        return "";
    }

    const int planes, imageWidth, imageHeight, left, top, width, height;
    std::vector<uint8_t> image;
    std::vector<uint8_t> foreground;
    std::vector<uint8_t> matte;
    PluginState state;

private:
    std::vector<uint64_t> recordBlock_;  // a zero-filled FilterRecord with room to spare
};

ComposeRig StandardRig(int planes) {
    return ComposeRig(planes, kImageWidth, kImageHeight, kLeft, kTop, kWidth, kHeight);
}

// The clipboard is the process's: every test starts and ends with it closed
// and empty.
class ClipboardTest : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }
    static void Reset() {
        platform::CloseClipboard();
        platform::ClearClipboard();
    }
    static void Put(const std::vector<uint8_t>& bytes) {
        platform::SetClipboardDib(bytes.data(), bytes.size());
    }
    static bool ClipboardClosed() {
        if (!platform::OpenClipboard(0)) return false;
        platform::CloseClipboard();
        return true;
    }
};

std::vector<uint8_t> Picture(int32_t width, int32_t height, uint16_t bitCount = 24,
                             uint32_t headerSize = 40) {
    return MakeDib(DibLayout{width, height, bitCount, 0, headerSize, 0x77}, PictureColour);
}

// ---- The table of methods, without a picture ---------------------------

using MethodParam = std::tuple<int, int, int, int>;  // method, planes, filterCase, rowPad

class ComposeTileMethods : public ClipboardTest, public ::testing::WithParamInterface<MethodParam> {};

TEST_P(ComposeTileMethods, WriteWhatTheTableSays) {
    const auto [method, planes, filterCase, rowPad] = GetParam();
    ComposeRig rig = StandardRig(planes);
    rig.SetMethod(method);
    rig.SetFilterCase(filterCase);
    const std::vector<uint8_t> got = rig.ComposeAll(rowPad);
    EXPECT_EQ(rig.FirstDifference(got, rig.Expected(MethodOutcome(method, false))), "");
    EXPECT_TRUE(ClipboardClosed());
}

// Methods 6, 7 and 255 are beyond the list; 5 finds no picture. Planes 3 is
// a flat image: its buffers end with the last colour byte, so a
// transparency byte read past them is caught by AddressSanitizer, and one
// written would overwrite the next pixel's red.
INSTANTIATE_TEST_SUITE_P(
    AllMethods, ComposeTileMethods,
    ::testing::Combine(::testing::Values(0, 1, 2, 3, 4, 5, 6, 7, 255), ::testing::Values(3, 4, 5),
                       ::testing::Values(2, 5, 6, 7), ::testing::Values(0, 5)),
    [](const auto& info) {
        std::ostringstream name;
        name << "Method" << std::get<0>(info.param) << "Planes" << std::get<1>(info.param) << "Case"
             << std::get<2>(info.param) << "Pad" << std::get<3>(info.param);
        return name.str();
    });

// ---- What a method keeps -------------------------------------------------

struct KeepCase {
    std::string name;
    int method;
    bool keepsColour;
    bool keepsTransparency;
};

class ComposeTileKeeps : public ClipboardTest,
                         public ::testing::WithParamInterface<std::tuple<KeepCase, int>> {};

TEST_P(ComposeTileKeeps, TheInputBytesItDoesNotReplace) {
    const auto& [c, filterCase] = GetParam();
    ComposeRig rig = StandardRig(4);
    rig.SetMethod(c.method);
    rig.SetFilterCase(filterCase);
    std::vector<uint8_t> got = rig.ComposeAll(0);
    int colourChanged = 0, transparencyChanged = 0;
    for (int y = kTop; y < kTop + kHeight; ++y)
        for (int x = kLeft; x < kLeft + kWidth; ++x) {
            const uint8_t* in = rig.At(rig.image, x, y);
            const uint8_t* out = rig.At(got, x, y);
            colourChanged += in[0] != out[0] || in[1] != out[1] || in[2] != out[2];
            transparencyChanged += in[3] != out[3];
        }
    if (c.keepsColour) EXPECT_EQ(colourChanged, 0);
    else EXPECT_GT(colourChanged, 0);
    if (c.keepsTransparency) EXPECT_EQ(transparencyChanged, 0);
    else EXPECT_GT(transparencyChanged, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Methods, ComposeTileKeeps,
    ::testing::Combine(::testing::Values(KeepCase{"ForegroundKeepsTransparency", 1, false, true},
                                         KeepCase{"MatteOnlyKeepsTransparency", 3, false, true},
                                         KeepCase{"TransparencyOnlyKeepsColours", 4, true, false},
                                         KeepCase{"BackgroundWithoutPictureKeepsAll", 5, true, true},
                                         KeepCase{"UnknownMethodKeepsAll", 6, true, true}),
                       ::testing::Values(5, 7)),
    [](const auto& info) {
        return std::get<0>(info.param).name + "Case" + std::to_string(std::get<1>(info.param));
    });

// ---- Protected transparency ----------------------------------------------

class ComposeTileProtection : public ClipboardTest,
                              public ::testing::WithParamInterface<std::tuple<int, int>> {};

// Two pixels with transparency 255 and 254 under a matte of 100.
TEST_P(ComposeTileProtection, OpaquePixelsStayOpaqueOnlyInProtectedCases) {
    const auto [filterCase, method] = GetParam();
    ComposeRig rig(4, 2, 1, 0, 0, 2, 1);
    rig.At(rig.image, 0, 0)[3] = 255;
    rig.At(rig.image, 1, 0)[3] = 254;
    rig.matte = {100, 100};
    rig.SetMethod(method);
    rig.SetFilterCase(filterCase);
    const std::vector<uint8_t> got = rig.ComposeAll(0);
    const bool isProtected = filterCase == 6 || filterCase == 7;
    const bool fromMatte = method == 0 || method == 2 || method == 4;
    EXPECT_EQ(got[3], !fromMatte || isProtected ? 255 : 100);
    EXPECT_EQ(got[7], fromMatte ? 100 : 254);
}

INSTANTIATE_TEST_SUITE_P(CasesAndMethods, ComposeTileProtection,
                         ::testing::Combine(::testing::Range(1, 8), ::testing::Range(0, 5)),
                         [](const auto& info) {
                             return "Case" + std::to_string(std::get<0>(info.param)) + "Method" +
                                    std::to_string(std::get<1>(info.param));
                         });

// ---- The composite over the clipboard's picture ----------------------------

struct PictureCase {
    std::string name;
    uint16_t bitCount;
    bool topDown;
    uint32_t headerSize;
};

class ComposeTileOverPicture
    : public ClipboardTest,
      public ::testing::WithParamInterface<std::tuple<PictureCase, int>> {};

TEST_P(ComposeTileOverPicture, MixesForegroundAndPictureByTheMatte) {
    const auto& [c, planes] = GetParam();
    ComposeRig rig = StandardRig(planes);
    rig.SetMethod(kOutputBackground);
    Put(Picture(kWidth, c.topDown ? -kHeight : kHeight, c.bitCount, c.headerSize));
    const std::vector<uint8_t> got = rig.ComposeAll(planes == 4 ? 5 : 0);
    EXPECT_EQ(rig.FirstDifference(got, rig.Expected(MethodOutcome(kOutputBackground, true))), "");
    EXPECT_TRUE(ClipboardClosed());
}

const PictureCase kPictures[] = {
    {"Rgb24BottomUp", 24, false, 40}, {"Rgb24TopDown", 24, true, 40},
    {"Rgb32BottomUp", 32, false, 40}, {"Rgb32TopDown", 32, true, 40},
    {"Rgb24V5Header", 24, false, 124}, {"Rgb32V4HeaderTopDown", 32, true, 108},
};

INSTANTIATE_TEST_SUITE_P(Pictures, ComposeTileOverPicture,
                         ::testing::Combine(::testing::ValuesIn(kPictures), ::testing::Values(3, 4, 5)),
                         [](const auto& info) {
                             return std::get<0>(info.param).name + "Planes" +
                                    std::to_string(std::get<1>(info.param));
                         });

// Bottom-up and top-down twins, and 32-bit pictures whose fourth bytes are
// junk (two different junk values), all give the 24-bit bottom-up output.
TEST_F(ClipboardTest, ComposeTileTwinPicturesGiveTheSameOutput) {
    ComposeRig rig = StandardRig(4);
    rig.SetMethod(kOutputBackground);
    auto composeOver = [&](const DibLayout& layout) {
        Put(MakeDib(layout, PictureColour));
        return rig.ComposeAll(0);
    };
    const std::vector<uint8_t> reference = composeOver({kWidth, kHeight, 24});
    const DibLayout twins[] = {{kWidth, -kHeight, 24, 0, 40, 0x00},
                               {kWidth, kHeight, 32, 0, 40, 0x00},
                               {kWidth, kHeight, 32, 0, 40, 0xFF},
                               {kWidth, -kHeight, 32, 0, 40, 0x9E}};
    for (const DibLayout& twin : twins)
        EXPECT_EQ(rig.FirstDifference(composeOver(twin), reference), "")
            << twin.bitCount << " bits, height " << twin.height << ", filler " << int(twin.filler);
}

// With no matte the output is the picture itself: its top-left pixel lands
// on the selection's top-left pixel, not on the image's.
TEST_F(ClipboardTest, ComposeTilePutsThePictureOnTheSelection) {
    ComposeRig rig(4, 200, 120, 37, 21, kWidth, kHeight);
    std::fill(rig.matte.begin(), rig.matte.end(), 0);
    rig.SetMethod(kOutputBackground);
    Put(MakeDib(DibLayout{kWidth, kHeight, 24},
                [](int32_t column, int32_t row) { return DibColor{uint8_t(column), uint8_t(row), 7}; }));
    std::vector<uint8_t> got = rig.ComposeAll(0);
    const uint8_t* corner = rig.At(got, 37, 21);
    EXPECT_EQ(corner[0], 0);
    EXPECT_EQ(corner[1], 0);
    EXPECT_EQ(corner[2], 7);
    int misplaced = 0;
    for (int y = 21; y < 21 + kHeight; ++y)
        for (int x = 37; x < 37 + kWidth; ++x) {
            const uint8_t* p = rig.At(got, x, y);
            misplaced += p[0] != x - 37 || p[1] != y - 21 || p[2] != 7 || p[3] != kUntouched;
        }
    EXPECT_EQ(misplaced, 0);
}

struct RoundingCase {
    int foreground, background, matte, expected;
};

class ComposeTileRounding : public ClipboardTest,
                            public ::testing::WithParamInterface<RoundingCase> {};

TEST_P(ComposeTileRounding, TruncatesTowardZero) {
    const RoundingCase& c = GetParam();
    ComposeRig rig(4, 1, 1, 0, 0, 1, 1);
    rig.foreground = {uint8_t(c.foreground), uint8_t(c.foreground), uint8_t(c.foreground)};
    rig.matte = {uint8_t(c.matte)};
    rig.SetMethod(kOutputBackground);
    const auto b = uint8_t(c.background);
    Put(MakeDib(DibLayout{1, 1, 24}, [b](int32_t, int32_t) { return DibColor{b, b, b}; }));
    const std::vector<uint8_t> got = rig.ComposeAll(0);
    EXPECT_EQ(got[0], c.expected);
    EXPECT_EQ(got[1], c.expected);
    EXPECT_EQ(got[2], c.expected);
    EXPECT_EQ(got[3], kUntouched);
}

INSTANTIATE_TEST_SUITE_P(Mixes, ComposeTileRounding,
                         ::testing::Values(RoundingCase{10, 200, 100, 126},  // 200 - 74.51
                                           RoundingCase{200, 10, 100, 84},   // 10 + 74.51
                                           RoundingCase{0, 255, 1, 254}, RoundingCase{255, 0, 1, 1},
                                           RoundingCase{255, 0, 254, 254},
                                           RoundingCase{0, 255, 254, 1},
                                           RoundingCase{0, 255, 128, 127},
                                           RoundingCase{255, 0, 128, 128},
                                           RoundingCase{37, 180, 255, 37},
                                           RoundingCase{37, 180, 0, 180},
                                           RoundingCase{90, 90, 77, 90}));

// ---- Pictures the method cannot use ---------------------------------------

struct ClipboardCase {
    std::string name;
    bool present;
    std::vector<uint8_t> bytes;
    int32_t usable;
};


std::vector<ClipboardCase> ClipboardCases() {
    // Rows of 131 pixels: 393 bytes padded to 396 at 24 bits.
    const std::vector<uint8_t> good = Picture(kWidth, kHeight);
    return {
        {"Nothing", false, {}, 0},
        {"Rgb24BottomUp", true, good, 1},
        {"Rgb24TopDown", true, Picture(kWidth, -kHeight), 1},
        {"Rgb32BottomUp", true, Picture(kWidth, kHeight, 32), 1},
        {"Rgb32TopDown", true, Picture(kWidth, -kHeight, 32), 1},
        {"SixteenBits", true, Picture(kWidth, kHeight, 16), 0},
        {"EightBits", true, Picture(kWidth, kHeight, 8), 0},
        {"RunLength8", true, With(good, 16, 1), 0},
        {"Bitfields", true, With(Picture(kWidth, kHeight, 32), 16, 3), 0},
        {"OneWider", true, Picture(kWidth + 1, kHeight), 0},
        {"OneTaller", true, Picture(kWidth, kHeight + 1), 0},
        {"OneTallerTopDown", true, Picture(kWidth, -kHeight - 1), 0},
        {"OneNarrower", true, Picture(kWidth - 1, kHeight), 0},
        {"OneShorter", true, Picture(kWidth, kHeight - 1), 0},
        {"NegativeWidth", true, With(good, 4, uint32_t(-kWidth)), 0},
        {"HeightIntMin", true, With(good, 8, 0x80000000u), 0},
        {"LastPixelCutByOneByte", true, Cut(good, 3 + 1), 0},
        {"HalfThePicture", true, Cut(good, good.size() / 2), 0},
        {"HeaderOnly", true, Cut(good, good.size() - 40), 0},
        {"ShorterThanTheHeader", true, Cut(good, good.size() - 20), 0},
        {"ZeroSizeBlock", true, {}, 0},
        {"HeaderSizeHuge", true, With(good, 0, 0xFFFFFFF0u), 0},
        {"HeaderSizePastTheEnd", true, With(good, 0, uint32_t(good.size() + 1)), 0},
        {"HeaderSizeTooSmall", true, With(good, 0, 12), 0},
    };
}

std::vector<ClipboardCase> UnusableCases() {
    std::vector<ClipboardCase> cases;
    for (ClipboardCase& c : ClipboardCases())
        if (!c.usable) cases.push_back(std::move(c));
    return cases;
}

std::string CaseName(const ::testing::TestParamInfo<ClipboardCase>& info) { return info.param.name; }

class ComposeTileWithoutPicture : public ClipboardTest,
                                  public ::testing::WithParamInterface<ClipboardCase> {};

// The composer reads the picture only when it fits the area and lies wholly
// within its block; otherwise the tiles are a plain copy of the input. The
// clipboard's block is exactly the picture's size, so AddressSanitizer
// catches any read past it.
TEST_P(ComposeTileWithoutPicture, CopiesTheInput) {
    ComposeRig rig = StandardRig(4);
    rig.SetMethod(kOutputBackground);
    rig.SetFilterCase(filterCaseProtectedTransparencyWithSelection);
    if (GetParam().present) Put(GetParam().bytes);
    const std::vector<uint8_t> got = rig.ComposeAll(0);
    EXPECT_EQ(rig.FirstDifference(got, rig.Expected({Colour::Input, Transparency::Input})), "");
    EXPECT_TRUE(ClipboardClosed());
}

INSTANTIATE_TEST_SUITE_P(Unusable, ComposeTileWithoutPicture, ::testing::ValuesIn(UnusableCases()),
                         CaseName);

class ProbeClipboardImageAnswers : public ClipboardTest,
                                   public ::testing::WithParamInterface<ClipboardCase> {};

TEST_P(ProbeClipboardImageAnswers, WhetherThePictureFitsTheArea) {
    ComposeRig rig = StandardRig(3);
    if (GetParam().present) Put(GetParam().bytes);
    EXPECT_EQ(ProbeClipboardImage(&rig.state, 0), GetParam().usable);
    EXPECT_TRUE(ClipboardClosed());
    // The answer does not change the clipboard.
    EXPECT_EQ(ProbeClipboardImage(&rig.state, 0), GetParam().usable);
}

INSTANTIATE_TEST_SUITE_P(Contents, ProbeClipboardImageAnswers, ::testing::ValuesIn(ClipboardCases()),
                         CaseName);

// Someone else holds the clipboard open: the probe answers 0 and the
// composer copies the input, and neither closes the other holder's
// clipboard. Once it is free the same picture is used.
TEST_F(ClipboardTest, HeldOpenElsewhereGivesNoPicture) {
    ComposeRig rig = StandardRig(4);
    rig.SetMethod(kOutputBackground);
    Put(Picture(kWidth, -kHeight));
    ASSERT_TRUE(platform::OpenClipboard(0));
    EXPECT_EQ(ProbeClipboardImage(&rig.state, 0), 0);
    EXPECT_EQ(rig.FirstDifference(rig.ComposeAll(0), rig.Expected({Colour::Input, Transparency::Input})),
              "");
    EXPECT_FALSE(platform::OpenClipboard(0)) << "the holder's clipboard was closed";
    platform::CloseClipboard();

    EXPECT_EQ(ProbeClipboardImage(&rig.state, 0), 1);
    EXPECT_EQ(rig.FirstDifference(rig.ComposeAll(0),
                                  rig.Expected(MethodOutcome(kOutputBackground, true))),
              "");
}

// The run's picture is whatever the clipboard holds at the run, not what it
// held when the dialog probed it.
TEST_F(ClipboardTest, ComposeTileUsesThePictureOfTheMoment) {
    ComposeRig rig = StandardRig(4);
    rig.SetMethod(kOutputBackground);
    Put(Picture(kWidth, kHeight));
    ASSERT_EQ(ProbeClipboardImage(&rig.state, 0), 1);
    Put(Picture(kWidth, kHeight, 16));
    EXPECT_EQ(rig.FirstDifference(rig.ComposeAll(0), rig.Expected({Colour::Input, Transparency::Input})),
              "");
}

// Without finished results the composer has nothing to write but the input.
TEST_F(ClipboardTest, ComposeTileWithoutResultsCopiesTheInput) {
    for (int method : {0, 2, 4, 5}) {
        ComposeRig rig = StandardRig(4);
        rig.SetMethod(method);
        Put(Picture(kWidth, kHeight));
        rig.state.foregroundImage = nullptr;
        rig.state.finalMatte = nullptr;
        EXPECT_EQ(rig.FirstDifference(rig.ComposeAll(0),
                                      rig.Expected({Colour::Input, Transparency::Input})),
                  "")
            << "method " << method;
    }
}

// A tile reaching outside the filtered area (never asked by the run) is
// left unwritten rather than read from outside the working buffers.
TEST_F(ClipboardTest, ComposeTileOutsideTheAreaWritesNothing) {
    ComposeRig rig = StandardRig(4);
    rig.SetMethod(kOutputForegroundTransparency);
    FilterRecord& r = rig.record();
    std::vector<uint8_t> in(64 * 64 * 4, 1), out(64 * 64 * 4, kUntouched);
    r.inData = in.data();
    r.outData = out.data();
    r.inRowBytes = r.outRowBytes = 64 * 4;
    const Rect outside[] = {{int16_t(kTop - 1), kLeft, int16_t(kTop + 10), int16_t(kLeft + 10)},
                            {kTop, int16_t(kLeft - 1), int16_t(kTop + 10), int16_t(kLeft + 10)},
                            {kTop, kLeft, int16_t(kTop + kHeight + 1), int16_t(kLeft + 10)},
                            {kTop, int16_t(kLeft + kWidth - 10), int16_t(kTop + 10),
                             int16_t(kLeft + kWidth + 1)}};
    for (const Rect& tile : outside) {
        r.inRect = r.outRect = tile;
        ComposeTile(&rig.state);
        EXPECT_EQ(std::count(out.begin(), out.end(), kUntouched), std::ptrdiff_t(out.size()));
    }
}

// ---- The clipboard of the platform layer ----------------------------------

TEST_F(ClipboardTest, OpensForOneHolderAtATime) {
    EXPECT_TRUE(platform::OpenClipboard(0));
    EXPECT_FALSE(platform::OpenClipboard(0));
    EXPECT_FALSE(platform::OpenClipboard(1234));
    platform::CloseClipboard();
    EXPECT_TRUE(platform::OpenClipboard(1234));
    platform::CloseClipboard();
    platform::CloseClipboard();  // closing a closed clipboard does nothing
    EXPECT_TRUE(platform::OpenClipboard(0));
    platform::CloseClipboard();
}

TEST_F(ClipboardTest, GivesItsPictureOnlyWhileOpen) {
    const std::vector<uint8_t> bytes = {1, 2, 3, 4, 5, 6, 7};
    std::vector<uint8_t> source = bytes;
    Put(source);
    std::fill(source.begin(), source.end(), 0);  // the clipboard holds a copy
    EXPECT_EQ(platform::GetClipboardDib(), nullptr);
    ASSERT_TRUE(platform::OpenClipboard(0));
    platform::MemoryHandle data = platform::GetClipboardDib();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(platform::MovableSize(data), bytes.size());
    const auto* locked = static_cast<const uint8_t*>(platform::LockMovable(data));
    ASSERT_NE(locked, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(locked, locked + bytes.size()), bytes);
    EXPECT_EQ(platform::MovableFromPointer(locked), data);
    platform::UnlockMovable(platform::MovableFromPointer(locked));
    platform::CloseClipboard();
    EXPECT_EQ(platform::GetClipboardDib(), nullptr);
}

TEST_F(ClipboardTest, ChangesWaitUntilTheHolderCloses) {
    Put({9, 8, 7});
    ASSERT_TRUE(platform::OpenClipboard(0));
    platform::MemoryHandle held = platform::GetClipboardDib();
    Put({1});
    platform::ClearClipboard();
    EXPECT_EQ(platform::GetClipboardDib(), held);
    EXPECT_EQ(platform::MovableSize(held), 3u);
    platform::CloseClipboard();

    platform::ClearClipboard();
    ASSERT_TRUE(platform::OpenClipboard(0));
    EXPECT_EQ(platform::GetClipboardDib(), nullptr);
    platform::CloseClipboard();
}

TEST_F(ClipboardTest, HoldsAnEmptyBlock) {
    platform::SetClipboardDib(nullptr, 0);
    ASSERT_TRUE(platform::OpenClipboard(0));
    platform::MemoryHandle data = platform::GetClipboardDib();
    EXPECT_NE(data, nullptr);
    EXPECT_EQ(platform::MovableSize(data), 0u);
    platform::CloseClipboard();
}

TEST(ClipboardMemory, MovableSizeIsTheSizeAskedFor) {
    for (size_t size : {size_t(0), size_t(1), size_t(40), size_t(12345)}) {
        platform::MemoryHandle block = platform::AllocMovable(size, true);
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(platform::MovableSize(block), size);
        platform::FreeMovable(block);
    }
    EXPECT_EQ(platform::MovableSize(nullptr), 0u);
}

}  // namespace
}  // namespace tav
