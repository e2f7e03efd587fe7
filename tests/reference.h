// Plain reference implementations for the tests, written straight from the
// arithmetic the system defines, with no precomputation or scheduling.
#pragma once

#include <cstdint>
#include <vector>

#include "host/parameters.h"

namespace tav::reference {

struct Keyed {
    uint8_t m, r, g, b;
};

// One pixel keyed with the settings of `p` and the level table `table`.
Keyed KeyPixel(const ParameterRecord& p, const int32_t* table, int r, int g, int b, bool inside);

}  // namespace tav::reference
