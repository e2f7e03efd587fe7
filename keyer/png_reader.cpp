#include "keyer/png_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include <spng.h>

#include "keyer/png_image_data.h"

namespace tav::cli {
namespace {

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
    // The IDAT chunks, and whether the file is laid out plainly enough for
    // them to be decoded in one piece: no critical chunk but IHDR, IDAT and
    // IEND, the IDATs one after the other among the chunks shown, and a
    // sound IEND straight after them.
    std::vector<ChunkPlace> imageData;
    bool plain = true;
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
    bool afterData = false;  // a chunk has been shown after an IDAT
    while (size - at >= 12) {
        const uint64_t length = BigEndian32(data + at);
        const uint8_t* type = data + at + 4;
        if (length > size - at - 12) return chunks;  // the file ends inside the chunk
        if (ChangesPixels(type)) {
            auto& last = chunks.shown.back();
            if (last.first + last.second == at) last.second += 12 + size_t(length);
            else chunks.shown.emplace_back(at, 12 + size_t(length));
            const bool imageData = std::memcmp(type, "IDAT", 4) == 0, end = std::memcmp(type, "IEND", 4) == 0;
            if (imageData) chunks.imageData.emplace_back(at, uint32_t(length));
            if ((type[0] & 0x20) == 0 && !imageData && !end && std::memcmp(type, "IHDR", 4) != 0)
                chunks.plain = false;
            if (afterData && !end) chunks.plain = false;
            if (end && (length != 0 || BigEndian32(data + at + 8) != 0xAE426082u)) chunks.plain = false;
            afterData = !chunks.imageData.empty() && !imageData;
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

// Re-encodes the colour samples of 8-bit RGBA, when the file asks for it.
void ApplyNarrowGamma(const GammaTables& gamma, std::vector<uint8_t>* rgba) {
    if (!gamma.active) return;
    for (size_t i = 0; i < rgba->size(); i += 4)
        for (size_t c = 0; c < 3; ++c) (*rgba)[i + c] = gamma.narrow[(*rgba)[i + c]];
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

}  // namespace

bool DecodePng(const uint8_t* data, size_t size, const ReadOptions& options, Image* image, std::string* error,
               uint8_t* writable) {
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
    image->hadAlpha = (ihdr.color_type & 4) != 0 || transparency == 0;
    image->width = int(ihdr.width);
    image->height = int(ihdr.height);
    // The commonest files are decoded in one piece; the general decoder
    // takes the others, and these too when their data is not sound.
    if (chunks.plain && ihdr.bit_depth == 8 && (ihdr.color_type == 2 || ihdr.color_type == 6) &&
        ihdr.interlace_method == 0 && transparency != 0 &&
        DecodeImageData(data, writable, chunks.imageData, ihdr.width, ihdr.height, ihdr.color_type == 6 ? 4 : 3,
                        &image->rgba)) {
        ApplyNarrowGamma(gamma, &image->rgba);
        return true;
    }
    const bool wide = ihdr.bit_depth == 16;
    // 16-bit rows pass through a row of their own; interlaced, through an
    // image of their own, decoded whole and reduced after.
    const bool whole = wide && ihdr.interlace_method != 0;
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
    if (!wide) ApplyNarrowGamma(gamma, &image->rgba);
    return true;
}

}  // namespace tav::cli
