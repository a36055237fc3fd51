#pragma once
#include <cstdint>

namespace kestrel::tone {

// BGRA rows of `stride` bytes to packed RGB, 3 bytes a pixel with no row
// padding; alpha and any bytes past 4 x width in a row are dropped.
void packRgb(const uint8_t* bgra, int64_t width, int64_t height, int64_t stride, uint8_t* rgb);

}  // namespace kestrel::tone
