#include "probe/analysis/orientation.h"

#include <cmath>

namespace kestrel {

uint32_t orientationOf(double displayCos, double displaySin) {
  const double pi = 3.141592653589793;
  const int64_t angle = static_cast<int64_t>(std::round(std::atan2(displaySin, displayCos) * 180.0 / pi));
  const int64_t r = ((angle + 360) % 360 + 360) % 360;
  switch (r) {
    case 90: return 6;
    case 180: return 3;
    case 270: return 8;
    default: return 1;
  }
}

}  // namespace kestrel
