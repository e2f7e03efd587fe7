// The clipboard picture reader and the composite over it. The fuzzed input
// chooses the size the picture must have, then gives the packed bitmap's
// bytes, held in a block of exactly their size so that AddressSanitizer
// catches any read past it.
// - ReadDib: a picture it accepts matches its header and has every pixel
//   inside the block, and every pixel is read; a refused one leaves the
//   result alone.
// - For small areas the same bytes go on the in-process clipboard and one
//   tile is composed with OutputMethod 5: over an accepted picture each
//   colour lies between the foreground's and the picture's (each of them
//   exactly where the matte is 255 or 0); without one the input is kept.
//   The transparency byte, the bytes between the output rows and the input
//   are never written.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "runtime/allocator.h"
#include "runtime/parameters.h"
#include "runtime/plugin_state.h"
#include "output/compose.h"
#include "runtime/clipboard_picture.h"
#include "platform/clipboard.h"
#include "platform/posix/in_process_clipboard.h"
#include "hosts/inprocess/inprocess_host.h"

namespace {

constexpr uint8_t kUntouched = 0xA5;
constexpr int kMaxArea = 64;

// Where the pixels read go, so that the reads are made.
volatile unsigned g_sink;

uint32_t Load32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

// Reads the picture and checks it against the block; true when accepted.
bool CheckReadDib(const uint8_t* block, size_t size, int32_t width, int32_t height, tav::DibPicture* picture) {
    tav::DibPicture before;
    std::memset(&before, 0x5A, sizeof before);
    std::memcpy(picture, &before, sizeof before);
    if (!tav::ReadDib(block, size, width, height, picture)) {
        FUZZ_CHECK(std::memcmp(picture, &before, sizeof before) == 0);
        return false;
    }
    FUZZ_CHECK(width > 0 && height > 0 && size >= tav::kDibInfoHeaderSize);
    const uint32_t headerSize = Load32(block);
    const int32_t dibHeight = int32_t(Load32(block + 8));
    const uint32_t bitCount = uint32_t(block[14]) | uint32_t(block[15]) << 8;
    FUZZ_CHECK(Load32(block + 16) == tav::kDibCompressionRgb);
    FUZZ_CHECK(bitCount == 24 || bitCount == 32);
    FUZZ_CHECK(int32_t(Load32(block + 4)) == width);
    FUZZ_CHECK(int64_t(dibHeight < 0 ? -int64_t(dibHeight) : dibHeight) == height);
    FUZZ_CHECK(picture->width == width && picture->height == height);
    FUZZ_CHECK(picture->bytesPerPixel == int32_t(bitCount / 8));
    FUZZ_CHECK(picture->bottomUp == (dibHeight > 0));
    FUZZ_CHECK(picture->rowBytes % 4 == 0 && picture->rowBytes >= int64_t(width) * picture->bytesPerPixel);
    FUZZ_CHECK(headerSize >= tav::kDibInfoHeaderSize && picture->bits == block + headerSize);

    // Every pixel within the bits, each stored row once.
    const uint8_t* end = block + size;
    unsigned sum = 0;
    for (int32_t row = 0; row < height; ++row) {
        const uint8_t* first = picture->Row(row);
        FUZZ_CHECK((first - picture->bits) % picture->rowBytes == 0);
        FUZZ_CHECK(row == 0 || first != picture->Row(row - 1));
        for (int32_t column = 0; column < width; ++column) {
            const uint8_t* pixel = first + int64_t(column) * picture->bytesPerPixel;
            FUZZ_CHECK(pixel >= picture->bits && pixel + picture->bytesPerPixel <= end);
            const tav::DibColor c = picture->ColorAt(column, row);
            sum += c.r + c.g + c.b;
        }
    }
    g_sink = sum;
    return true;
}

// A small deterministic sequence for the working buffers.
struct Noise {
    uint32_t state;
    uint8_t Next() {
        state = state * 1664525u + 1013904223u;
        return uint8_t(state >> 24);
    }
};

// One tile inside the area, as the run hands them over, and how its
// buffers are laid out and filled.
struct TileSetup {
    int planes, areaLeft, areaTop, tileLeft, tileTop, columns, rows, inPad, outPad;
    int16_t filterCase;
    int matteKind;  // mostly mattes at the two ends, where the mix must be exact
    uint32_t seed;
};

TileSetup ChooseTile(FuzzedDataProvider& in, int32_t width, int32_t height) {
    TileSetup t{};
    t.planes = in.ConsumeIntegralInRange(3, 5);
    t.areaLeft = in.ConsumeIntegralInRange(0, 20);
    t.areaTop = in.ConsumeIntegralInRange(0, 20);
    t.tileLeft = in.ConsumeIntegralInRange(0, width - 1);
    t.tileTop = in.ConsumeIntegralInRange(0, height - 1);
    t.columns = in.ConsumeIntegralInRange(1, width - t.tileLeft);
    t.rows = in.ConsumeIntegralInRange(1, height - t.tileTop);
    t.inPad = in.ConsumeIntegralInRange(0, 5);
    t.outPad = in.ConsumeIntegralInRange(0, 5);
    t.filterCase = int16_t(in.ConsumeIntegralInRange(1, 7));
    t.matteKind = in.ConsumeIntegralInRange(0, 3);
    t.seed = in.ConsumeIntegral<uint32_t>();
    return t;
}

void Compose(const TileSetup& t, const uint8_t* block, size_t size, int32_t width, int32_t height,
             bool accepted, const tav::DibPicture& picture) {
    const int planes = t.planes, columns = t.columns, rows = t.rows;
    const int tileLeft = t.tileLeft, tileTop = t.tileTop;
    Noise noise{t.seed};
    std::vector<uint8_t> foreground(size_t(width) * height * 3), matte(size_t(width) * height);
    for (uint8_t& b : foreground) b = noise.Next();
    for (uint8_t& m : matte) {
        const uint8_t n = noise.Next();
        m = t.matteKind == 0 ? n : n < 96 ? 0 : n < 192 ? 255 : uint8_t(t.matteKind == 1 ? n : 128);
    }
    const int inRowBytes = columns * planes + t.inPad, outRowBytes = columns * planes + t.outPad;
    std::vector<uint8_t> input(size_t(inRowBytes) * rows);
    for (uint8_t& b : input) b = noise.Next();
    const std::vector<uint8_t> inputBefore = input;
    std::vector<uint8_t> output(size_t(outRowBytes) * rows, kUntouched);

    std::vector<uint64_t> recordBlock(2048 / sizeof(uint64_t), 0);
    auto& record = *reinterpret_cast<tav::FilterRecord*>(recordBlock.data());
    record.planes = int16_t(planes);
    record.filterCase = t.filterCase;
    tav::SetHostRect(&record.filterRect, t.areaLeft, t.areaTop, t.areaLeft + width, t.areaTop + height);
    tav::SetHostRect(&record.inRect, t.areaLeft + tileLeft, t.areaTop + tileTop, t.areaLeft + tileLeft + columns,
                     t.areaTop + tileTop + rows);
    record.outRect = record.inRect;
    record.inData = input.data();
    record.inRowBytes = inRowBytes;
    record.outData = output.data();
    record.outRowBytes = outRowBytes;
    record.parameters = tav::NewMacHandle(sizeof(tav::ParameterRecord));
    FUZZ_CHECK(record.parameters != nullptr);
    tav::GetParameters(&record)->OutputMethod = tav::kOutputBackground;
    tav::PluginState state{};
    tav::ResetRunStartValues(&state);
    state.width = width;
    state.height = height;
    state.foregroundImage = foreground.data();
    state.finalMatte = matte.data();
    state.filterRecord = &record;

    tav::platform::SetClipboardDib(block, size);
    tav::ReadBackgroundPicture(&state);  // the run's copy, as large as the block
    tav::ComposeTile(&state);
    tav::FreeLargeBuffer(state.backgroundPicture);
    tav::inprocess::DisposeSystemHandle(record.parameters);

    FUZZ_CHECK(input == inputBefore);
    // The clipboard was closed again.
    FUZZ_CHECK(tav::platform::OpenClipboard(0));
    tav::platform::CloseClipboard();
    for (int k = 0; k < rows; ++k) {
        const uint8_t* in = &input[size_t(k) * inRowBytes];
        const uint8_t* out = &output[size_t(k) * outRowBytes];
        for (int b = columns * planes; b < outRowBytes; ++b) FUZZ_CHECK(out[b] == kUntouched);
        for (int x = 0; x < columns; ++x) {
            const uint8_t* i = in + x * planes;
            const uint8_t* o = out + x * planes;
            if (!accepted) {
                for (int p = 0; p < planes; ++p)
                    FUZZ_CHECK(o[p] == (p < 3 || planes == 3 || p == planes - 1 ? i[p] : kUntouched));
                continue;
            }
            const int column = tileLeft + x, row = tileTop + k;
            const size_t at = size_t(row) * width + column;
            const tav::DibColor c = picture.ColorAt(column, row);
            const uint8_t b[3] = {c.r, c.g, c.b};
            for (int p = 0; p < 3; ++p) {
                const uint8_t f = foreground[3 * at + p];
                if (matte[at] == 255) FUZZ_CHECK(o[p] == f);
                else if (matte[at] == 0) FUZZ_CHECK(o[p] == b[p]);
                else FUZZ_CHECK(o[p] >= std::min(f, b[p]) && o[p] <= std::max(f, b[p]));
            }
            for (int p = 3; p < planes; ++p) FUZZ_CHECK(o[p] == kUntouched);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    // Mostly areas small enough to compose; any size for the reader alone.
    const bool small = in.ConsumeBool();
    const int32_t width = small ? in.ConsumeIntegralInRange<int32_t>(1, kMaxArea) : in.ConsumeIntegral<int32_t>();
    const int32_t height = small ? in.ConsumeIntegralInRange<int32_t>(1, kMaxArea) : in.ConsumeIntegral<int32_t>();
    const bool composable = width >= 1 && width <= kMaxArea && height >= 1 && height <= kMaxArea;
    const TileSetup tile = composable ? ChooseTile(in, width, height) : TileSetup{};
    // The rest is the block.
    const std::vector<uint8_t> bytes = in.ConsumeRemainingBytes<uint8_t>();
    const size_t blockSize = bytes.size();
    std::unique_ptr<uint8_t[]> block(new uint8_t[blockSize]);
    std::copy(bytes.begin(), bytes.end(), block.get());

    tav::DibPicture picture;
    const bool accepted = CheckReadDib(block.get(), blockSize, width, height, &picture);
    // The composer reads the clipboard's own copy; `picture` gives the
    // expected colours.
    if (composable) Compose(tile, block.get(), blockSize, width, height, accepted, picture);
    return 0;
}
