// The keying of a run of pixels on the AVX2 unit, eight at a time, for the
// settings it can take (see VectorKeyingFits). Chosen by KeyInsideRun.
#pragma once

#include <cstdint>

#include "engine/keying.h"

namespace tav {

// Whether this processor and its system run AVX2 code.
bool HaveAvx2();

// Keys the first pixels of the run, a multiple of eight, and tells how many;
// the bytes KeyPixel gives for each. The rest are the caller's.
int32_t KeyInsideRunAvx2(const uint8_t* in, int32_t count, const KeySettings& s, const int32_t* table,
                         uint8_t* matte, uint8_t* foreground);

}  // namespace tav
