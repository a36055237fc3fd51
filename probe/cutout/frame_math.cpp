#include "probe/cutout/frame_math.h"

#include <cmath>
#include <limits>

namespace kestrel {

int64_t truncated(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
  if (v <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(v);
}

int64_t clampedIndex(double v, int64_t size) {
  int64_t i = truncated(v);
  if (i < 0) i = 0;
  if (i > size - 1) i = size - 1;
  return i;
}

}  // namespace kestrel
