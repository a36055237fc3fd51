#include "probe/analysis/thumbnail.h"

#include <cstddef>

namespace kestrel {

std::vector<uint8_t> thumbnail(const Picture& picture) {
  if (!picture.data || picture.width <= 0 || picture.height <= 0) return {};
  const int64_t W = picture.width, H = picture.height, B = picture.stride;
  std::vector<uint8_t> out(THUMB_COLUMNS * THUMB_ROWS, 0);
  const int64_t offX = W / 256, offY = H / 144;
  for (int64_t i = 0; i < THUMB_ROWS; ++i) {
    for (int64_t j = 0; j < THUMB_COLUMNS; ++j) {
      int64_t sum = 0;
      for (int64_t k = 0; k < 4; ++k) {
        int64_t y = offY + (H * (4 * i + k)) / 72;
        if (y > H - 1) y = H - 1;
        for (int64_t q = 0; q < 4; ++q) {
          int64_t x = offX + (W * (4 * j + q)) / 128;
          if (x > W - 1) x = W - 1;
          const uint8_t* p = picture.data + y * B + 4 * x;
          sum += (299 * int64_t{p[2]} + 587 * int64_t{p[1]} + 114 * int64_t{p[0]}) / 1000;
        }
      }
      out[static_cast<std::size_t>(THUMB_COLUMNS * i + j)] = static_cast<uint8_t>(sum / 16);
    }
  }
  return out;
}

}  // namespace kestrel
