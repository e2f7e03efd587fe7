#include "engine/screen.h"

namespace tav {

int ScreenColorOf(const uint8_t* first, int columns, int rows, size_t rowBytes, int stride) {
    // 64-bit sums: a large image overflows 32 bits and would decide by the
    // wrapped remainders.
    uint64_t greenSum = 0, blueSum = 0;
    for (int y = 0; y < rows; ++y) {
        const uint8_t* p = first + rowBytes * size_t(y);
        for (int x = 0; x < columns; ++x, p += stride) {
            greenSum += p[1];
            blueSum += p[2];
        }
    }
    return ScreenColorOfSums(greenSum, blueSum);
}

}  // namespace tav
