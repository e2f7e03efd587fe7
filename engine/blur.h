// The matte blur: a separable Gaussian of radius MatteBlur, first down the
// columns, then along the rows, with the kernel clipped at the image's edges
// and every output sample truncated to a byte.
#pragma once

#include <cstdint>

namespace tav {

struct PluginState;

// The worker's stage: blurs `rawMatte` into `finalMatte` (width x height
// bytes each) with the radius MatteBlur of the Parameter record. Reports
// `width` progress steps for the column pass and `height` for the row pass
// from `progressBase` on, and advances `progressBase` by width + height.
// Returns false when a cancel request stopped it (finalMatte then holds a
// partial result); true otherwise. Without scratch memory it copies rawMatte
// into finalMatte unblurred and returns true.
bool BlurMatte(PluginState* state);

// The preview's form: blurs a block of width x height bytes from the
// Large-buffer allocator with `radius`. Returns a new block (release it with
// FreeLargeBuffer) and releases `block`; without memory it returns `block`
// itself, unchanged and still owned by the caller.
uint8_t* BlurMatteBuffer(uint8_t* block, int32_t width, int32_t height, int32_t radius);

// Test hook: the next `granted` memory requests of the blur succeed and every
// later one fails, until the hook is set again; -1 (the default) lets every
// request through.
void SetBlurMemoryLimitForTesting(int granted);

}  // namespace tav
