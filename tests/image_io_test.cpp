// The keyer's image reader and PNG writer: every kind of PNG file libpng
// writes reads as libpng's simplified reader delivers it in 8-bit RGBA, what
// the writer writes, at any level and in any number of pieces, libpng reads
// back as the same pixels, and damaged files are refused with the reason.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/resource.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tests/keyer_support.h"
#include "keyer/image_file.h"
#include "keyer/png_reader.h"

namespace tav {
namespace {

using namespace test;

uint32_t Hash(uint32_t v) {
    v ^= v >> 16, v *= 0x7FEB352Du, v ^= v >> 15, v *= 0x846CA68Bu;
    return v ^ (v >> 16);
}

void AppendBytes(png_structp png, png_bytep data, size_t size) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}

struct FileKind {
    const char* name;
    int colourType, bitDepth;
    bool interlaced = false, transparency = false;
    int gamma = 0;            // gAMA, libpng's fixed point; 0: none
    int significantBits = 0;  // sBIT of every channel; 0: none
    bool srgb = false;
    int filters = 0;  // the row filters libpng may choose from; 0: its own choice
};

// A file of this kind written by libpng: 256 x 256 samples that run through
// every 16-bit value for 16-bit grey, pseudo-random otherwise; the
// transparent colour (tRNS) is the first pixel's, a palette's first entries
// are partly transparent.
std::vector<uint8_t> WriteWithLibpng(const FileKind& kind) {
    const int width = 256, height = 256, depth = kind.bitDepth;
    const int channels = kind.colourType == 2 ? 3 : kind.colourType == 4 ? 2 : kind.colourType == 6 ? 4 : 1;
    const uint32_t largest = (1u << depth) - 1;
    std::vector<std::vector<uint8_t>> rows(height, std::vector<uint8_t>((width * channels * depth + 7) / 8));
    for (int y = 0; y < height; ++y)
        for (int x = 0, i = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c, ++i) {
                uint32_t v = kind.colourType == 0 && depth == 16 ? uint32_t(y * width + x)
                                                                 : Hash(uint32_t(y * 7919 + i)) & largest;
                // Every fifth pixel repeats the first, the transparent colour.
                if (kind.transparency && x % 5 == 0)
                    v = kind.colourType == 0 && depth == 16 ? 0 : Hash(uint32_t(c)) & largest;
                if (depth == 16)
                    rows[y][2 * i] = uint8_t(v >> 8), rows[y][2 * i + 1] = uint8_t(v);
                else
                    rows[y][size_t(i * depth / 8)] |= uint8_t(v << (8 - depth - i * depth % 8));
            }
    std::vector<uint8_t> file;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &file, AppendBytes, nullptr);
    png_set_IHDR(png, info, width, height, depth, kind.colourType,
                 kind.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_color palette[256];
    png_byte alphas[256];
    for (int i = 0; i < 256; ++i) {
        palette[i] = {png_byte(Hash(3 * i)), png_byte(Hash(3 * i + 1)), png_byte(Hash(3 * i + 2))};
        alphas[i] = png_byte(i * 37);
    }
    if (kind.colourType == 3) png_set_PLTE(png, info, palette, int(largest + 1));
    if (kind.transparency) {
        png_color_16 colour{};
        const uint8_t* first = rows[0].data();
        auto sample = [&](int c) {
            return depth == 16 ? first[2 * c] << 8 | first[2 * c + 1] : depth == 8 ? first[c] : first[0] >> (8 - depth);
        };
        colour.gray = png_uint_16(sample(0));
        if (kind.colourType == 2)
            colour = {0, png_uint_16(sample(0)), png_uint_16(sample(1)), png_uint_16(sample(2)), 0};
        png_set_tRNS(png, info, alphas, kind.colourType == 3 ? int(std::min(largest, 5u)) : 1, &colour);
    }
    if (kind.filters) png_set_filter(png, PNG_FILTER_TYPE_BASE, kind.filters);
    if (kind.gamma) png_set_gAMA_fixed(png, info, kind.gamma);
    if (kind.srgb) png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
    if (kind.significantBits) {
        png_color_8 bits{};
        bits.red = bits.green = bits.blue = bits.gray = png_byte(kind.significantBits);
        bits.alpha = png_byte(kind.colourType & 4 ? depth : 0);
        png_set_sBIT(png, info, &bits);
    }
    png_write_info(png, info);
    std::vector<png_bytep> pointers;
    for (auto& row : rows) pointers.push_back(row.data());
    png_write_image(png, pointers.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return file;
}

// What libpng's simplified reader makes of a file in 8-bit RGBA.
bool ReadWithLibpng(const uint8_t* data, size_t size, Image* image) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&png, data, size)) return false;
    image->hadAlpha = (png.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    png.format = PNG_FORMAT_RGBA;
    png.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
    image->width = int(png.width), image->height = int(png.height);
    image->rgba.assign(PNG_IMAGE_SIZE(png), 0);
    return png_image_finish_read(&png, nullptr, image->rgba.data(), 0, nullptr) != 0;
}

class PngReadTest : public ::testing::TestWithParam<FileKind> {};

// An interlaced file is compared with its plain twin: libpng's simplified
// reader misplaces the rows of interlaced 16-bit files.
TEST_P(PngReadTest, DecodesAsLibpngDeliversRgba) {
    const std::vector<uint8_t> file = WriteWithLibpng(GetParam());
    FileKind plain = GetParam();
    plain.interlaced = false;
    const std::vector<uint8_t> twin = WriteWithLibpng(plain);
    ASSERT_FALSE(file.empty());
    Image want, got;
    ASSERT_TRUE(ReadWithLibpng(twin.data(), twin.size(), &want));
    std::string error;
    ASSERT_TRUE(cli::DecodeImage(file.data(), file.size(), {}, &got, &error)) << error;
    EXPECT_EQ(got.width, want.width);
    EXPECT_EQ(got.height, want.height);
    EXPECT_EQ(got.hadAlpha, want.hadAlpha);
    EXPECT_EQ(FirstDifference(got.rgba, want.rgba, want.width, 4), "");
    // Read from a file, whose bytes the decoder may rearrange as it likes.
    TempFolder folder;
    WriteFile(folder.Path("a.png"), std::string(file.begin(), file.end()));
    Image read;
    ASSERT_TRUE(cli::ReadImage(folder.Path("a.png"), {}, &read, &error)) << error;
    EXPECT_TRUE(read.rgba == got.rgba && read.hadAlpha == got.hadAlpha);
}

// Image data that inflates whole with bytes to spare, every checksum sound
// (libpng calls the extra data a benign error): the data joined where it
// lies for the inflater is put back as it was for the general decoder,
// which decodes it as libpng does or refuses it.
TEST(PngReadTest, DataJoinedInPlaceIsPutBackForTheGeneralDecoder) {
    std::vector<uint8_t> file = WriteWithLibpng({"rgba8", 6, 8});
    std::vector<uint8_t> spare = {0, 0, 0, 1, 'I', 'D', 'A', 'T', 0x5A};
    const uint32_t crc = uint32_t(crc32(0, &spare[4], 5));
    for (int shift : {24, 16, 8, 0}) spare.push_back(uint8_t(crc >> shift));
    file.insert(file.end() - 12, spare.begin(), spare.end());  // before IEND
    std::vector<uint8_t> writable = file;
    Image got, want;
    std::string error;
    const bool decoded = cli::DecodePng(file.data(), file.size(), {}, &got, &error, writable.data());
    EXPECT_TRUE(writable == file);
    ASSERT_TRUE(ReadWithLibpng(file.data(), file.size(), &want));
    EXPECT_TRUE(!decoded || got.rgba == want.rgba) << error;
}

// Grey 0, RGB 2, palette 3, grey and alpha 4, RGBA 6.
INSTANTIATE_TEST_SUITE_P(
    Kinds, PngReadTest,
    ::testing::Values(
        FileKind{"grey1", 0, 1}, FileKind{"grey2", 0, 2}, FileKind{"grey4", 0, 4}, FileKind{"grey8", 0, 8},
        FileKind{"grey16", 0, 16}, FileKind{"grey1Trns", 0, 1, false, true}, FileKind{"grey4Trns", 0, 4, false, true},
        FileKind{"grey8Trns", 0, 8, false, true}, FileKind{"grey16Trns", 0, 16, false, true},
        FileKind{"greyAlpha8", 4, 8}, FileKind{"greyAlpha16", 4, 16}, FileKind{"palette1", 3, 1},
        FileKind{"palette2", 3, 2}, FileKind{"palette4Trns", 3, 4, false, true}, FileKind{"palette8", 3, 8},
        FileKind{"palette8Trns", 3, 8, false, true}, FileKind{"rgb8", 2, 8}, FileKind{"rgb16", 2, 16},
        FileKind{"rgb8Trns", 2, 8, false, true}, FileKind{"rgb16Trns", 2, 16, false, true}, FileKind{"rgba8", 6, 8},
        FileKind{"rgba16", 6, 16}, FileKind{"rgba8Interlaced", 6, 8, true}, FileKind{"grey2Interlaced", 0, 2, true},
        FileKind{"rgb16InterlacedTrns", 2, 16, true, true}, FileKind{"grey16Interlaced", 0, 16, true},
        // Gamma other than sRGB's is re-encoded; sRGB's own, or an sRGB chunk, is not.
        FileKind{"rgb8Linear", 2, 8, false, false, 100000}, FileKind{"palette4Gamma18", 3, 4, false, true, 55556},
        FileKind{"grey16Linear", 0, 16, false, false, 100000},
        FileKind{"grey16Gamma18TenBits", 0, 16, false, false, 55556, 10},
        FileKind{"rgba16Linear", 6, 16, false, false, 100000, 12}, FileKind{"rgb8NearSrgb", 2, 8, false, false, 47000},
        FileKind{"rgb16Srgb", 2, 16, false, false, 0, 0, true},
        // 8-bit RGB and RGBA are decoded in one piece: every row filter, and
        // libpng writes its data in chunks of 8 KiB, joined before inflating.
        FileKind{"rgb8None", 2, 8, false, false, 0, 0, false, PNG_FILTER_NONE},
        FileKind{"rgb8Sub", 2, 8, false, false, 0, 0, false, PNG_FILTER_SUB},
        FileKind{"rgb8Up", 2, 8, false, false, 0, 0, false, PNG_FILTER_UP},
        FileKind{"rgb8Average", 2, 8, false, false, 0, 0, false, PNG_FILTER_AVG},
        FileKind{"rgb8Paeth", 2, 8, false, false, 0, 0, false, PNG_FILTER_PAETH},
        FileKind{"rgba8Sub", 6, 8, false, false, 0, 0, false, PNG_FILTER_SUB},
        FileKind{"rgba8Up", 6, 8, false, false, 0, 0, false, PNG_FILTER_UP},
        FileKind{"rgba8Average", 6, 8, false, false, 0, 0, false, PNG_FILTER_AVG},
        FileKind{"rgba8Paeth", 6, 8, false, false, 0, 0, false, PNG_FILTER_PAETH},
        FileKind{"rgba8PaethGamma18", 6, 8, false, false, 55556, 0, false, PNG_FILTER_PAETH}),
    [](const auto& info) { return std::string(info.param.name); });

// Metadata never reaches the decoder: a text chunk that inflates to 256 MiB
// decodes within 64 MiB more address space than the process has.
TEST(PngMetadataTest, CompressedTextIsNotInflated) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' allocators need address space of their own";
#endif
    const std::vector<uint8_t> file = WriteWithLibpng({"rgb8", 2, 8});
    // The chunk's length (set below), its type, the keyword "T" and the method,
    // then a fully flushed MiB of zeros, repeated.
    std::vector<uint8_t> zeros(1 << 20, 0), once(1 << 16), text = {4, 0, 0, 0, 'z', 'T', 'X', 't', 'T', 0, 0};
    z_stream z{};
    ASSERT_EQ(deflateInit(&z, 9), Z_OK);
    z.next_in = zeros.data(), z.avail_in = uInt(zeros.size());
    z.next_out = once.data(), z.avail_out = uInt(once.size());
    ASSERT_EQ(deflate(&z, Z_FULL_FLUSH), Z_OK);
    once.resize(once.size() - z.avail_out);
    deflateEnd(&z);
    text.insert(text.end(), once.begin(), once.begin() + 2);  // the zlib header
    for (int i = 0; i < 256; ++i) text.insert(text.end(), once.begin() + 2, once.end());
    text.insert(text.end(), {3, 0, 0, 0, 0, 1});  // an empty last block; a checksum never checked
    const size_t length = text.size() - 8;
    for (int i = 0; i < 4; ++i) text[size_t(i)] = uint8_t(length >> (24 - 8 * i));
    const uint32_t crc = uint32_t(crc32(0, &text[4], uInt(length + 4)));
    for (int shift : {24, 16, 8, 0}) text.push_back(uint8_t(crc >> shift));
    std::vector<uint8_t> bomb(file.begin(), file.begin() + 33);  // the signature and the header
    bomb.insert(bomb.end(), text.begin(), text.end());
    bomb.insert(bomb.end(), file.begin() + 33, file.end());

    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    rlimit saved{}, limit{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &saved), 0);
    limit = saved;
    limit.rlim_cur = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (rlim_t(64) << 20);
    ASSERT_EQ(setrlimit(RLIMIT_AS, &limit), 0);
    Image got;
    std::string error;
    const bool decoded = cli::DecodeImage(bomb.data(), bomb.size(), {}, &got, &error);
    setrlimit(RLIMIT_AS, &saved);
    EXPECT_TRUE(decoded) << error;
}

struct EncodeCase {
    const char* name;
    int width, height, stripRows;
};

class PngWriteTest : public ::testing::TestWithParam<EncodeCase> {};

// Every level, on one thread and two: libpng reads the file back as the same
// pixels.
TEST_P(PngWriteTest, LibpngReadsTheSamePixelsAtEveryLevel) {
    const EncodeCase& c = GetParam();
    Image image{c.width, c.height, true, std::vector<uint8_t>(size_t(c.width) * c.height * 4)};
    for (size_t i = 0; i < image.rgba.size(); ++i) {
        const size_t x = i / 4 % size_t(c.width), y = i / 4 / size_t(c.width);
        // Smooth ramps, flat areas and noise: rows where each filter wins.
        image.rgba[i] = uint8_t(y % 3 == 0 ? Hash(uint32_t(i)) : y % 3 == 1 ? x * (i % 4 + 1) : 200);
    }
    for (cli::Compression level : {cli::Compression::Fast, cli::Compression::Default, cli::Compression::Best})
        for (int threads : {1, 2}) {
            std::vector<uint8_t> file;
            std::string error;
            ASSERT_TRUE(cli::EncodePng(
                image, {level, threads, c.stripRows},
                [&](const uint8_t* bytes, size_t n) {
                    file.insert(file.end(), bytes, bytes + n);
                    return true;
                },
                &error))
                << error;
            Image back;
            ASSERT_TRUE(ReadWithLibpng(file.data(), file.size(), &back)) << "level " << int(level);
            EXPECT_EQ(back.width, c.width);
            EXPECT_EQ(back.height, c.height);
            EXPECT_TRUE(back.rgba == image.rgba) << "level " << int(level) << ", " << threads << " threads";
        }
}

INSTANTIATE_TEST_SUITE_P(Sizes, PngWriteTest,
                         ::testing::Values(EncodeCase{"onePixel", 1, 1, 0}, EncodeCase{"oneColumn", 1, 40, 7},
                                           EncodeCase{"oneRow", 300, 1, 0}, EncodeCase{"oneStrip", 37, 23, 23},
                                           EncodeCase{"twoStrips", 37, 24, 12}, EncodeCase{"unevenStrips", 37, 23, 5},
                                           EncodeCase{"stripPerRow", 37, 9, 1},
                                           // Compressed data of more than one 1 MiB chunk, in pieces and whole.
                                           EncodeCase{"severalChunks", 1000, 1000, 128},
                                           EncodeCase{"severalChunksOnePiece", 1000, 1000, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// Every prefix of a good file is refused with a reason, and so is the file
// with one byte changed at many places, unless it still decodes (a JPEG pixel
// of another colour): a PNG then decodes as libpng decodes it.
TEST(DamagedImageTest, EveryCutAndEveryFlippedByteIsRefusedOrDecodedAsLibpngDoes) {
    for (const bool jpeg : {false, true}) {
        SCOPED_TRACE(jpeg ? "JPEG" : "PNG");
        TempFolder folder;
        const std::string path = folder.Path("a");
        if (jpeg) WriteJpeg(path, Scene(40, 30, true));
        else Write(path, Scene(40, 30, true));
        const std::string file = ReadFile(path);
        for (size_t at = 0; at <= file.size(); ++at) {
            const bool whole = at == file.size(), cut = !whole && at % 7 == 0;
            std::vector<uint8_t> damaged(file.begin(), file.begin() + ptrdiff_t(cut ? at : file.size()));
            if (!whole && !cut && at % 5 != 2) continue;
            if (!whole && !cut) damaged[at] ^= 0x5A;
            Image image, want;
            std::string error;
            const bool decoded = cli::DecodeImage(damaged.data(), damaged.size(), {}, &image, &error);
            EXPECT_EQ(decoded, error.empty()) << "byte " << at << ": " << error;
            EXPECT_TRUE(decoded ? !cut : !whole) << "byte " << at;
            EXPECT_TRUE(!decoded || jpeg || (ReadWithLibpng(damaged.data(), damaged.size(), &want) &&
                                             want.rgba == image.rgba)) << "byte " << at;
        }
    }
}

}  // namespace
}  // namespace tav
