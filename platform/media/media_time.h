#pragma once
#include <cstdint>
#include <limits>

namespace kestrel::media {

// A presentation time: value / timescale seconds. Invalid when the stream gave none.
struct MediaTime {
  int64_t value = 0;
  int32_t timescale = 1;
  bool valid = false;
};

// The time in seconds; NaN when it is invalid.
inline double seconds(const MediaTime& t) {
  if (!t.valid) return std::numeric_limits<double>::quiet_NaN();
  return static_cast<double>(t.value) / t.timescale;
}

}  // namespace kestrel::media
