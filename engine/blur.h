// The matte blur: a separable Gaussian of radius r, first down the columns,
// then along the rows, with the kernel clipped at the image's edges and every
// output sample truncated to a byte.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tav {

struct MatteJob;

// The scratch memory BlurMatte needs for a width x height matte.
size_t BlurScratchBytes(int32_t width, int32_t height, int32_t radius);

// Blurs `matte` into `result` (width x height bytes each, not overlapping)
// with `radius`, using `scratch` of BlurScratchBytes. With a job, reports one
// progress step a column and one a row from the job's progressBase on,
// advances progressBase by width + height, and stops when the job is asked
// to: false then (result holds a partial matte). Without scratch (null) it
// copies `matte` into `result` unblurred. True otherwise.
bool BlurMatte(const uint8_t* matte, uint8_t* result, int32_t width, int32_t height, int32_t radius,
               void* scratch, MatteJob* job);

}  // namespace tav
