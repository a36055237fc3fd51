#pragma once
#include <cstdint>

namespace kestrel::media {

// IEEE 754 half precision, rounded to nearest with ties to even; values too
// large for a half become infinities, NaN stays NaN.
uint16_t halfFromFloat(float value);
// Exact: every half is a float.
float floatFromHalf(uint16_t half);

// One row of planar float red, green and blue as packed half-precision RGBA
// (8 bytes a pixel, little-endian), alpha 1.
void halfRgbaRow(const float* red, const float* green, const float* blue, int64_t width,
                 uint8_t* out);

}  // namespace kestrel::media
