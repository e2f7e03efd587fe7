// Reading PNG and JPEG images and writing PNG, for the command-line tools.
#pragma once

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

// Reads a PNG (any bit depth and colour type) or a JPEG, chosen by the
// file's first bytes. On failure returns false and says why in `error`.
bool ReadImage(const std::string& path, Image* image, std::string* error);

// Writes an 8-bit RGBA PNG. The file appears whole or not at all: the image
// is written to a temporary name beside it and renamed into place.
bool WritePng(const std::string& path, const Image& image, std::string* error);

}  // namespace tav::cli
