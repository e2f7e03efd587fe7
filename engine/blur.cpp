#include "engine/blur.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "engine/exp.h"
#include "engine/worker.h"

namespace tav {
namespace {

// Lines filtered side by side: adjacent columns in the column pass, adjacent
// rows in the row pass. Every lane keeps its own sum in the order of the
// kernel's offsets, so working on several lines at once changes the speed
// only, never a bit of the result.
constexpr int kLanes = 16;
constexpr size_t kCacheLine = 64;

// A few lanes' sums held together; each element is summed on its own, in the
// same order as every other.
typedef double LaneVector __attribute__((vector_size(16)));
constexpr int kVectorLanes = int(sizeof(LaneVector) / sizeof(double));
constexpr int kVectors = kLanes / kVectorLanes;

// Scratch blocks start on a cache line.
size_t CacheLines(size_t bytes) { return (bytes + kCacheLine - 1) / kCacheLine * kCacheLine; }

// The kernel and its tail sums, and the interleaved lines being filtered.
struct BlurScratch {
    int extent = 0;                   // largest offset that can fall inside the image
    const double* weights = nullptr;  // weights[k], k = -extent..extent
    const double* tails = nullptr;    // tails[n] = w(1) + ... + w(|n|)
    double* lanes = nullptr;          // sample p of lane l at lanes[p * kLanes + l]

    // Weights beyond the longest line could never touch a sample and are left
    // out.
    static int Extent(int radius, int longest) { return std::min(radius, longest - 1); }
    static size_t Bytes(int radius, int longest) {
        const size_t taps = size_t(2 * Extent(radius, longest) + 1);
        return kCacheLine + 2 * CacheLines(taps * sizeof(double)) +
               CacheLines(size_t(longest) * kLanes * sizeof(double));
    }

    // Builds the kernel of `radius` for lines of at most `longest` samples in
    // `memory` of Bytes(radius, longest).
    void Build(int radius, int longest, void* memory) {
        extent = Extent(radius, longest);
        const size_t taps = size_t(2 * extent + 1);
        uintptr_t at = (reinterpret_cast<uintptr_t>(memory) + kCacheLine - 1) & ~uintptr_t(kCacheLine - 1);
        double* w = reinterpret_cast<double*>(at) + extent;
        at += CacheLines(taps * sizeof(double));
        double* q = reinterpret_cast<double*>(at) + extent;
        at += CacheLines(taps * sizeof(double));
        lanes = reinterpret_cast<double*>(at);
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

// Filters kLanes interleaved lines of n samples. The result of sample p of
// lane l goes to out[p * positionStride + l * laneStride], for the first
// `liveLanes` lanes. With a job, a cancel request is looked for before each
// position (all lanes of it); false when one was found.
bool FilterLanes(const BlurScratch& scratch, int n, int liveLanes, uint8_t* out,
                 ptrdiff_t positionStride, ptrdiff_t laneStride, const MatteJob* job) {
    const int extent = scratch.extent;
    for (int p = 0; p < n; ++p) {
        if (job != nullptr && CancelRequested(job)) return false;
        const int lo = -std::min(p, extent);
        const int hi = std::min(extent, n - 1 - p);

        LaneVector num[kVectors] = {};
        const LaneVector* sample =
            reinterpret_cast<const LaneVector*>(scratch.lanes + ptrdiff_t(p + lo) * kLanes);
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
    return true;
}

// Reports the steps first..first + count - 1, one for each line about to be
// filtered, and looks for a cancel request after each (a line's first sample
// is never computed after a request made while it was reported). Nothing
// without a job.
bool ReportLines(MatteJob* job, int32_t first, int count) {
    if (job == nullptr) return true;
    for (int i = 0; i < count; ++i) {
        ReportWorkerProgress(job, first + i);
        if (CancelRequested(job)) return false;
    }
    return true;
}

// Column pass from `from` into `to`, then row pass in place in `to`. With a
// job: progress of one step a column and one a row, cancel tests, and
// progressBase advanced after each pass.
bool RunPasses(BlurScratch& scratch, const uint8_t* from, uint8_t* to, int width, int height,
               MatteJob* job) {
    double* lanes = scratch.lanes;

    for (int x0 = 0; x0 < width; x0 += kLanes) {
        const int live = std::min(kLanes, width - x0);
        if (!ReportLines(job, job != nullptr ? job->progressBase + x0 : 0, live)) return false;
        for (int y = 0; y < height; ++y) {
            const uint8_t* row = from + ptrdiff_t(y) * width + x0;
            double* line = lanes + ptrdiff_t(y) * kLanes;
            for (int l = 0; l < live; ++l) line[l] = double(row[l]);
            for (int l = live; l < kLanes; ++l) line[l] = 0.0;
        }
        if (!FilterLanes(scratch, height, live, to + x0, width, 1, job)) return false;
    }
    if (job != nullptr) job->progressBase += width;

    for (int y0 = 0; y0 < height; y0 += kLanes) {
        const int live = std::min(kLanes, height - y0);
        for (int l = 0; l < kLanes; ++l) {
            double* column = lanes + l;
            if (l < live) {
                const uint8_t* row = to + ptrdiff_t(y0 + l) * width;
                for (int x = 0; x < width; ++x) column[ptrdiff_t(x) * kLanes] = double(row[x]);
            } else {
                for (int x = 0; x < width; ++x) column[ptrdiff_t(x) * kLanes] = 0.0;
            }
        }
        if (!ReportLines(job, job != nullptr ? job->progressBase + y0 : 0, live)) return false;
        if (!FilterLanes(scratch, width, live, to + ptrdiff_t(y0) * width, 1, width, job))
            return false;
    }
    if (job != nullptr) job->progressBase += height;
    return true;
}

}  // namespace

size_t BlurScratchBytes(int32_t width, int32_t height, int32_t radius) {
    if (width <= 0 || height <= 0) return 0;
    return BlurScratch::Bytes(std::max(radius, 0), std::max(width, height));
}

bool BlurMatte(const uint8_t* matte, uint8_t* result, int32_t width, int32_t height, int32_t radius,
               void* scratch, MatteJob* job) {
    if (width <= 0 || height <= 0) return true;
    if (scratch == nullptr) {
        // The run still completes, with the matte as the keying made it.
        std::memcpy(result, matte, size_t(width) * size_t(height));
        if (job != nullptr) job->progressBase += width + height;
        return true;
    }
    BlurScratch kernel;
    kernel.Build(std::max(radius, 0), std::max(width, height), scratch);
    return RunPasses(kernel, matte, result, width, height, job);
}

}  // namespace tav
