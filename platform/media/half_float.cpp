#include "platform/media/half_float.h"

#include <cmath>
#include <cstring>

namespace kestrel::media {

uint16_t halfFromFloat(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const uint16_t sign = static_cast<uint16_t>((bits >> 16) & 0x8000u);
  uint32_t magnitude = bits & 0x7fffffffu;
  if (magnitude >= 0x7f800000u)  // infinity, or NaN kept quiet with its top payload bits
    return sign | 0x7c00u | (magnitude > 0x7f800000u ? 0x200u | ((magnitude >> 13) & 0x3ffu) : 0u);
  if (magnitude >= 0x477ff000u) return sign | 0x7c00u;  // 65520 and up round to infinity
  if (magnitude >= 0x38800000u) {
    // Normal half: rebias the exponent by -112 and round the 13 dropped bits to
    // nearest even; a carry out of the mantissa correctly bumps the exponent.
    const uint32_t odd = (magnitude >> 13) & 1u;
    magnitude += 0xc8000fffu + odd;
    return sign | static_cast<uint16_t>(magnitude >> 13);
  }
  // Subnormal half (unit 2^-24): the scaling is exact, nearbyint rounds ties to
  // even, and 1024 correctly becomes the smallest normal half.
  float scaled = std::fabs(value) * 16777216.0f;
  return sign | static_cast<uint16_t>(std::nearbyint(scaled));
}

float floatFromHalf(uint16_t half) {
  const uint32_t sign = static_cast<uint32_t>(half & 0x8000u) << 16;
  const uint32_t exponent = (half >> 10) & 0x1fu;
  const uint32_t mantissa = half & 0x3ffu;
  uint32_t bits;
  if (exponent == 0) {
    float v = static_cast<float>(mantissa) / 16777216.0f;
    return sign ? -v : v;
  }
  if (exponent == 31)
    bits = sign | 0x7f800000u | (mantissa << 13);
  else
    bits = sign | ((exponent + 112) << 23) | (mantissa << 13);
  float v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

void halfRgbaRow(const float* red, const float* green, const float* blue, int64_t width,
                 uint8_t* out) {
  for (int64_t x = 0; x < width; ++x) {
    const uint16_t values[4] = {halfFromFloat(red[x]), halfFromFloat(green[x]),
                                halfFromFloat(blue[x]), 0x3c00u};
    for (uint16_t v : values) {
      *out++ = static_cast<uint8_t>(v & 0xffu);
      *out++ = static_cast<uint8_t>(v >> 8);
    }
  }
}

}  // namespace kestrel::media
