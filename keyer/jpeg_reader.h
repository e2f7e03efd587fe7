// JPEG files, decoded into opaque 8-bit RGBA.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "keyer/image.h"

namespace tav::cli {

// Decodes the JPEG file held in memory (see DecodeImage).
bool DecodeJpeg(const uint8_t* data, size_t size, const ReadOptions& options, Image* image, std::string* error);

}  // namespace tav::cli
