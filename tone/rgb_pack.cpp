#include "tone/rgb_pack.h"

namespace kestrel::tone {

void packRgb(const uint8_t* bgra, int64_t width, int64_t height, int64_t stride, uint8_t* rgb) {
  for (int64_t y = 0; y < height; ++y) {
    const uint8_t* s = bgra + y * stride;
    for (int64_t x = 0; x < width; ++x, s += 4, rgb += 3) {
      rgb[0] = s[2];
      rgb[1] = s[1];
      rgb[2] = s[0];
    }
  }
}

}  // namespace kestrel::tone
