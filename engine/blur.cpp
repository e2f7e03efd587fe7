#include "engine/blur.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <initializer_list>

#include "engine/exp.h"
#include "engine/split.h"
#include "engine/worker.h"

namespace tav {
namespace {

// Lines filtered side by side: adjacent columns in the column pass, adjacent
// rows in the row pass. Every lane keeps its own sum in the order of the
// kernel's offsets, so working on several lines at once, on several threads,
// or on a line's positions in runs changes the speed only, never a bit of the
// result.
constexpr int kLanes = 16;
constexpr size_t kCacheLine = 64;

// A few lanes' sums held together; each element is summed on its own, in the
// same order as every other.
typedef double LaneVector __attribute__((vector_size(16)));
constexpr int kVectorLanes = int(sizeof(LaneVector) / sizeof(double));
constexpr int kVectors = kLanes / kVectorLanes;

// Scratch blocks start on a cache line.
size_t CacheLines(size_t bytes) { return (bytes + kCacheLine - 1) / kCacheLine * kCacheLine; }

// Multiply-adds of a part of a strip: few enough that a cancel request is
// seen within some microseconds at the largest radius.
constexpr int kTapsPerPart = 8192;

// The kernel and its tail sums, shared by the threads, and each thread's
// interleaved lines.
struct BlurScratch {
    int extent = 0;                   // largest offset that can fall inside the image
    const double* weights = nullptr;  // weights[k], k = -extent..extent
    const double* tails = nullptr;    // tails[n] = w(1) + ... + w(|n|)
    double* lanes[kMaxPassThreads] = {};  // thread t's sample p of lane l at lanes[t][p * kLanes + l]

    // Weights beyond the longest line could never touch a sample and are left
    // out.
    static int Extent(int radius, int longest) { return std::min(radius, longest - 1); }
    static size_t LaneBytes(int longest) { return CacheLines(size_t(longest) * kLanes * sizeof(double)); }
    static size_t Bytes(int radius, int longest, int threads) {
        const size_t taps = size_t(2 * Extent(radius, longest) + 1);
        return kCacheLine + 2 * CacheLines(taps * sizeof(double)) + size_t(threads) * LaneBytes(longest);
    }

    // Builds the kernel of `radius` for lines of at most `longest` samples in
    // `memory` of Bytes(radius, longest, threads).
    void Build(int radius, int longest, int threads, void* memory) {
        extent = Extent(radius, longest);
        const size_t taps = size_t(2 * extent + 1);
        uintptr_t at = (reinterpret_cast<uintptr_t>(memory) + kCacheLine - 1) & ~uintptr_t(kCacheLine - 1);
        double* w = reinterpret_cast<double*>(at) + extent;
        at += CacheLines(taps * sizeof(double));
        double* q = reinterpret_cast<double*>(at) + extent;
        at += CacheLines(taps * sizeof(double));
        for (int t = 0; t < threads; ++t, at += LaneBytes(longest)) lanes[t] = reinterpret_cast<double*>(at);
        const double s = double(radius) * double(radius) * 0.3333333333333333;
        w[0] = 1.0;
        q[0] = 0.0;
        for (int i = 1; i <= extent; ++i) {
            const double weight = CorrectlyRoundedExp(-(double(i) * double(i)) / s);
            w[i] = weight;
            w[-i] = weight;
            q[i] = q[i - 1] + weight;
            q[-i] = q[i];
        }
        weights = w;
        tails = q;
    }
};

// Filters positions first..last - 1 of kLanes interleaved lines of n samples
// in `lanes`. The result of sample p of lane l goes to out[p * positionStride +
// l * laneStride], for the first `liveLanes` lanes. Each output sample sums
// its window in the order of the kernel's offsets, whatever the positions
// asked for.
void FilterLanes(const BlurScratch& scratch, const double* lanes, int n, int first, int last, int liveLanes,
                 uint8_t* out, ptrdiff_t positionStride, ptrdiff_t laneStride) {
    const int extent = scratch.extent;
    for (int p = first; p < last; ++p) {
        const int lo = -std::min(p, extent);
        const int hi = std::min(extent, n - 1 - p);

        LaneVector num[kVectors] = {};
        const LaneVector* sample = reinterpret_cast<const LaneVector*>(lanes + ptrdiff_t(p + lo) * kLanes);
        const double* weight = scratch.weights + lo;
        for (int k = 0; k <= hi - lo; ++k, sample += kVectors) {
            const double w = weight[k];
#pragma GCC unroll 16
            for (int v = 0; v < kVectors; ++v) num[v] = num[v] + sample[v] * w;
        }
        const double den = (scratch.tails[-lo] + scratch.tails[hi]) + 1.0;

        int32_t value[kLanes];
        for (int v = 0; v < kVectors; ++v) {
            const LaneVector quotient = num[v] / den;
            for (int l = 0; l < kVectorLanes; ++l) value[v * kVectorLanes + l] = int32_t(quotient[l]);
        }
        uint8_t* target = out + ptrdiff_t(p) * positionStride;
        for (int l = 0; l < liveLanes; ++l) target[l * laneStride] = uint8_t(value[l]);
    }
}

// One pass of the blur, a piece a strip of kLanes adjacent lines: the column
// pass from `from` into `to`, or the row pass in place in `to`. A strip's
// lines are read whole into its thread's lanes before any of its samples is
// written, and no two strips share a line, so the row pass can work in
// place. The parts of a strip are runs of positions.
struct BlurPass {
    const BlurScratch* scratch;
    const uint8_t* from;
    uint8_t* to;
    int width, height;
    bool rows;
    int positionsPerPart;

    int Length() const { return rows ? width : height; }
    int Live(int strip) const { return std::min(kLanes, (rows ? height : width) - strip * kLanes); }
};

PieceShape BeginStrip(void* kernel, int32_t thread, int32_t strip) {
    const BlurPass& b = *static_cast<const BlurPass*>(kernel);
    double* lanes = b.scratch->lanes[thread];
    const int live = b.Live(strip);
    if (!b.rows) {
        const int x0 = strip * kLanes;
        for (int y = 0; y < b.height; ++y) {
            const uint8_t* row = b.from + ptrdiff_t(y) * b.width + x0;
            double* line = lanes + ptrdiff_t(y) * kLanes;
            for (int l = 0; l < live; ++l) line[l] = double(row[l]);
            for (int l = live; l < kLanes; ++l) line[l] = 0.0;
        }
    } else {
        const int y0 = strip * kLanes;
        for (int l = 0; l < kLanes; ++l) {
            double* column = lanes + l;
            if (l < live) {
                const uint8_t* row = b.to + ptrdiff_t(y0 + l) * b.width;
                for (int x = 0; x < b.width; ++x) column[ptrdiff_t(x) * kLanes] = double(row[x]);
            } else {
                for (int x = 0; x < b.width; ++x) column[ptrdiff_t(x) * kLanes] = 0.0;
            }
        }
    }
    const int parts = (b.Length() + b.positionsPerPart - 1) / b.positionsPerPart;
    return PieceShape{parts, live, 0};
}

void FilterStripPart(void* kernel, int32_t thread, int32_t strip, int32_t part) {
    const BlurPass& b = *static_cast<const BlurPass*>(kernel);
    const int n = b.Length();
    const int first = part * b.positionsPerPart, last = std::min(n, first + b.positionsPerPart);
    const double* lanes = b.scratch->lanes[thread];
    if (!b.rows)
        FilterLanes(*b.scratch, lanes, n, first, last, b.Live(strip), b.to + strip * kLanes, b.width, 1);
    else
        FilterLanes(*b.scratch, lanes, n, first, last, b.Live(strip), b.to + ptrdiff_t(strip) * kLanes * b.width, 1,
                    b.width);
}

int Strips(int lines) { return (lines + kLanes - 1) / kLanes; }

// Column pass from `from` into `to`, then row pass in place in `to`. With a
// job: progress of one step a column and one a row, cancel tests, and
// progressBase advanced after each pass.
bool RunPasses(const BlurScratch& scratch, const uint8_t* from, uint8_t* to, int width, int height, MatteJob* job,
               int threads) {
    const int taps = 2 * scratch.extent + 1;
    BlurPass blur{&scratch, from, to, width, height, false, std::max(1, kTapsPerPart / taps)};
    for (bool rows : {false, true}) {
        blur.rows = rows;
        const int32_t strips = Strips(rows ? height : width);
        const SplitPass pass{strips, &blur, BeginStrip, FilterStripPart};
        if (!RunPass(pass, std::min(threads, strips), job, job != nullptr ? job->progressBase : 0)) return false;
        if (job != nullptr) job->progressBase += rows ? height : width;
    }
    return true;
}

}  // namespace

size_t BlurScratchBytes(int32_t width, int32_t height, int32_t radius, int32_t threads) {
    if (width <= 0 || height <= 0) return 0;
    threads = std::clamp<int32_t>(threads, 1, kMaxPassThreads);
    return BlurScratch::Bytes(std::max(radius, 0), std::max(width, height), threads);
}

int32_t BlurThreads(int32_t limit, int32_t width, int32_t height) {
    return PassThreads(limit, Strips(std::max({width, height, int32_t(1)})));
}

bool BlurMatte(const uint8_t* matte, uint8_t* result, int32_t width, int32_t height, int32_t radius,
               void* scratch, MatteJob* job, int32_t threads) {
    if (width <= 0 || height <= 0) return true;
    if (scratch == nullptr) {
        // The run still completes, with the matte as the keying made it.
        std::memcpy(result, matte, size_t(width) * size_t(height));
        if (job != nullptr) job->progressBase += width + height;
        return true;
    }
    threads = std::clamp<int32_t>(threads, 1, kMaxPassThreads);
    BlurScratch kernel;
    kernel.Build(std::max(radius, 0), std::max(width, height), threads, scratch);
    return RunPasses(kernel, matte, result, width, height, job, threads);
}

}  // namespace tav
