#include "keyer/png_image_data.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "keyer/image.h"

namespace tav::cli {
namespace {

uint32_t BigEndian32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

// A pixel's four samples side by side, each in 16 bits: the filters' sums
// need nine, Paeth's differences a sign. Every filter works on the samples
// of a pixel at once; the pixels of a row go one after the other, as each
// depends on the one before.
// (Eight lanes, of which the last four are idle: vectors of the size of the
// processor's registers make the tightest code.)
using Bytes = uint8_t __attribute__((vector_size(8)));
using Pixel = int16_t __attribute__((vector_size(16)));

template <size_t kBytes>
inline Pixel Load(const uint8_t* p) {
    Bytes b{};
    std::memcpy(&b, p, kBytes);
    return __builtin_convertvector(b, Pixel);
}

// The samples (0..255) into 4 bytes; `opaque` gives RGB its alpha.
inline void Store(uint8_t* p, Pixel v, bool opaque) {
    Bytes b = __builtin_convertvector(v, Bytes);
    if (opaque) b[3] = 255;
    std::memcpy(p, &b, 4);
}

// Where `mask` is set (all ones), `yes`; elsewhere `no`.
inline Pixel Choose(Pixel mask, Pixel yes, Pixel no) { return (mask & yes) | (~mask & no); }

inline Pixel Abs(Pixel v) {
    const Pixel sign = v >> 15;
    return (v ^ sign) - sign;
}

enum Filter { kNone, kSub, kUp, kAverage, kPaeth };

// The prediction of a pixel from its left (a), upper (b) and upper-left (c)
// neighbours.
template <int kFilter>
inline Pixel Predict(Pixel a, Pixel b, Pixel c) {
    if constexpr (kFilter == kNone) return Pixel{};
    if constexpr (kFilter == kSub) return a;
    if constexpr (kFilter == kUp) return b;
    if constexpr (kFilter == kAverage) return (a + b) >> 1;
    const Pixel pa = Abs(b - c), pb = Abs(a - c), pc = Abs(a + b - c - c);
    return Choose((pa <= pb) & (pa <= pc), a, Choose(pb <= pc, b, c));
}

template <int kIn, int kFilter, size_t kBytes>
inline void UnfilterPixel(const uint8_t* from, const uint8_t* above, uint8_t* to, Pixel* a, Pixel* c) {
    const Pixel raw = Load<kBytes>(from);
    const Pixel b = Load<4>(above);
    *a = (raw + Predict<kFilter>(*a, b, *c)) & 0xFF;
    *c = b;
    Store(to, *a, kIn == 3);
}

// Unfilters a row of `kIn` bytes a pixel at `from` into RGBA at `to`, given
// the row above in RGBA. `to` may lie below `from` in the same memory: each
// pixel is read before anything at or after it is written. The pixels are
// read four bytes at a time, the last only to its end.
template <int kIn, int kFilter>
void UnfilterRow(const uint8_t* from, const uint8_t* above, uint8_t* to, uint32_t width) {
    Pixel a{}, c{};
    for (uint32_t x = 1; x < width; ++x, from += kIn, to += 4, above += 4)
        UnfilterPixel<kIn, kFilter, 4>(from, above, to, &a, &c);
    UnfilterPixel<kIn, kFilter, kIn>(from, above, to, &a, &c);
}

template <int kIn>
bool UnfilterRows(uint8_t* data, size_t dataOffset, uint32_t width, uint32_t height) {
    const size_t inRow = size_t(width) * kIn + 1, outRow = size_t(width) * 4;
    const std::vector<uint8_t> none(outRow, 0);  // above the first row
    for (size_t y = 0; y < height; ++y) {
        const uint8_t* from = data + dataOffset + y * inRow;
        const uint8_t* above = y == 0 ? none.data() : data + (y - 1) * outRow;
        uint8_t* to = data + y * outRow;
        switch (from[0]) {
        case kNone: UnfilterRow<kIn, kNone>(from + 1, above, to, width); break;
        case kSub: UnfilterRow<kIn, kSub>(from + 1, above, to, width); break;
        case kUp: UnfilterRow<kIn, kUp>(from + 1, above, to, width); break;
        case kAverage: UnfilterRow<kIn, kAverage>(from + 1, above, to, width); break;
        case kPaeth: UnfilterRow<kIn, kPaeth>(from + 1, above, to, width); break;
        default: return false;
        }
    }
    return true;
}

// The image data in one piece for the inflater: the chunk itself when there
// is one; several joined where they lie when the file's bytes may be
// rearranged and the chunks follow one another (each chunk's data moved up
// over the 12 bytes of checksum and header before it, which are kept to be
// put back); otherwise a copy.
class JoinedData {
public:
    JoinedData(const uint8_t* file, uint8_t* writable, const std::vector<ChunkPlace>& chunks) : chunks_(chunks) {
        data_ = file + chunks[0].first + 8;
        for (const auto& [at, length] : chunks) size_ += length;
        if (chunks.size() == 1) return;
        bool following = writable != nullptr;
        for (size_t k = 1; k < chunks.size() && following; ++k)
            following = chunks[k].first == chunks[k - 1].first + 12 + chunks[k - 1].second;
        if (following) {
            writable_ = writable;
            gaps_.resize(12 * (chunks.size() - 1));
            uint8_t* to = writable + chunks[0].first + 8 + chunks[0].second;
            for (size_t k = 1; k < chunks.size(); ++k) {
                std::memcpy(&gaps_[12 * (k - 1)], writable + chunks[k].first - 4, 12);
                std::memmove(to, writable + chunks[k].first + 8, chunks[k].second);
                to += chunks[k].second;
            }
            return;
        }
        copy_.resize(size_);
        size_t to = 0;
        for (const auto& [at, length] : chunks) std::memcpy(&copy_[to], file + at + 8, length), to += length;
        data_ = copy_.data();
    }
    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }
    // The file's bytes as they were (the joined data is gone), and the copy
    // let go.
    void PutBack() {
        copy_ = {};
        if (writable_ == nullptr) return;
        size_t at = size_;
        for (size_t k = chunks_.size() - 1; k > 0; --k) {
            at -= chunks_[k].second;
            uint8_t* place = writable_ + chunks_[k].first + 8;
            std::memmove(place, writable_ + chunks_[0].first + 8 + at, chunks_[k].second);
            std::memcpy(place - 12, &gaps_[12 * (k - 1)], 12);
        }
        writable_ = nullptr;
    }

private:
    const std::vector<ChunkPlace>& chunks_;
    const uint8_t* data_;
    size_t size_ = 0;
    uint8_t* writable_ = nullptr;
    std::vector<uint8_t> gaps_, copy_;
};

}  // namespace

bool DecodeImageData(const uint8_t* file, uint8_t* writable, const std::vector<ChunkPlace>& chunks, uint32_t width,
                     uint32_t height, int channels, std::vector<uint8_t>* rgba) {
    rgba->clear();
    if (chunks.empty() || (channels != 3 && channels != 4)) return false;
    // Every chunk whole: its checksum over type and data.
    for (const auto& [at, length] : chunks)
        if (libdeflate_crc32(0, file + at + 4, size_t(length) + 4) != BigEndian32(file + at + 8 + length))
            return false;
    JoinedData joined(file, writable, chunks);
    // The filtered rows are inflated into the end of the image's memory (for
    // RGBA, a byte a row larger than the image) and unfiltered towards its
    // start, each row into its place.
    const size_t filtered = size_t(height) * (size_t(width) * size_t(channels) + 1);
    const size_t pixels = size_t(height) * width * 4;
    const size_t total = std::max(filtered, pixels);
    AssignZeros(rgba, total);
    std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> inflater(
        libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
    size_t used = 0;
    const bool inflated =
        inflater != nullptr &&
        libdeflate_zlib_decompress_ex(inflater.get(), joined.data(), joined.size(), rgba->data() + total - filtered,
                                      filtered, &used, nullptr) == LIBDEFLATE_SUCCESS &&
        used == joined.size();
    joined.PutBack();
    const bool unfiltered =
        inflated && (channels == 3 ? UnfilterRows<3>(rgba->data(), total - filtered, width, height)
                                   : UnfilterRows<4>(rgba->data(), total - filtered, width, height));
    if (!unfiltered) {
        rgba->clear();
        return false;
    }
    rgba->resize(pixels);
    return true;
}

}  // namespace tav::cli
