// The matte blur: a separable Gaussian of radius r, first down the columns,
// then along the rows, with the kernel clipped at the image's edges and every
// output sample truncated to a byte.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tav {

struct MatteJob;

// The scratch memory BlurMatte needs for a width x height matte on `threads`
// threads.
size_t BlurScratchBytes(int32_t width, int32_t height, int32_t radius, int32_t threads = 1);

// The threads for blurring a width x height matte, `limit` as PassThreads
// takes it: each pass is cut into strips of lines.
int32_t BlurThreads(int32_t limit, int32_t width, int32_t height);

// Blurs `matte` into `result` (width x height bytes each, not overlapping)
// with `radius`, using `scratch` of BlurScratchBytes for `threads` threads,
// which share each pass (see engine/split.h): the columns in strips of
// adjacent columns, then the rows in strips of adjacent rows. With a job,
// reports one progress step a column and one a row from the job's
// progressBase on (the steps of a strip when it is begun), advances
// progressBase by width + height, and stops when the job is asked to: false
// then (result holds a partial matte). Without scratch (null) it copies
// `matte` into `result` unblurred. True otherwise.
bool BlurMatte(const uint8_t* matte, uint8_t* result, int32_t width, int32_t height, int32_t radius,
               void* scratch, MatteJob* job, int32_t threads = 1);

}  // namespace tav
