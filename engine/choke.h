// The matte choke: grows (maximum) or shrinks (minimum) the opaque part of the
// matte over a square of (2n + 1) x (2n + 1) pixels clipped at the image's
// edges, n = |amount|. Positive amounts grow, negative ones shrink.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tav {

struct MatteJob;

// The scratch memory ChokeMatte needs for a width x height matte on
// `threads` threads.
size_t ChokeScratchBytes(int32_t width, int32_t height, int32_t amount, int32_t threads = 1);

// Writes the choke of `matte` into `result` (width x height bytes each, not
// overlapping), using `scratch` of ChokeScratchBytes for `threads` threads,
// which share the work in bands of rows (see engine/split.h); without scratch
// (null) every pixel is computed from its whole square, a piece a row, with
// the same result. With a job, reports one progress step a row from the
// job's progressBase on (without advancing it; with one thread the step of
// row y is progressBase + y) and stops when the job is asked to: false then.
bool ChokeMatte(const uint8_t* matte, uint8_t* result, int32_t width, int32_t height, int32_t amount,
                void* scratch, MatteJob* job, int32_t threads = 1);

// The choke computed pixel by pixel from each whole clipped square: what
// ChokeMatte does without scratch memory.
void ChokeMatteDirect(const uint8_t* matte, uint8_t* result, int32_t width, int32_t height,
                      int32_t amount);

}  // namespace tav
