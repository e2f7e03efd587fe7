#include "keyer/image_io.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include <jpeglib.h>
#include <libdeflate.h>
#include <spng.h>
#include <zlib.h>

#include "platform/posix/whole_file.h"
#include "keyer/interrupt.h"

namespace tav::cli {
namespace {

constexpr int64_t kMaxSide = 32767;  // the host's coordinates are 16-bit

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// "No space left on device (ENOSPC)".
std::string SystemError(int error) {
    std::string text = std::strerror(error);
    if (const char* name = strerrorname_np(error)) text += std::string(" (") + name + ")";
    return text;
}

// Large buffers are asked for in huge pages: where the system gives them only
// when asked (transparent huge pages in "madvise" mode), faulting a buffer in
// 4 KiB page by page can cost more than decoding or compressing into it.
void PreferHugePages(const void* start, size_t bytes) {
#ifdef MADV_HUGEPAGE
    constexpr uintptr_t kHuge = uintptr_t(2) << 20;
    const uintptr_t first = (uintptr_t(start) + kHuge - 1) & ~(kHuge - 1);
    const uintptr_t end = (uintptr_t(start) + bytes) & ~(kHuge - 1);
    if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
    (void)start, (void)bytes;
#endif
}

// `bytes` becomes `size` zeros, in huge pages when that is large.
template <typename T>
void AssignZeros(std::vector<T>* bytes, size_t size) {
    if (bytes->capacity() < size) {
        std::vector<T> fresh;
        fresh.reserve(size);
        PreferHugePages(fresh.data(), size * sizeof(T));
        bytes->swap(fresh);
    }
    bytes->assign(size, 0);
}

bool CheckSize(int64_t width, int64_t height, const ReadOptions& options, std::string* error) {
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) {
        *error = "image size " + std::to_string(width) + " x " + std::to_string(height) + " is outside 1..32767";
        return false;
    }
    if (width * height > options.maxPixels) {
        *error = "the image's " + std::to_string(width) + " x " + std::to_string(height) + " pixels exceed the budget of " +
                 std::to_string(options.maxPixels) + " (--max-pixels)";
        return false;
    }
    return true;
}

uint32_t BigEndian32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

// What the chunk list of a PNG says before anything is decoded: whether the
// file is whole, and how many bytes of compressed image data it holds.
struct PngChunks {
    bool whole = false;  // every chunk complete, up to IEND
    uint64_t imageDataBytes = 0;
    int bitDepth = 0, colourType = 0;
    // The byte ranges (start, length) of the signature and of the chunks the
    // decoder is shown: the critical ones and those that change the pixels.
    std::vector<std::pair<size_t, size_t>> shown;
};

// Text, colour profiles and the other metadata never reach the decoder: a
// compressed text chunk cannot have it inflate gigabytes, nor a malformed one
// refuse the image.
bool ChangesPixels(const uint8_t* type) {
    const bool critical = (type[0] & 0x20) == 0;
    return critical || std::memcmp(type, "tRNS", 4) == 0 || std::memcmp(type, "gAMA", 4) == 0 ||
           std::memcmp(type, "sRGB", 4) == 0 || std::memcmp(type, "sBIT", 4) == 0;
}

PngChunks WalkPngChunks(const uint8_t* data, size_t size) {
    PngChunks chunks;
    chunks.shown.emplace_back(0, 8);
    size_t at = 8;
    while (size - at >= 12) {
        const uint64_t length = BigEndian32(data + at);
        const uint8_t* type = data + at + 4;
        if (length > size - at - 12) return chunks;  // the file ends inside the chunk
        if (ChangesPixels(type)) {
            auto& last = chunks.shown.back();
            if (last.first + last.second == at) last.second += 12 + size_t(length);
            else chunks.shown.emplace_back(at, 12 + size_t(length));
        }
        if (std::memcmp(type, "IHDR", 4) == 0 && length >= 13) {
            chunks.bitDepth = data[at + 16];
            chunks.colourType = data[at + 17];
        }
        if (std::memcmp(type, "IDAT", 4) == 0) chunks.imageDataBytes += length;
        if (std::memcmp(type, "IEND", 4) == 0) {
            chunks.whole = true;
            return chunks;
        }
        at += 12 + size_t(length);
    }
    return chunks;
}

// The fewest bytes the image data inflates to: every pixel's bits, rows
// rounded up to whole bytes, without the filter bytes (an interlaced image
// holds at least as many).
uint64_t LeastInflatedBytes(const PngChunks& chunks, uint64_t width, uint64_t height) {
    int samples = chunks.colourType == 2 ? 3 : chunks.colourType == 4 ? 2 : chunks.colourType == 6 ? 4 : 1;
    return height * ((width * uint64_t(samples) * uint64_t(std::max(chunks.bitDepth, 1)) + 7) / 8);
}

// Deflate turns one byte into at most 1032 (zlib's own figure); rounded up.
constexpr uint64_t kMostInflation = 1100;

// The pixels come out as libpng's simplified reader has always delivered them
// to the keyer in 8-bit RGBA; libspng decodes, and what is done to the samples
// afterwards is libpng's, to the bit:
// - a 16-bit sample becomes round(v * 255 / 65535);
// - tRNS makes the matching pixels, or palette entries, transparent;
// - a file whose gamma is not sRGB's (within 5 %) is re-encoded for an sRGB
//   screen with libpng's tables: the gamma of an sRGB chunk first, else of a
//   gAMA chunk, else sRGB's; alpha is left alone.

// libpng's reduction of a 16-bit sample to 8 bits (png_do_scale_16_to_8).
inline uint8_t Narrow16(uint32_t v) {
    const int32_t high = int32_t(v >> 8), low = int32_t(v & 0xFF);
    return uint8_t(high + (((low - high + 128) * 65535) >> 24));
}

// Gammas in libpng's fixed point (1.0 = 100000).
constexpr double kSrgbFileGamma = 45455, kSrgbScreenGamma = 220000;

bool GammaSignificant(double gamma) { return gamma < 95000 || gamma > 105000; }

// libpng's re-encoding of the colour samples, when the file asks for one.
struct GammaTables {
    bool active = false;
    uint8_t narrow[256] = {};    // 8-bit samples
    int shift = 0;               // 16-bit samples: the bits dropped before the look-up
    std::vector<uint8_t> wide;   // 16-bit samples, to 8 bits
};

double FileGamma(spng_ctx* ctx) {
    uint8_t intent = 0;
    uint32_t gamma = 0;
    if (spng_get_srgb(ctx, &intent) == 0) return kSrgbFileGamma;
    if (spng_get_gama_int(ctx, &gamma) == 0 && gamma >= 16 && gamma <= 625000000) return gamma;
    return kSrgbFileGamma;
}

void BuildGamma(spng_ctx* ctx, const spng_ihdr& ihdr, GammaTables* tables) {
    const double file = FileGamma(ctx);
    if (!GammaSignificant(std::floor(kSrgbScreenGamma * file / 100000 + 0.5))) return;
    if (ihdr.bit_depth <= 8) {
        const double exponent = std::floor(1e15 / file / kSrgbScreenGamma + 0.5);
        if (!GammaSignificant(exponent)) return;
        tables->active = true;
        for (int i = 0; i < 256; ++i)
            tables->narrow[i] = i == 0 || i == 255
                                    ? uint8_t(i)
                                    : uint8_t(std::floor(255 * std::pow(i / 255., exponent * 1e-5) + .5));
        return;
    }
    // The significant bits of the colour samples set how many low bits the
    // look-up ignores: at least 5, at most 8.
    spng_sbit sbit{};
    int significant = 0;
    if (spng_get_sbit(ctx, &sbit) == 0)
        significant =
            ihdr.color_type & 2 ? std::max({sbit.red_bits, sbit.green_bits, sbit.blue_bits}) : sbit.grayscale_bits;
    int shift = significant > 0 && significant < 16 ? 16 - significant : 0;
    shift = std::clamp(shift, 5, 8);
    const double exponent = std::floor(file * 1e-5 * kSrgbScreenGamma + 0.5);
    const uint32_t largest = (1u << (16 - shift)) - 1;
    tables->active = true;
    tables->shift = shift;
    tables->wide.assign(largest + 1, 255);
    // Each output value takes the inputs up to its boundary with the next.
    uint32_t next = 0;
    for (uint32_t out = 0; out < 255; ++out) {
        const double boundary = std::floor(65535 * std::pow((out * 257 + 128) / 65535., exponent * 1e-5) + .5);
        const uint32_t end = std::min((uint32_t(boundary) * largest + 32768) / 65535 + 1, largest + 1);
        for (; next < end; ++next) tables->wide[next] = uint8_t(out);
    }
}

// Reduces one row of 16-bit RGBA to 8 bits.
void NarrowRow(const uint16_t* from, uint8_t* to, size_t pixels, const GammaTables& gamma) {
    for (size_t i = 0; i < pixels * 4; i += 4) {
        for (size_t c = 0; c < 3; ++c)
            to[i + c] = gamma.active ? gamma.wide[from[i + c] >> gamma.shift] : Narrow16(from[i + c]);
        to[i + 3] = Narrow16(from[i + 3]);
    }
}

// Hands libspng the chunks it is shown, in order.
struct ShownChunks {
    const uint8_t* data;
    const std::vector<std::pair<size_t, size_t>>* ranges;
    size_t range = 0, at = 0;
};

int ReadShownChunks(spng_ctx*, void* user, void* destination, size_t length) {
    auto* chunks = static_cast<ShownChunks*>(user);
    auto* to = static_cast<uint8_t*>(destination);
    while (length > 0) {
        if (chunks->range == chunks->ranges->size()) return SPNG_IO_EOF;
        const auto [start, size] = (*chunks->ranges)[chunks->range];
        const size_t take = std::min(length, size - chunks->at);
        std::memcpy(to, chunks->data + start + chunks->at, take);
        to += take, length -= take, chunks->at += take;
        if (chunks->at == size) ++chunks->range, chunks->at = 0;
    }
    return 0;
}

std::string SpngFailure(int code) {
    const bool short_ = code == SPNG_IO_EOF || code == SPNG_EOF || code == SPNG_EIDAT_TOO_SHORT;
    return std::string(short_ ? "truncated PNG (" : "corrupt PNG (") + spng_strerror(code) + ")";
}

bool DecodePng(const uint8_t* data, size_t size, const ReadOptions& options, Image* image, std::string* error) {
    const PngChunks chunks = WalkPngChunks(data, size);
    if (!chunks.whole) {
        *error = "truncated PNG (the file ends before its last chunk)";
        return false;
    }
    std::unique_ptr<spng_ctx, void (*)(spng_ctx*)> owner(spng_ctx_new(0), spng_ctx_free);
    spng_ctx* ctx = owner.get();
    if (ctx == nullptr) {
        *error = "not enough memory to decode the PNG";
        return false;
    }
    // As libpng: an ancillary chunk with a bad checksum is dropped, a critical
    // one refused.
    spng_set_crc_action(ctx, SPNG_CRC_ERROR, SPNG_CRC_DISCARD);
    ShownChunks shown{data, &chunks.shown};
    spng_set_png_stream(ctx, ReadShownChunks, &shown);
    spng_ihdr ihdr{};
    if (int code = spng_get_ihdr(ctx, &ihdr)) {
        *error = std::string("not a valid PNG (") + spng_strerror(code) + ")";
        return false;
    }
    if (!CheckSize(ihdr.width, ihdr.height, options, error)) return false;
    if (chunks.imageDataBytes * kMostInflation < LeastInflatedBytes(chunks, ihdr.width, ihdr.height)) {
        *error = "truncated PNG (" + std::to_string(chunks.imageDataBytes) + " bytes of image data cannot hold " +
                 std::to_string(ihdr.width) + " x " + std::to_string(ihdr.height) + " pixels)";
        return false;
    }
    if (options.sizeKnown) options.sizeKnown(int(ihdr.width), int(ihdr.height));
    spng_trns trns;
    const int transparency = spng_get_trns(ctx, &trns);
    if (transparency != 0 && transparency != SPNG_ECHUNKAVAIL) {
        *error = SpngFailure(transparency);
        return false;
    }
    GammaTables gamma;
    BuildGamma(ctx, ihdr, &gamma);
    const bool wide = ihdr.bit_depth == 16;
    // 16-bit rows pass through a row of their own; interlaced, through an
    // image of their own, decoded whole and reduced after.
    const bool whole = wide && ihdr.interlace_method != 0;
    image->hadAlpha = (ihdr.color_type & 4) != 0 || transparency == 0;
    image->width = int(ihdr.width);
    image->height = int(ihdr.height);
    const size_t width = ihdr.width, samples = width * 4;
    AssignZeros(&image->rgba, samples * ihdr.height);
    std::vector<uint16_t> wideRows;
    if (wide) AssignZeros(&wideRows, samples * (whole ? ihdr.height : 1));
    const int format = wide ? SPNG_FMT_RGBA16 : SPNG_FMT_RGBA8;
    int code = whole ? spng_decode_image(ctx, wideRows.data(), wideRows.size() * 2, format, SPNG_DECODE_TRNS)
                     : spng_decode_image(ctx, nullptr, 0, format, SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE);
    if (code == 0 && whole) code = SPNG_EOI;
    while (code == 0) {
        spng_row_info row{};
        if ((code = spng_get_row_info(ctx, &row)) != 0) break;
        uint8_t* to = &image->rgba[row.row_num * samples];
        code = wide ? spng_decode_row(ctx, wideRows.data(), samples * 2) : spng_decode_row(ctx, to, samples);
        if ((code == 0 || code == SPNG_EOI) && wide) NarrowRow(wideRows.data(), to, width, gamma);
    }
    if (code == SPNG_EOI) code = spng_decode_chunks(ctx);  // the chunks after the image, to its end
    if (code != 0) {
        *error = SpngFailure(code);
        image->rgba.clear();
        return false;
    }
    if (whole)
        for (size_t y = 0; y < ihdr.height; ++y)
            NarrowRow(&wideRows[y * samples], &image->rgba[y * samples], width, gamma);
    if (gamma.active && !wide)
        for (size_t i = 0; i < image->rgba.size(); i += 4)
            for (size_t c = 0; c < 3; ++c) image->rgba[i + c] = gamma.narrow[image->rgba[i + c]];
    return true;
}

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    bool acceptWarnings;
    char message[JMSG_LENGTH_MAX + 32];
};

[[noreturn]] void FailJpeg(j_common_ptr info) {
    auto* error = reinterpret_cast<JpegError*>(info->err);
    char detail[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, detail);
    std::snprintf(error->message, sizeof error->message, "truncated or corrupt JPEG (%s)", detail);
    std::longjmp(error->jump, 1);
}

extern "C" void OnJpegError(j_common_ptr info) { FailJpeg(info); }

// Warnings (level -1) are data the decoder had to make up: a cut or damaged
// file. Trace messages (levels 0 and up) are ignored; nothing is printed.
extern "C" void OnJpegMessage(j_common_ptr info, int level) {
    auto* error = reinterpret_cast<JpegError*>(info->err);
    if (level < 0 && !error->acceptWarnings) FailJpeg(info);
}

extern "C" void OnJpegOutput(j_common_ptr) {}

bool DecodeJpeg(const uint8_t* data, size_t size, const ReadOptions& options, Image* image, std::string* error) {
    jpeg_decompress_struct info;
    JpegError jerr;
    info.err = jpeg_std_error(&jerr.manager);
    jerr.manager.error_exit = OnJpegError;
    jerr.manager.emit_message = OnJpegMessage;
    jerr.manager.output_message = OnJpegOutput;
    jerr.acceptWarnings = options.acceptJpegWarnings;
    std::vector<uint8_t>* rgba = &image->rgba;
    // Everything with a destructor lives outside the jump's reach.
    std::vector<JSAMPLE> row;
    if (setjmp(jerr.jump)) {
        *error = jerr.message;
        jpeg_destroy_decompress(&info);
        rgba->clear();
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    if (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK) {
        std::snprintf(jerr.message, sizeof jerr.message, "CMYK JPEG images are not supported");
        std::longjmp(jerr.jump, 1);
    }
    if (!CheckSize(info.image_width, info.image_height, options, error)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    if (options.sizeKnown) options.sizeKnown(int(info.image_width), int(info.image_height));
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    image->width = int(info.output_width);
    image->height = int(info.output_height);
    image->hadAlpha = false;
    const size_t rowBytes = size_t(image->width) * 4;
    // The pixels grow with the rows decoded: a small file that claims a large
    // size fails at its end before it has cost much memory.
    rgba->clear();
    rgba->reserve(std::min(rowBytes * size_t(image->height), std::max<size_t>(size * 64, size_t(1) << 20)));
    row.resize(size_t(image->width) * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_read_scanlines(&info, rows, 1);
        rgba->resize(rgba->size() + rowBytes);
        RgbToRgba(row.data(), size_t(image->width), rgba->data() + rgba->size() - rowBytes);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

}  // namespace

void RgbToRgba(const uint8_t* rgb, size_t pixels, uint8_t* rgba) {
    for (size_t p = 0; p < pixels; ++p, rgba += 4, rgb += 3) {
        rgba[0] = rgb[0];
        rgba[1] = rgb[1];
        rgba[2] = rgb[2];
        rgba[3] = 255;
    }
}

int CoresAvailable() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
    return std::max(1, int(std::thread::hardware_concurrency()));
}

bool DecodeImage(const uint8_t* data, size_t size, const ReadOptions& options, Image* image, std::string* error) {
    if (size >= 8 && std::memcmp(data, kPngSignature, 8) == 0) return DecodePng(data, size, options, image, error);
    if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF)
        return DecodeJpeg(data, size, options, image, error);
    *error = "not a PNG or JPEG image";
    return false;
}

bool ReadImage(const std::string& path, const ReadOptions& options, Image* image, std::string* error) {
    // Non-blocking, so that a FIFO cannot hold the open up; only regular
    // files are read.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = SystemError(errno);
        return false;
    }
    std::unique_ptr<int, void (*)(int*)> closer(&fd, [](int* f) { close(*f); });
    struct stat st;
    if (fstat(fd, &st) != 0) {
        *error = SystemError(errno);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        *error = "is a directory";
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = "is not a regular file";
        return false;
    }
    // Eight bytes a pixel (16-bit RGBA) uncompressed, plus room for chunks
    // and markers: a larger file is no image within the budget.
    const uint64_t largest = uint64_t(options.maxPixels) * 8 + (uint64_t(64) << 20);
    if (uint64_t(st.st_size) > largest) {
        *error = "the file is too large for an image within the budget of " + std::to_string(options.maxPixels) +
                 " pixels (--max-pixels)";
        return false;
    }
    std::vector<uint8_t> bytes;
    AssignZeros(&bytes, size_t(st.st_size));
    size_t got = 0;
    while (got < bytes.size()) {
        ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *error = SystemError(errno);
            return false;
        }
        if (n == 0) break;  // the file shrank while it was read
        got += size_t(n);
    }
    bytes.resize(got);
    return DecodeImage(bytes.data(), bytes.size(), options, image, error);
}

namespace {

// ---- PNG encoding ------------------------------------------------------------------

using Sink = std::function<bool(const uint8_t*, size_t)>;

void PutBigEndian32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24), p[1] = uint8_t(v >> 16), p[2] = uint8_t(v >> 8), p[3] = uint8_t(v);
}

// Bytes [begin, end) of a row of 4-byte pixels under one of the five PNG
// filters; `up` is the row above (zeros above the first row).
void FilterRow(int type, const uint8_t* row, const uint8_t* up, uint8_t* out, size_t begin, size_t end) {
    const size_t lead = std::clamp<size_t>(4, begin, end);  // [begin, lead): the first pixel, with no left
    switch (type) {
        case 0:
            std::memcpy(out + begin, row + begin, end - begin);
            break;
        case 1:
            for (size_t i = begin; i < lead; ++i) out[i] = row[i];
            for (size_t i = lead; i < end; ++i) out[i] = uint8_t(row[i] - row[i - 4]);
            break;
        case 2:
            for (size_t i = begin; i < end; ++i) out[i] = uint8_t(row[i] - up[i]);
            break;
        case 3:
            for (size_t i = begin; i < lead; ++i) out[i] = uint8_t(row[i] - (up[i] >> 1));
            for (size_t i = lead; i < end; ++i) out[i] = uint8_t(row[i] - ((row[i - 4] + up[i]) >> 1));
            break;
        default:  // 4, Paeth
            for (size_t i = begin; i < lead; ++i) out[i] = uint8_t(row[i] - up[i]);
            for (size_t i = lead; i < end; ++i) {
                const int a = row[i - 4], b = up[i], c = up[i - 4];
                const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
                out[i] = uint8_t(row[i] - (pa <= pb && pa <= pc ? a : pb <= pc ? b : c));
            }
            break;
    }
}

// The sum of the bytes' magnitudes, read as signed.
uint32_t Magnitude(const uint8_t* bytes, size_t n) {
    uint32_t sum = 0;
    for (size_t i = 0; i < n; ++i) {
        const int v = int8_t(bytes[i]);
        sum += uint32_t(v < 0 ? -v : v);
    }
    return sum;
}

// Filters rows [first, end) into `out`, each a filter type byte and the
// filtered row. Each row takes the filter libpng takes by default: the one
// of least magnitude, the earlier type on a tie; measured on the whole row,
// or, `sampled`, on every fourth block of 64 bytes of a long row.
void FilterRows(const Image& image, int first, int end, bool sampled, uint8_t* out) {
    constexpr size_t kBlock = 64;
    const size_t n = size_t(image.width) * 4, stride = sampled && n > 16 * kBlock ? 4 * kBlock : kBlock;
    std::vector<uint8_t> candidate(n), zeros(n, 0);
    for (int y = first; y < end; ++y) {
        const uint8_t* row = &image.rgba[size_t(y) * n];
        const uint8_t* up = y > 0 ? row - n : zeros.data();
        int best = 0;
        uint32_t least = UINT32_MAX;
        for (int type = 0; type <= 4; ++type) {
            uint32_t sum = 0;
            for (size_t block = 0; block < n; block += stride) {
                const size_t blockEnd = std::min(block + kBlock, n);
                FilterRow(type, row, up, candidate.data(), block, blockEnd);
                sum += Magnitude(&candidate[block], blockEnd - block);
            }
            if (sum < least) least = sum, best = type;
        }
        uint8_t* to = out + size_t(y - first) * (n + 1);
        to[0] = uint8_t(best);
        FilterRow(best, row, up, to + 1, 0, n);
    }
}

// Runs task(0) .. task(count - 1) on up to `threads` threads, the caller's
// among them; false if a task ran out of memory.
bool RunInParallel(int count, int threads, const std::function<void(int)>& task) {
    std::atomic<int> next{0};
    std::atomic<bool> failed{false};
    auto work = [&] {
        for (int k; !failed && (k = next.fetch_add(1)) < count;) {
            try {
                task(k);
            } catch (const std::bad_alloc&) {
                failed = true;
            }
        }
    };
    std::vector<std::thread> helpers;
    for (int i = 1; i < std::min(threads, count); ++i) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // the threads there are do the work
        }
    }
    work();
    for (std::thread& helper : helpers) helper.join();
    return !failed;
}

// Cuts rows [0, height) into pieces of `rows` rows (the last shorter).
void Cut(int from, int to, int rows, std::vector<int>* starts) {
    for (int y = from; y < to; y += rows) starts->push_back(y);
}

// The first row of each piece the image is filtered in, then `height`:
// pieces of some 4 MiB or more, a few for each thread (so that a thread
// slowed by other work holds up little).
std::vector<int> FilterPieces(const Image& image, int threads) {
    const size_t rowBytes = size_t(image.width) * 4 + 1;
    const int byBytes = int(std::max<size_t>(1, (size_t(4) << 20) / rowBytes));
    const int byThreads = (image.height + 4 * threads - 1) / (4 * threads);
    std::vector<int> starts;
    Cut(0, image.height, std::max(byBytes, byThreads), &starts);
    starts.push_back(image.height);
    return starts;
}

// The first row of each piece the image is compressed in, then `height`. A
// small image, or one thread, makes one piece; none is above 1 GiB (zlib's
// counts are 32-bit). At Fast, zlib compresses the leading pieces side by
// side with libdeflate compressing the last some three times as fast: the
// last piece has three rows for each row of the others.
std::vector<int> CompressionPieces(const Image& image, const WriteOptions& options, int threads) {
    const size_t rowBytes = size_t(image.width) * 4 + 1;
    const int height = image.height, most = int(std::max<size_t>(1, (size_t(1) << 30) / rowBytes));
    std::vector<int> starts;
    if (options.stripRows > 0) {
        Cut(0, height, std::min(options.stripRows, most), &starts);
    } else if (threads == 1 || rowBytes * size_t(height) < (size_t(4) << 20)) {
        Cut(0, height, most, &starts);
    } else if (options.compression == Compression::Fast) {
        const int lead = int(int64_t(height) * (threads - 1) / (threads + 2));
        if (lead > 0) Cut(0, lead, std::min((lead + threads - 2) / (threads - 1), most), &starts);
        Cut(lead, height, most, &starts);
    } else {
        return FilterPieces(image, threads);
    }
    starts.push_back(height);
    return starts;
}

// A piece of the deflate stream that ends on a byte boundary.
struct Piece {
    std::unique_ptr<uint8_t[]> bytes;
    size_t size = 0;
};

// Compresses `data` with zlib as a piece of a raw deflate stream: the window
// primed with the data before it, the last piece ends the stream, the
// others end with an empty stored block.
bool DeflatePiece(const uint8_t* data, size_t length, size_t before, int level, bool last, Piece* piece) {
    z_stream stream{};
    if (deflateInit2(&stream, level, Z_DEFLATED, -15, 8, Z_FILTERED) != Z_OK) return false;
    std::unique_ptr<z_stream, int (*)(z_stream*)> end(&stream, deflateEnd);
    const size_t window = std::min<size_t>(before, 32768);
    if (window > 0 && deflateSetDictionary(&stream, data - window, uInt(window)) != Z_OK) return false;
    const size_t bound = deflateBound(&stream, uLong(length)) + 64;
    piece->bytes.reset(new uint8_t[bound]);
    PreferHugePages(piece->bytes.get(), bound);
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = uInt(length);
    stream.next_out = piece->bytes.get();
    stream.avail_out = uInt(bound);
    const int result = deflate(&stream, last ? Z_FINISH : Z_SYNC_FLUSH);
    piece->size = bound - stream.avail_out;
    return last ? result == Z_STREAM_END : result == Z_OK && stream.avail_in == 0 && stream.avail_out > 0;
}

// Compresses `data` with libdeflate's fastest level as the last piece of a
// raw deflate stream (libdeflate's stream always ends: it comes last).
bool CompressLastPiece(const uint8_t* data, size_t length, Piece* piece) {
    std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)> compressor(
        libdeflate_alloc_compressor(1), libdeflate_free_compressor);
    if (!compressor) return false;
    const size_t bound = libdeflate_deflate_compress_bound(compressor.get(), length);
    piece->bytes.reset(new uint8_t[bound]);
    PreferHugePages(piece->bytes.get(), bound);
    piece->size = libdeflate_deflate_compress(compressor.get(), data, length, piece->bytes.get(), bound);
    return piece->size > 0;
}

// The image data chunks: the zlib stream cut into chunks of 1 MiB.
class ImageDataWriter {
public:
    explicit ImageDataWriter(const Sink& sink) : sink_(sink), chunk_(12 + kChunkBytes) {
        std::memcpy(&chunk_[4], "IDAT", 4);
    }
    bool Write(const uint8_t* bytes, size_t n) {
        while (n > 0) {
            const size_t take = std::min(n, kChunkBytes - filled_);
            std::memcpy(&chunk_[8 + filled_], bytes, take);
            filled_ += take, bytes += take, n -= take;
            if (filled_ == kChunkBytes && !Flush()) return false;
        }
        return true;
    }
    bool Flush() {
        if (filled_ == 0) return true;
        PutBigEndian32(&chunk_[0], uint32_t(filled_));
        PutBigEndian32(&chunk_[8 + filled_], libdeflate_crc32(0, &chunk_[4], filled_ + 4));
        const size_t size = filled_ + 12;
        filled_ = 0;
        return sink_(chunk_.data(), size);
    }

private:
    static constexpr size_t kChunkBytes = size_t(1) << 20;
    const Sink& sink_;
    std::vector<uint8_t> chunk_;
    size_t filled_ = 0;
};

}  // namespace

bool EncodePng(const Image& image, const WriteOptions& options, const Sink& sink, std::string* error) {
    error->clear();
    if (image.width < 1 || image.height < 1 || image.rgba.size() != size_t(image.width) * image.height * 4) {
        *error = "no image to write";
        return false;
    }
    const int threads = options.threads > 0 ? options.threads : CoresAvailable();
    const size_t rowBytes = size_t(image.width) * 4 + 1, total = rowBytes * size_t(image.height);
    const std::string outOfMemory = "not enough memory to encode the image";

    // Uninitialised: only the pages written take memory.
    std::unique_ptr<uint8_t[]> filtered(new (std::nothrow) uint8_t[total]);
    PreferHugePages(filtered.get(), total);
    const std::vector<int> filterStarts = options.stripRows > 0 ? CompressionPieces(image, options, threads)
                                                                : FilterPieces(image, threads);
    if (!filtered || !RunInParallel(int(filterStarts.size()) - 1, threads, [&](int k) {
            FilterRows(image, filterStarts[size_t(k)], filterStarts[size_t(k) + 1],
                       options.compression == Compression::Fast, &filtered[size_t(filterStarts[size_t(k)]) * rowBytes]);
        })) {
        *error = outOfMemory;
        return false;
    }

    // The zlib stream: its pieces compressed side by side and joined, the
    // last by libdeflate at Fast, with the checksums of the pieces combined.
    const std::vector<int> starts = CompressionPieces(image, options, threads);
    const int count = int(starts.size()) - 1;
    const int level = options.compression == Compression::Fast ? 2 : options.compression == Compression::Best ? 7 : 6;
    auto offset = [&](int k) { return size_t(starts[size_t(k)]) * rowBytes; };
    std::vector<Piece> pieces(static_cast<size_t>(count));
    std::vector<uint32_t> checksums(static_cast<size_t>(count));
    std::atomic<bool> failed{false};
    const bool ran = RunInParallel(count, threads, [&](int k) {
        const size_t at = offset(k), length = offset(k + 1) - at;
        checksums[size_t(k)] = libdeflate_adler32(1, &filtered[at], length);
        const bool ok = k == count - 1 && options.compression == Compression::Fast
                            ? CompressLastPiece(&filtered[at], length, &pieces[size_t(k)])
                            : DeflatePiece(&filtered[at], length, at, level, k == count - 1, &pieces[size_t(k)]);
        if (!ok) failed = true;
    });
    if (!ran || failed) {
        *error = outOfMemory;
        return false;
    }
    uLong adler = checksums[0];
    for (int k = 1; k < count; ++k)
        adler = adler32_combine(adler, checksums[size_t(k)], z_off_t(offset(k + 1) - offset(k)));
    uint8_t header[2] = {0x78, uint8_t((level == 2 ? 0 : level == 6 ? 2 : 3) << 6)}, trailer[4];
    header[1] = uint8_t(header[1] + (31 - (header[0] * 256 + header[1]) % 31) % 31);  // FCHECK
    PutBigEndian32(trailer, uint32_t(adler));
    filtered.reset();

    uint8_t head[33];
    std::memcpy(head, kPngSignature, 8);
    PutBigEndian32(head + 8, 13);
    std::memcpy(head + 12, "IHDR", 4);
    PutBigEndian32(head + 16, uint32_t(image.width));
    PutBigEndian32(head + 20, uint32_t(image.height));
    const uint8_t format[5] = {8, 6, 0, 0, 0};  // 8-bit RGBA, deflate, adaptive filters, not interlaced
    std::memcpy(head + 24, format, 5);
    PutBigEndian32(head + 29, libdeflate_crc32(0, head + 12, 17));
    if (!sink(head, sizeof head)) return false;
    ImageDataWriter data(sink);
    if (!data.Write(header, 2)) return false;
    for (const Piece& piece : pieces)
        if (!data.Write(piece.bytes.get(), piece.size)) return false;
    if (!data.Write(trailer, 4)) return false;
    if (!data.Flush()) return false;
    static constexpr uint8_t kEnd[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    return sink(kEnd, sizeof kEnd);
}

bool WritePng(const std::string& path, const Image& image, std::string* error, const WriteOptions& options) {
    int failure = 0;
    std::string why;
    auto writeTo = [&](int fd) {
        return EncodePng(image, options, [&](const uint8_t* bytes, size_t n) {
            while (n > 0) {
                const ssize_t written = write(fd, bytes, n);
                if (written < 0 && errno == EINTR) continue;
                if (written < 0) {
                    failure = errno;
                    return false;
                }
                bytes += written, n -= size_t(written);
            }
            return true;
        }, &why);
    };
    auto report = [&](const std::string& what) {
        *error = what + (failure == EPIPE ? "closed by its reader (EPIPE)" : failure > 0 ? SystemError(failure) : why);
        return false;
    };
    if (path == kStandardOutput) {
        // A reader that goes away is reported as such, not a signal's death.
        signal(SIGPIPE, SIG_IGN);
        return writeTo(STDOUT_FILENO) || report("cannot write: ");
    }

    // Through a symbolic link, the file it leads to is replaced and the
    // link stays; an existing file keeps its permissions.
    platform::posix::WriteTarget target;
    if (!platform::posix::FollowLinks(path, &target)) {
        *error = "cannot write: " + SystemError(errno);
        return false;
    }
    if (target.exists && !S_ISREG(target.info.st_mode) && !S_ISDIR(target.info.st_mode)) {
        *error = "cannot write: not a regular file; it is left as it is";
        return false;
    }
    PartialFile partial;
    const int fd = partial.Create(target.path);
    if (fd < 0) {
        *error = "cannot create a file beside it: " + SystemError(errno);
        return false;
    }
    fchmod(fd, target.exists ? target.info.st_mode & 07777 : 0644);
    bool ok = writeTo(fd);
    if (ok && fsync(fd) != 0) ok = false, failure = errno;
    if (close(fd) != 0 && ok) ok = false, failure = errno;
    if (ok && !partial.Commit()) ok = false, failure = errno;
    if (ok) return true;
    partial.Discard();
    return report("cannot write: ");
}

}  // namespace tav::cli
