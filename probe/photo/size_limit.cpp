#include "probe/photo/size_limit.h"

#include <algorithm>

namespace kestrel {

int64_t sizeLimit(int64_t width, int64_t height, int64_t n) {
  const int64_t m = std::max(width, height);
  return m > 0 && m < n ? m : n;
}

bool exceeds(int64_t width, int64_t height, int64_t most) {
  if (width < 0 || height < 0) return true;
  if (width == 0 || height == 0) return false;
  return width > most / height || width * height > most;
}

std::string sizeText(int64_t width, int64_t height) {
  return std::to_string(width) + "\xC3\x97" + std::to_string(height);
}

}  // namespace kestrel
