#include "keyer/png_writer.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <zlib.h>

#include "keyer/cores.h"
#include "keyer/png_reader.h"

namespace tav::cli {
namespace {

// ---- PNG encoding ------------------------------------------------------------------

using Sink = std::function<bool(const uint8_t*, size_t)>;

void PutBigEndian32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24), p[1] = uint8_t(v >> 16), p[2] = uint8_t(v >> 8), p[3] = uint8_t(v);
}

// Bytes [begin, end) of a row of 4-byte pixels under one of the five PNG
// filters; `up` is the row above (zeros above the first row).
void FilterRow(int type, const uint8_t* row, const uint8_t* up, uint8_t* out, size_t begin, size_t end) {
    const size_t lead = std::clamp<size_t>(4, begin, end);  // [begin, lead): the first pixel, with no left
    switch (type) {
        case 0:
            std::memcpy(out + begin, row + begin, end - begin);
            break;
        case 1:
            for (size_t i = begin; i < lead; ++i) out[i] = row[i];
            for (size_t i = lead; i < end; ++i) out[i] = uint8_t(row[i] - row[i - 4]);
            break;
        case 2:
            for (size_t i = begin; i < end; ++i) out[i] = uint8_t(row[i] - up[i]);
            break;
        case 3:
            for (size_t i = begin; i < lead; ++i) out[i] = uint8_t(row[i] - (up[i] >> 1));
            for (size_t i = lead; i < end; ++i) out[i] = uint8_t(row[i] - ((row[i - 4] + up[i]) >> 1));
            break;
        default:  // 4, Paeth
            for (size_t i = begin; i < lead; ++i) out[i] = uint8_t(row[i] - up[i]);
            for (size_t i = lead; i < end; ++i) {
                const int a = row[i - 4], b = up[i], c = up[i - 4];
                const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
                out[i] = uint8_t(row[i] - (pa <= pb && pa <= pc ? a : pb <= pc ? b : c));
            }
            break;
    }
}

// The sum of the bytes' magnitudes, read as signed.
uint32_t Magnitude(const uint8_t* bytes, size_t n) {
    uint32_t sum = 0;
    for (size_t i = 0; i < n; ++i) {
        const int v = int8_t(bytes[i]);
        sum += uint32_t(v < 0 ? -v : v);
    }
    return sum;
}

// Filters rows [first, end) into `out`, each a filter type byte and the
// filtered row. Each row takes the filter libpng takes by default: the one
// of least magnitude, the earlier type on a tie; measured on the whole row,
// or, `sampled`, on every fourth block of 64 bytes of a long row.
void FilterRows(const Image& image, int first, int end, bool sampled, uint8_t* out) {
    constexpr size_t kBlock = 64;
    const size_t n = size_t(image.width) * 4, stride = sampled && n > 16 * kBlock ? 4 * kBlock : kBlock;
    std::vector<uint8_t> candidate(n), zeros(n, 0);
    for (int y = first; y < end; ++y) {
        const uint8_t* row = &image.rgba[size_t(y) * n];
        const uint8_t* up = y > 0 ? row - n : zeros.data();
        int best = 0;
        uint32_t least = UINT32_MAX;
        for (int type = 0; type <= 4; ++type) {
            uint32_t sum = 0;
            for (size_t block = 0; block < n; block += stride) {
                const size_t blockEnd = std::min(block + kBlock, n);
                FilterRow(type, row, up, candidate.data(), block, blockEnd);
                sum += Magnitude(&candidate[block], blockEnd - block);
            }
            if (sum < least) least = sum, best = type;
        }
        uint8_t* to = out + size_t(y - first) * (n + 1);
        to[0] = uint8_t(best);
        FilterRow(best, row, up, to + 1, 0, n);
    }
}

// Runs task(0) .. task(count - 1) on up to `threads` threads, the caller's
// among them; false if a task ran out of memory.
bool RunInParallel(int count, int threads, const std::function<void(int)>& task) {
    std::atomic<int> next{0};
    std::atomic<bool> failed{false};
    auto work = [&] {
        for (int k; !failed && (k = next.fetch_add(1)) < count;) {
            try {
                task(k);
            } catch (const std::bad_alloc&) {
                failed = true;
            }
        }
    };
    std::vector<std::thread> helpers;
    for (int i = 1; i < std::min(threads, count); ++i) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // the threads there are do the work
        }
    }
    work();
    for (std::thread& helper : helpers) helper.join();
    return !failed;
}

// Cuts rows [0, height) into pieces of `rows` rows (the last shorter).
void Cut(int from, int to, int rows, std::vector<int>* starts) {
    for (int y = from; y < to; y += rows) starts->push_back(y);
}

// The first row of each piece the image is filtered in, then `height`:
// pieces of some 4 MiB or more, a few for each thread (so that a thread
// slowed by other work holds up little).
std::vector<int> FilterPieces(const Image& image, int threads) {
    const size_t rowBytes = size_t(image.width) * 4 + 1;
    const int byBytes = int(std::max<size_t>(1, (size_t(4) << 20) / rowBytes));
    const int byThreads = (image.height + 4 * threads - 1) / (4 * threads);
    std::vector<int> starts;
    Cut(0, image.height, std::max(byBytes, byThreads), &starts);
    starts.push_back(image.height);
    return starts;
}

// The first row of each piece the image is compressed in, then `height`. A
// small image, or one thread, makes one piece; none is above 1 GiB (the
// compressors' counts are 32-bit); otherwise the pieces the rows were
// filtered in.
std::vector<int> CompressionPieces(const Image& image, const WriteOptions& options, int threads) {
    const size_t rowBytes = size_t(image.width) * 4 + 1;
    const int height = image.height, most = int(std::max<size_t>(1, (size_t(1) << 30) / rowBytes));
    std::vector<int> starts;
    if (options.stripRows > 0) {
        Cut(0, height, std::min(options.stripRows, most), &starts);
    } else if (threads == 1 || rowBytes * size_t(height) < (size_t(4) << 20)) {
        Cut(0, height, most, &starts);
    } else {
        return FilterPieces(image, threads);
    }
    starts.push_back(height);
    return starts;
}

// A piece of the deflate stream that ends on a byte boundary.
struct Piece {
    std::unique_ptr<uint8_t[]> bytes;
    size_t size = 0;
};

// Compresses `data` with zlib as a piece of a raw deflate stream: the window
// primed with the data before it, the last piece ends the stream, the
// others end with an empty stored block.
bool DeflatePiece(const uint8_t* data, size_t length, size_t before, int level, bool last, Piece* piece) {
    z_stream stream{};
    if (deflateInit2(&stream, level, Z_DEFLATED, -15, 8, Z_FILTERED) != Z_OK) return false;
    std::unique_ptr<z_stream, int (*)(z_stream*)> end(&stream, deflateEnd);
    const size_t window = std::min<size_t>(before, 32768);
    if (window > 0 && deflateSetDictionary(&stream, data - window, uInt(window)) != Z_OK) return false;
    const size_t bound = deflateBound(&stream, uLong(length)) + 64;
    piece->bytes.reset(new uint8_t[bound]);
    PreferHugePages(piece->bytes.get(), bound);
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = uInt(length);
    stream.next_out = piece->bytes.get();
    stream.avail_out = uInt(bound);
    const int result = deflate(&stream, last ? Z_FINISH : Z_SYNC_FLUSH);
    piece->size = bound - stream.avail_out;
    return last ? result == Z_STREAM_END : result == Z_OK && stream.avail_in == 0 && stream.avail_out > 0;
}

// Compresses `data` with ISA-L's igzip at its fastest level with a Huffman
// code of its own (level 1) as a piece of a raw deflate stream: the last
// piece ends the stream, the others end with an empty stored block. The
// pieces share no history (each starts afresh), so each is compressed alone.
bool CompressFastPiece(const uint8_t* data, size_t length, bool last, Piece* piece) {
    isal_zstream stream;
    isal_deflate_init(&stream);
    std::unique_ptr<uint8_t[]> levelBuffer(new uint8_t[ISAL_DEF_LVL1_DEFAULT]);
    stream.level = 1;
    stream.level_buf = levelBuffer.get();
    stream.level_buf_size = ISAL_DEF_LVL1_DEFAULT;
    stream.end_of_stream = last ? 1 : 0;
    stream.flush = last ? NO_FLUSH : SYNC_FLUSH;
    stream.next_in = const_cast<uint8_t*>(data);
    stream.avail_in = uint32_t(length);
    // Room for the data stored as it is, and more if the coder asks for it.
    size_t capacity = length + length / 64 + 1024, used = 0;
    piece->bytes.reset(new uint8_t[capacity]);
    PreferHugePages(piece->bytes.get(), capacity);
    for (;;) {
        stream.next_out = piece->bytes.get() + used;
        stream.avail_out = uint32_t(std::min<size_t>(capacity - used, UINT32_MAX));
        const uint32_t room = stream.avail_out;
        if (isal_deflate(&stream) != COMP_OK) return false;
        used += room - stream.avail_out;
        if (stream.avail_in == 0 && stream.avail_out > 0 && (!last || stream.internal_state.state == ZSTATE_END))
            break;
        std::unique_ptr<uint8_t[]> larger(new uint8_t[2 * capacity]);
        std::memcpy(larger.get(), piece->bytes.get(), used);
        piece->bytes = std::move(larger);
        capacity *= 2;
    }
    piece->size = used;
    return true;
}

// The image data chunks: the zlib stream cut into chunks of 1 MiB.
class ImageDataWriter {
public:
    explicit ImageDataWriter(const Sink& sink) : sink_(sink), chunk_(12 + kChunkBytes) {
        std::memcpy(&chunk_[4], "IDAT", 4);
    }
    bool Write(const uint8_t* bytes, size_t n) {
        while (n > 0) {
            const size_t take = std::min(n, kChunkBytes - filled_);
            std::memcpy(&chunk_[8 + filled_], bytes, take);
            filled_ += take, bytes += take, n -= take;
            if (filled_ == kChunkBytes && !Flush()) return false;
        }
        return true;
    }
    bool Flush() {
        if (filled_ == 0) return true;
        PutBigEndian32(&chunk_[0], uint32_t(filled_));
        PutBigEndian32(&chunk_[8 + filled_], libdeflate_crc32(0, &chunk_[4], filled_ + 4));
        const size_t size = filled_ + 12;
        filled_ = 0;
        return sink_(chunk_.data(), size);
    }

private:
    static constexpr size_t kChunkBytes = size_t(1) << 20;
    const Sink& sink_;
    std::vector<uint8_t> chunk_;
    size_t filled_ = 0;
};

}  // namespace

bool EncodePng(const Image& image, const WriteOptions& options, const Sink& sink, std::string* error) {
    error->clear();
    if (image.width < 1 || image.height < 1 || image.rgba.size() != size_t(image.width) * image.height * 4) {
        *error = "no image to write";
        return false;
    }
    const int threads = options.threads > 0 ? options.threads : CoresAvailable();
    const size_t rowBytes = size_t(image.width) * 4 + 1, total = rowBytes * size_t(image.height);
    const std::string outOfMemory = "not enough memory to encode the image";

    // Uninitialised: only the pages written take memory.
    std::unique_ptr<uint8_t[]> filtered(new (std::nothrow) uint8_t[total]);
    PreferHugePages(filtered.get(), total);
    const std::vector<int> filterStarts = options.stripRows > 0 ? CompressionPieces(image, options, threads)
                                                                : FilterPieces(image, threads);
    if (!filtered || !RunInParallel(int(filterStarts.size()) - 1, threads, [&](int k) {
            FilterRows(image, filterStarts[size_t(k)], filterStarts[size_t(k) + 1],
                       options.compression == Compression::Fast, &filtered[size_t(filterStarts[size_t(k)]) * rowBytes]);
        })) {
        *error = outOfMemory;
        return false;
    }

    // The zlib stream: its pieces compressed side by side and joined, with
    // the checksums of the pieces combined.
    const std::vector<int> starts = CompressionPieces(image, options, threads);
    const int count = int(starts.size()) - 1;
    const int level = options.compression == Compression::Fast ? 1 : options.compression == Compression::Best ? 7 : 6;
    auto offset = [&](int k) { return size_t(starts[size_t(k)]) * rowBytes; };
    std::vector<Piece> pieces(static_cast<size_t>(count));
    std::vector<uint32_t> checksums(static_cast<size_t>(count));
    std::atomic<bool> failed{false};
    const bool ran = RunInParallel(count, threads, [&](int k) {
        const size_t at = offset(k), length = offset(k + 1) - at;
        checksums[size_t(k)] = libdeflate_adler32(1, &filtered[at], length);
        const bool ok = options.compression == Compression::Fast
                            ? CompressFastPiece(&filtered[at], length, k == count - 1, &pieces[size_t(k)])
                            : DeflatePiece(&filtered[at], length, at, level, k == count - 1, &pieces[size_t(k)]);
        if (!ok) failed = true;
    });
    if (!ran || failed) {
        *error = outOfMemory;
        return false;
    }
    uLong adler = checksums[0];
    for (int k = 1; k < count; ++k)
        adler = adler32_combine(adler, checksums[size_t(k)], z_off_t(offset(k + 1) - offset(k)));
    uint8_t header[2] = {0x78, uint8_t((level < 6 ? 0 : level == 6 ? 2 : 3) << 6)}, trailer[4];
    header[1] = uint8_t(header[1] + (31 - (header[0] * 256 + header[1]) % 31) % 31);  // FCHECK
    PutBigEndian32(trailer, uint32_t(adler));
    filtered.reset();

    uint8_t head[33];
    std::memcpy(head, kPngSignature, 8);
    PutBigEndian32(head + 8, 13);
    std::memcpy(head + 12, "IHDR", 4);
    PutBigEndian32(head + 16, uint32_t(image.width));
    PutBigEndian32(head + 20, uint32_t(image.height));
    const uint8_t format[5] = {8, 6, 0, 0, 0};  // 8-bit RGBA, deflate, adaptive filters, not interlaced
    std::memcpy(head + 24, format, 5);
    PutBigEndian32(head + 29, libdeflate_crc32(0, head + 12, 17));
    if (!sink(head, sizeof head)) return false;
    ImageDataWriter data(sink);
    if (!data.Write(header, 2)) return false;
    for (const Piece& piece : pieces)
        if (!data.Write(piece.bytes.get(), piece.size)) return false;
    if (!data.Write(trailer, 4)) return false;
    if (!data.Flush()) return false;
    static constexpr uint8_t kEnd[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    return sink(kEnd, sizeof kEnd);
}

}  // namespace tav::cli
