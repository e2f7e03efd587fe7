// Reading PNG and JPEG images and writing PNG, for the command-line tools.
#pragma once

#include <cstddef>
#include <cstdint>
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
};

// Decodes a PNG (any bit depth and colour type) or a JPEG held in memory,
// chosen by its first bytes. An image of more than `maxPixels` pixels is
// refused before any pixel memory is allocated, and so is a PNG whose
// compressed data is too short for its stated size; a JPEG's pixel memory
// grows with the rows decoded. A truncated or damaged file is an error. On
// failure returns false and says why in `error`.
bool DecodeImage(const uint8_t* data, size_t size, const ReadOptions& options, Image* image,
                 std::string* error);

// Reads a regular file (not a folder, a FIFO or a device) and decodes it.
bool ReadImage(const std::string& path, const ReadOptions& options, Image* image, std::string* error);

// Writes an 8-bit RGBA PNG. The file appears whole or not at all: the image
// is written to a hidden temporary name beside it, which a signal ending the
// process removes, and renamed into place.
bool WritePng(const std::string& path, const Image& image, std::string* error);

}  // namespace tav::cli
