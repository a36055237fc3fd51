#include "probe/photo/opacity.h"

namespace kestrel {

bool hasTransparency(Picture p) {
  if (p.format != PixelFormat::Rgba8) return false;  // the picture itself has no alpha channel
  if (!p.data || p.width <= 0 || p.height <= 0) return false;
  for (int64_t y = 0; y < p.height; ++y) {
    const uint8_t* end = p.row(y) + p.width * 4;
    for (const uint8_t* a = p.row(y) + 3; a < end; a += 4)
      if (*a != 255) return true;
  }
  return false;
}

}  // namespace kestrel
