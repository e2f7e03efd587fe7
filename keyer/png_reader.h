// PNG files of every bit depth and colour type, decoded into 8-bit RGBA.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "keyer/image.h"

namespace tav::cli {

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// Decodes the PNG file held in memory (see DecodeImage). `writable`, when
// given, is the same bytes, which the decoder may rearrange while it works;
// they are as they were when it returns.
bool DecodePng(const uint8_t* data, size_t size, const ReadOptions& options, Image* image, std::string* error,
               uint8_t* writable = nullptr);

}  // namespace tav::cli
