// The matte choke: grows (maximum) or shrinks (minimum) the opaque part of the
// matte over a square of (2n + 1) x (2n + 1) pixels clipped at the image's
// edges, n = |amount|. Positive amounts grow, negative ones shrink.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tav {

struct MatteJob;

// The scratch memory ChokeMatte needs for a width x height matte.
size_t ChokeScratchBytes(int32_t width, int32_t height, int32_t amount);

// Writes the choke of `matte` into `result` (width x height bytes each, not
// overlapping), using `scratch` of ChokeScratchBytes; without scratch (null)
// every pixel is computed from its whole square, with the same result. With
// a job, reports one progress step a row at the job's progressBase + y
// (without advancing it) and stops when the job is asked to: false then.
bool ChokeMatte(const uint8_t* matte, uint8_t* result, int32_t width, int32_t height, int32_t amount,
                void* scratch, MatteJob* job);

// The choke computed pixel by pixel from each whole clipped square: what
// ChokeMatte does without scratch memory.
void ChokeMatteDirect(const uint8_t* matte, uint8_t* result, int32_t width, int32_t height,
                      int32_t amount);

}  // namespace tav
