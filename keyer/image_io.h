// Reading PNG and JPEG images and writing PNG, for the command-line tools.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tav::cli {

// An 8-bit RGBA image, rows top to bottom.
struct Image {
    int width = 0;
    int height = 0;
    bool hadAlpha = false;  // the file carried transparency
    std::vector<uint8_t> rgba;
};

// Larger than any photograph, small enough to refuse a file that only
// claims a huge size.
constexpr int64_t kDefaultMaxPixels = 600'000'000;

struct ReadOptions {
    int64_t maxPixels = kDefaultMaxPixels;
    // Key JPEG files that libjpeg decodes only with warnings (the damaged
    // part comes out grey) instead of refusing them.
    bool acceptJpegWarnings = false;
    // Told the image's size once the file's header has given it and it lies
    // within the budget, before the pixels are decoded: the caller can make
    // ready for the image (on another thread) meanwhile.
    std::function<void(int width, int height)> sizeKnown;
};

// Decodes a PNG (any bit depth and colour type) or a JPEG held in memory,
// chosen by its first bytes. An image of more than `maxPixels` pixels is
// refused before any pixel memory is allocated, and so is a PNG whose
// compressed data is too short for its stated size; a JPEG's pixel memory
// grows with the rows decoded. A truncated or damaged file is an error. On
// failure returns false and says why in `error`.
bool DecodeImage(const uint8_t* data, size_t size, const ReadOptions& options, Image* image,
                 std::string* error);

// Widens `pixels` packed RGB pixels to opaque RGBA.
void RgbToRgba(const uint8_t* rgb, size_t pixels, uint8_t* rgba);

// The processors this process may run on (at least 1).
int CoresAvailable();

// Reads a regular file (not a folder, a FIFO or a device) and decodes it.
bool ReadImage(const std::string& path, const ReadOptions& options, Image* image, std::string* error);

// How hard the PNG writer compresses. Every level filters each row as
// libpng does by default (the filter whose bytes sum to the least magnitude).
// A large image is filtered and compressed in pieces of rows side by side,
// one thread each, the pieces joined into one zlib stream.
enum class Compression {
    Fast,     // libdeflate's fastest level for the last piece, zlib's level 2
              // for the others: files some 5 to 20 % larger than libpng's
    Default,  // zlib's level 6 for filtered data: the size libpng's defaults give
    Best,     // zlib's level 7: a little smaller again, slower
};

struct WriteOptions {
    Compression compression = Compression::Fast;
    // The most threads the writer runs, the caller's own included; 0: one
    // for each core the process may run on.
    int threads = 0;
    // The rows of each piece; 0: chosen from the image's size, the level and
    // the threads.
    int stripRows = 0;
};

// Encodes `image` as an 8-bit RGBA PNG, handing the file's bytes in order to
// `sink`, which returns false to stop the encoding (keeping its errno). On
// failure returns false and says why in `error` (empty when the sink
// stopped).
bool EncodePng(const Image& image, const WriteOptions& options,
               const std::function<bool(const uint8_t*, size_t)>& sink, std::string* error);

// The output path that stands for standard output.
constexpr const char* kStandardOutput = "-";

// Writes an 8-bit RGBA PNG. The file appears whole or not at all: the image
// is written to a hidden temporary name beside it, which a signal ending the
// process removes, and renamed into place. A symbolic link is written
// through (the file it leads to is replaced, the link stays), an existing
// file keeps its permission bits, and anything but a regular file is left
// alone (an error). `kStandardOutput` writes the PNG to standard output.
bool WritePng(const std::string& path, const Image& image, std::string* error, const WriteOptions& options = {});

}  // namespace tav::cli
