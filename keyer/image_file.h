// Image files: read whole and decoded, PNG or JPEG; written as PNG whole or
// not at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "keyer/image.h"
#include "keyer/png_writer.h"

namespace tav::cli {

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
