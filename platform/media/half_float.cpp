#include "platform/media/half_float.h"

#include <cmath>
#include <cstring>

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#endif

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

namespace {

void halfRgbaRowPlain(const float* red, const float* green, const float* blue, int64_t width,
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

#if defined(__x86_64__)
// The processor's own conversion, four pixels at a time; it rounds to nearest
// even exactly as halfFromFloat does.
__attribute__((target("f16c,sse2"))) void halfRgbaRowF16c(const float* red, const float* green,
                                                         const float* blue, int64_t width,
                                                         uint8_t* out) {
  const __m128i alpha = _mm_set1_epi16(0x3c00);
  int64_t x = 0;
  for (; x + 4 <= width; x += 4, out += 32) {
    const __m128i r = _mm_cvtps_ph(_mm_loadu_ps(red + x), _MM_FROUND_TO_NEAREST_INT);
    const __m128i g = _mm_cvtps_ph(_mm_loadu_ps(green + x), _MM_FROUND_TO_NEAREST_INT);
    const __m128i b = _mm_cvtps_ph(_mm_loadu_ps(blue + x), _MM_FROUND_TO_NEAREST_INT);
    const __m128i rg = _mm_unpacklo_epi16(r, g);
    const __m128i ba = _mm_unpacklo_epi16(b, alpha);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi32(rg, ba));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi32(rg, ba));
  }
  halfRgbaRowPlain(red + x, green + x, blue + x, width - x, out);
}
#endif

}  // namespace

void halfRgbaRow(const float* red, const float* green, const float* blue, int64_t width,
                 uint8_t* out) {
#if defined(__x86_64__)
  // CPUID leaf 1, ECX bit 29; clang's __builtin_cpu_supports has no "f16c".
  static const bool f16c = [] {
    unsigned a, b, c, d;
    return __get_cpuid(1, &a, &b, &c, &d) && (c & bit_F16C);
  }();
  if (f16c) return halfRgbaRowF16c(red, green, blue, width, out);
#endif
  halfRgbaRowPlain(red, green, blue, width, out);
}

}  // namespace kestrel::media
