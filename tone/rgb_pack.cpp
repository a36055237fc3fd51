#include "tone/rgb_pack.h"

namespace kestrel::tone {

void packRgb(Picture bgra, uint8_t* rgb) {
  for (int64_t y = 0; y < bgra.height; ++y) {
    const uint8_t* s = bgra.row(y);
    for (int64_t x = 0; x < bgra.width; ++x, s += 4, rgb += 3) {
      rgb[0] = s[2];
      rgb[1] = s[1];
      rgb[2] = s[0];
    }
  }
}

}  // namespace kestrel::tone
