// The image data of the commonest PNG files - 8-bit RGB or RGBA, not
// interlaced - decoded in one piece: its inflated size is known from the
// header, so libdeflate inflates the whole of it at once, straight into the
// image's own memory, and the rows are unfiltered into 8-bit RGBA where they
// lie. Other files, and any file whose data is not exactly whole and sound,
// are left to the general decoder (png_reader), which says what is wrong.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace tav::cli {

// An IDAT chunk of the file: where the chunk starts (its length field) and
// the length of its data.
using ChunkPlace = std::pair<size_t, uint32_t>;

// Decodes the image data held in `chunks` (consecutive IDAT chunks of the
// file at `file`) of a `width` x `height` image of `channels` (3: RGB, 4:
// RGBA) 8-bit samples into `rgba`. False, with `rgba` emptied, when a
// chunk's checksum fails or the data does not inflate to exactly the image's
// filtered rows with sound filter types. `writable`, when given, is the same
// bytes as `file`, which the decoder may rearrange while it works (to join
// the chunks' data without a copy); they are as they were when it returns.
bool DecodeImageData(const uint8_t* file, uint8_t* writable, const std::vector<ChunkPlace>& chunks, uint32_t width,
                     uint32_t height, int channels, std::vector<uint8_t>* rgba);

}  // namespace tav::cli
