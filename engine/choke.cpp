#include "engine/choke.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "engine/split.h"
#include "engine/worker.h"

namespace tav {
namespace {

// Growing keeps the largest value of the square, shrinking the smallest.
// Each starts from the value that leaves any other unchanged, which is also
// what a pixel beyond the image's edges counts as: nothing.
struct Grow {
    static constexpr uint8_t kIdentity = 0;
    static uint8_t Apply(uint8_t a, uint8_t b) { return a > b ? a : b; }
};
struct Shrink {
    static constexpr uint8_t kIdentity = 255;
    static uint8_t Apply(uint8_t a, uint8_t b) { return a < b ? a : b; }
};

// The radius along a line of `length` samples: a radius of length - 1 or
// more already covers the whole line from every position, so larger ones
// change nothing and are cut down to it.
int LineRadius(int64_t amount, int length) {
    int64_t n = amount < 0 ? -amount : amount;
    return int(std::min<int64_t>(n, length - 1));
}

template <typename Op>
uint8_t DirectPixel(const uint8_t* matte, int width, int height, int nx, int ny, int x, int y) {
    const int left = std::max(0, x - nx), right = std::min(width - 1, x + nx);
    const int top = std::max(0, y - ny), bottom = std::min(height - 1, y + ny);
    uint8_t value = Op::kIdentity;
    for (int row = top; row <= bottom; ++row) {
        const uint8_t* line = matte + size_t(row) * size_t(width);
        for (int column = left; column <= right; ++column) value = Op::Apply(value, line[column]);
    }
    return value;
}

// The running method: a column pass and a row pass of a running maximum (or
// minimum) over windows of k = 2r + 1 samples, each O(1) a sample whatever
// the radius. A line is padded with r samples of the identity at each end and
// cut into blocks of k samples; a window of k samples then starts inside one
// block and ends inside the same or the next, so its result is the suffix of
// the first block from the window's start combined with the prefix of the
// last block up to its end. The padding makes the clipped border windows
// exact.
//
// The column pass runs down the image a whole row at a time: one row of
// running prefixes, and the suffixes of the block of rows that the windows
// currently start in. Each output row is produced as soon as its column
// result is known, so no intermediate image is needed. A band of rows can
// start anywhere: the state the rows above would have left is built from the
// image. Maximum and minimum are exact, so every band gives the bytes a run
// from the top gives.
template <typename Op>
class RunningChoke {
public:
    RunningChoke() = default;
    RunningChoke(const uint8_t* matte, int width, int height, int64_t amount)
        : matte_(matte),
          width_(width),
          height_(height),
          rowRadius_(LineRadius(amount, width)),
          columnRadius_(LineRadius(amount, height)),
          rowWindow_(2 * rowRadius_ + 1),
          columnWindow_(2 * columnRadius_ + 1) {
        const int padded = width_ + 2 * rowRadius_;
        lineLength_ = (padded + rowWindow_ - 1) / rowWindow_ * rowWindow_;
    }

    // The scratch memory of Start.
    size_t Bytes() const {
        const size_t w = size_t(width_);
        return size_t(columnWindow_) * w + 2 * w + 2 * size_t(lineLength_);
    }

    // The window of the column pass, in rows.
    int ColumnWindow() const { return columnWindow_; }

    // Lays the scratch out in `memory` of Bytes() and primes the rows from
    // `first` on.
    void Start(void* memory, int first) {
        blockSuffix_ = static_cast<uint8_t*>(memory);
        prefix_ = blockSuffix_ + size_t(columnWindow_) * size_t(width_);
        identity_ = prefix_ + width_;
        line_ = identity_ + width_;
        lineSuffix_ = line_ + lineLength_;

        std::memset(identity_, Op::kIdentity, size_t(width_));
        std::memset(line_, Op::kIdentity, size_t(rowRadius_));
        std::memset(line_ + rowRadius_ + width_, Op::kIdentity,
                    size_t(lineLength_ - rowRadius_ - width_));
        // Output row `first` takes the suffixes of the block its window
        // starts in (built here unless that block starts with it), and the
        // prefixes of its last block up to the row before the window's last.
        const int last = first + 2 * columnRadius_;
        if (first % columnWindow_ != 0) BuildBlockSuffix(first - first % columnWindow_);
        nextPrefixRow_ = last - last % columnWindow_;
        while (nextPrefixRow_ < last) AdvancePrefix();
        outputRow_ = first;
    }

    // Writes the next output row, top to bottom, into `out` (width bytes).
    void NextRow(uint8_t* out) {
        ColumnPass(line_ + rowRadius_);
        RowPass(out);
        ++outputRow_;
    }

private:
    // Row `padded` of the image padded with columnRadius_ identity rows above
    // and below.
    const uint8_t* PaddedRow(int padded) const {
        const int row = padded - columnRadius_;
        if (row < 0 || row >= height_) return identity_;
        return matte_ + size_t(row) * size_t(width_);
    }

    // Folds the next padded row into the running prefixes, which restart at
    // every block boundary.
    void AdvancePrefix() {
        const uint8_t* source = PaddedRow(nextPrefixRow_);
        if (nextPrefixRow_ % columnWindow_ == 0) {
            std::memcpy(prefix_, source, size_t(width_));
        } else {
            uint8_t* prefix = prefix_;
            for (int x = 0; x < width_; ++x) prefix[x] = Op::Apply(prefix[x], source[x]);
        }
        ++nextPrefixRow_;
    }

    // Suffixes of the block of padded rows starting at `first`: entry j is the
    // combination of rows first + j .. first + k - 1.
    void BuildBlockSuffix(int first) {
        const size_t w = size_t(width_);
        uint8_t* below = blockSuffix_ + size_t(columnWindow_ - 1) * w;
        std::memcpy(below, PaddedRow(first + columnWindow_ - 1), w);
        for (int j = columnWindow_ - 2; j >= 0; --j) {
            uint8_t* entry = below - w;
            const uint8_t* source = PaddedRow(first + j);
            for (size_t x = 0; x < w; ++x) entry[x] = Op::Apply(source[x], below[x]);
            below = entry;
        }
    }

    // The window of output row y covers padded rows y .. y + 2r.
    void ColumnPass(uint8_t* out) {
        const int start = outputRow_;
        const int offset = start % columnWindow_;
        if (offset == 0) BuildBlockSuffix(start);
        AdvancePrefix();  // padded row y + 2r, the window's last
        const uint8_t* suffix = blockSuffix_ + size_t(offset) * size_t(width_);
        const uint8_t* prefix = prefix_;
        for (int x = 0; x < width_; ++x) out[x] = Op::Apply(suffix[x], prefix[x]);
    }

    // The row pass over line_, whose samples rowRadius_ .. rowRadius_ + W - 1
    // hold the column pass's result; output x covers line samples x .. x + 2r.
    void RowPass(uint8_t* out) {
        const uint8_t* line = line_;
        uint8_t* suffix = lineSuffix_;
        const int k = rowWindow_;
        const int span = 2 * rowRadius_;
        const int length = width_ + span;

        // Suffixes of the blocks in which some window starts.
        for (int first = 0; first < width_; first += k) {
            int i = first + k - 1;
            uint8_t value = line[i];
            suffix[i] = value;
            while (i > first) {
                --i;
                value = Op::Apply(line[i], value);
                suffix[i] = value;
            }
        }

        // Running prefixes; the first block holds the first window whole.
        uint8_t prefix = line[0];
        for (int i = 1; i <= span; ++i) prefix = Op::Apply(prefix, line[i]);
        out[0] = Op::Apply(suffix[0], prefix);
        for (int first = k; first < length; first += k) {
            const int end = std::min(first + k, length);
            prefix = line[first];
            out[first - span] = Op::Apply(suffix[first - span], prefix);
            for (int i = first + 1; i < end; ++i) {
                prefix = Op::Apply(prefix, line[i]);
                out[i - span] = Op::Apply(suffix[i - span], prefix);
            }
        }
    }

    const uint8_t* matte_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    int rowRadius_ = 0;
    int columnRadius_ = 0;
    int rowWindow_ = 1;
    int columnWindow_ = 1;
    int lineLength_ = 0;  // padded row length, rounded up to whole blocks

    uint8_t* blockSuffix_ = nullptr;  // columnWindow_ rows of width_
    uint8_t* prefix_ = nullptr;       // width_
    uint8_t* identity_ = nullptr;     // width_, the rows beyond the edges
    uint8_t* line_ = nullptr;         // lineLength_
    uint8_t* lineSuffix_ = nullptr;   // lineLength_
    int nextPrefixRow_ = 0;
    int outputRow_ = 0;
};

template <typename Op>
void ChokeDirectly(const uint8_t* matte, uint8_t* result, int width, int height, int64_t amount) {
    const int nx = LineRadius(amount, width), ny = LineRadius(amount, height);
    for (int y = 0; y < height; ++y) {
        uint8_t* out = result + size_t(y) * size_t(width);
        for (int x = 0; x < width; ++x) out[x] = DirectPixel<Op>(matte, width, height, nx, ny, x, y);
    }
}

// The running choke split into bands of rows, a piece each, with the
// scratch of thread t at scratch + t * bytes. A band starts with the block of
// rows its first window begins in: bands of a few windows keep that work
// small.
template <typename Op>
struct RunningBands {
    RunningChoke<Op> image;  // the settings every band starts from
    RunningChoke<Op> threads[kMaxPassThreads];
    uint8_t* scratch;
    size_t bytes;
    uint8_t* result;
    int width, height, bands;

    int First(int band) const { return int(int64_t(height) * band / bands); }

    static PieceShape Begin(void* kernel, int32_t thread, int32_t band) {
        RunningBands& k = *static_cast<RunningBands*>(kernel);
        k.threads[thread] = k.image;
        k.threads[thread].Start(k.scratch + size_t(thread) * k.bytes, k.First(band));
        return PieceShape{k.First(band + 1) - k.First(band), 0, 1};
    }
    static void Work(void* kernel, int32_t thread, int32_t band, int32_t part) {
        RunningBands& k = *static_cast<RunningBands*>(kernel);
        k.threads[thread].NextRow(k.result + size_t(k.First(band) + part) * size_t(k.width));
    }
};

// Without scratch memory every pixel visits its square: a piece a row and a
// part a pixel, since a square can be large.
template <typename Op>
struct DirectRows {
    const uint8_t* matte;
    uint8_t* result;
    int width, height, nx, ny;

    static PieceShape Begin(void* kernel, int32_t, int32_t) {
        return PieceShape{static_cast<const DirectRows*>(kernel)->width, 1, 0};
    }
    static void Work(void* kernel, int32_t, int32_t y, int32_t x) {
        const DirectRows& k = *static_cast<const DirectRows*>(kernel);
        k.result[size_t(y) * size_t(k.width) + size_t(x)] =
            DirectPixel<Op>(k.matte, k.width, k.height, k.nx, k.ny, x, y);
    }
};

template <typename Op>
bool ChokeRows(const uint8_t* matte, uint8_t* result, int width, int height, int64_t amount, void* scratch,
               MatteJob* job, int threads) {
    const int32_t firstStep = job != nullptr ? job->progressBase : 0;
    if (scratch != nullptr) {
        RunningBands<Op> k;
        k.image = RunningChoke<Op>(matte, width, height, amount);
        k.scratch = static_cast<uint8_t*>(scratch);
        k.bytes = k.image.Bytes();
        k.result = result;
        k.width = width;
        k.height = height;
        const int windows = height / (4 * k.image.ColumnWindow());
        k.bands = threads == 1 ? 1 : std::min(height, std::clamp(windows, threads, 4 * threads));
        const SplitPass pass{k.bands, &k, RunningBands<Op>::Begin, RunningBands<Op>::Work};
        return RunPass(pass, threads, job, firstStep);
    }
    DirectRows<Op> k{matte, result, width, height, LineRadius(amount, width), LineRadius(amount, height)};
    const SplitPass pass{height, &k, DirectRows<Op>::Begin, DirectRows<Op>::Work};
    return RunPass(pass, std::min(threads, height), job, firstStep);
}

}  // namespace

size_t ChokeScratchBytes(int32_t width, int32_t height, int32_t amount, int32_t threads) {
    if (width <= 0 || height <= 0) return 0;
    // The layout is the same for growing and shrinking.
    return size_t(std::clamp<int32_t>(threads, 1, kMaxPassThreads)) *
           RunningChoke<Grow>(nullptr, width, height, amount).Bytes();
}

bool ChokeMatte(const uint8_t* matte, uint8_t* result, int32_t width, int32_t height, int32_t amount,
                void* scratch, MatteJob* job, int32_t threads) {
    if (matte == nullptr || result == nullptr || width <= 0 || height <= 0) return true;
    threads = std::clamp<int32_t>(threads, 1, std::min(kMaxPassThreads, height));
    if (amount < 0) return ChokeRows<Shrink>(matte, result, width, height, amount, scratch, job, threads);
    return ChokeRows<Grow>(matte, result, width, height, amount, scratch, job, threads);
}

void ChokeMatteDirect(const uint8_t* matte, uint8_t* result, int32_t width, int32_t height,
                      int32_t amount) {
    if (matte == nullptr || result == nullptr || width <= 0 || height <= 0) return;
    if (amount < 0)
        ChokeDirectly<Shrink>(matte, result, width, height, amount);
    else
        ChokeDirectly<Grow>(matte, result, width, height, amount);
}

}  // namespace tav
