// 8-bit RGBA PNG files, filtered and compressed in pieces on all cores.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "keyer/image.h"

namespace tav::cli {

// How hard the PNG writer compresses. Every level filters each row as
// libpng does by default (the filter whose bytes sum to the least magnitude).
// A large image is filtered and compressed in pieces of rows side by side,
// one thread each, the pieces joined into one zlib stream.
enum class Compression {
    Fast,     // ISA-L's igzip at level 1: files some 15 to 30 % larger than
              // libpng's (mattes up to 70 %), written about twice as fast as
              // libdeflate's fastest level writes them
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

}  // namespace tav::cli
