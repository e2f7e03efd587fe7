#include "engine/blur.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <new>

#include "engine/exp.h"
#include "engine/worker.h"
#include "host/allocator.h"
#include "host/parameters.h"
#include "host/plugin_state.h"

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

std::atomic<int> g_grantedRequests{-1};

bool GrantMemoryRequest() {
    int granted = g_grantedRequests.load(std::memory_order_relaxed);
    while (granted >= 0) {
        if (granted == 0) return false;
        if (g_grantedRequests.compare_exchange_weak(granted, granted - 1, std::memory_order_relaxed))
            return true;
    }
    return true;
}

// A scratch block of doubles from the process heap, aligned to a cache line;
// released with its owner.
class DoubleBlock {
public:
    DoubleBlock() = default;
    DoubleBlock(const DoubleBlock&) = delete;
    DoubleBlock& operator=(const DoubleBlock&) = delete;
    ~DoubleBlock() { delete[] storage_; }

    bool Obtain(size_t count) {
        if (!GrantMemoryRequest()) return false;
        if (count > (SIZE_MAX - kCacheLine) / sizeof(double)) return false;
        storage_ = new (std::nothrow) unsigned char[count * sizeof(double) + kCacheLine];
        if (storage_ == nullptr) return false;
        uintptr_t address = reinterpret_cast<uintptr_t>(storage_);
        address = (address + kCacheLine - 1) & ~uintptr_t(kCacheLine - 1);
        data_ = reinterpret_cast<double*>(address);
        return true;
    }
    double* data() const { return data_; }

private:
    unsigned char* storage_ = nullptr;
    double* data_ = nullptr;
};

// The kernel and its tail sums, and the interleaved lines being filtered.
struct BlurScratch {
    int extent = 0;                   // largest offset that can fall inside the image
    const double* weights = nullptr;  // weights[k], k = -extent..extent
    const double* tails = nullptr;    // tails[n] = w(1) + ... + w(|n|)
    double* lanes = nullptr;          // sample p of lane l at lanes[p * kLanes + l]
    DoubleBlock weightBlock;
    DoubleBlock tailBlock;
    DoubleBlock laneBlock;

    // Builds the kernel of `radius` for lines of at most `longest` samples.
    // Weights beyond the longest line could never touch a sample and are left
    // out. False when memory is short (what was obtained goes with the object).
    bool Obtain(int radius, int longest) {
        extent = std::min(radius, longest - 1);
        const size_t taps = size_t(2 * extent + 1);
        if (!weightBlock.Obtain(taps) || !tailBlock.Obtain(taps) ||
            !laneBlock.Obtain(size_t(longest) * kLanes))
            return false;
        double* w = weightBlock.data() + extent;
        double* q = tailBlock.data() + extent;
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
        lanes = laneBlock.data();
        return true;
    }
};

// Filters kLanes interleaved lines of n samples. The result of sample p of
// lane l goes to out[p * positionStride + l * laneStride], for the first
// `liveLanes` lanes. With a state, a cancel request is looked for before each
// position (all lanes of it); false when one was found.
bool FilterLanes(const BlurScratch& scratch, int n, int liveLanes, uint8_t* out,
                 ptrdiff_t positionStride, ptrdiff_t laneStride, PluginState* state) {
    const int extent = scratch.extent;
    for (int p = 0; p < n; ++p) {
        if (state != nullptr && CancelRequested(state)) return false;
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
// without a state.
bool ReportLines(PluginState* state, int32_t first, int count) {
    if (state == nullptr) return true;
    for (int i = 0; i < count; ++i) {
        ReportWorkerProgress(state, first + i);
        if (CancelRequested(state)) return false;
    }
    return true;
}

// Column pass from `from` into `to`, then row pass in place in `to`. With a
// state: progress of one step a column and one a row, cancel tests, and
// progressBase advanced after each pass.
bool RunPasses(BlurScratch& scratch, const uint8_t* from, uint8_t* to, int width, int height,
               PluginState* state) {
    double* lanes = scratch.lanes;

    for (int x0 = 0; x0 < width; x0 += kLanes) {
        const int live = std::min(kLanes, width - x0);
        if (!ReportLines(state, state != nullptr ? state->progressBase + x0 : 0, live)) return false;
        for (int y = 0; y < height; ++y) {
            const uint8_t* row = from + ptrdiff_t(y) * width + x0;
            double* line = lanes + ptrdiff_t(y) * kLanes;
            for (int l = 0; l < live; ++l) line[l] = double(row[l]);
            for (int l = live; l < kLanes; ++l) line[l] = 0.0;
        }
        if (!FilterLanes(scratch, height, live, to + x0, width, 1, state)) return false;
    }
    if (state != nullptr) state->progressBase += width;

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
        if (!ReportLines(state, state != nullptr ? state->progressBase + y0 : 0, live)) return false;
        if (!FilterLanes(scratch, width, live, to + ptrdiff_t(y0) * width, 1, width, state))
            return false;
    }
    if (state != nullptr) state->progressBase += height;
    return true;
}

}  // namespace

bool BlurMatte(PluginState* state) {
    const int width = state->width;
    const int height = state->height;
    if (width <= 0 || height <= 0) return true;
    const ParameterRecord* parameters = GetParameters(state->filterRecord);
    const int radius = parameters != nullptr ? parameters->MatteBlur : 0;

    BlurScratch scratch;
    if (!scratch.Obtain(radius, std::max(width, height))) {
        // The run still completes, with the matte as the keying made it.
        std::memcpy(state->finalMatte, state->rawMatte, size_t(width) * size_t(height));
        state->progressBase += width + height;
        return true;
    }
    return RunPasses(scratch, state->rawMatte, state->finalMatte, width, height, state);
}

uint8_t* BlurMatteBuffer(uint8_t* block, int32_t width, int32_t height, int32_t radius) {
    if (block == nullptr || width <= 0 || height <= 0) return block;
    BlurScratch scratch;
    if (!scratch.Obtain(std::max(radius, 0), std::max(width, height))) return block;
    if (!GrantMemoryRequest()) return block;
    auto* result = static_cast<uint8_t*>(AllocLargeBuffer(uint64_t(width) * uint64_t(height)));
    if (result == nullptr) return block;
    RunPasses(scratch, block, result, width, height, nullptr);
    FreeLargeBuffer(block);
    return result;
}

void SetBlurMemoryLimitForTesting(int granted) {
    g_grantedRequests.store(granted < 0 ? -1 : granted, std::memory_order_relaxed);
}

}  // namespace tav
