// Which backing screen an image was shot on: the decision by the image's
// green and blue sums, shared by the plug-in's capture (which adds the bytes
// up as it copies them) and programs that decide before they run the filter.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tav {

// 1 for a green screen, 0 for blue: green when the blue bytes add up to less
// than the green ones.
inline int ScreenColorOfSums(uint64_t greenSum, uint64_t blueSum) { return blueSum < greenSum ? 1 : 0; }

// The same decision over `rows` rows of `columns` pixels, the rows
// `rowBytes` apart and the pixels `stride` bytes apart (R, G, B first).
int ScreenColorOf(const uint8_t* first, int columns, int rows, size_t rowBytes, int stride);

}  // namespace tav
