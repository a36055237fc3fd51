#include "probe/photo/opacity.h"

namespace kestrel {

bool hasTransparency(const photo::Pixels& p) {
  if (p.bands != 4) return false;  // the picture itself has no alpha channel
  if (!p.data || p.width <= 0 || p.height <= 0) return false;
  const uint8_t* end = p.data + p.width * p.height * 4;
  for (const uint8_t* a = p.data + 3; a < end; a += 4)
    if (*a != 255) return true;
  return false;
}

}  // namespace kestrel
