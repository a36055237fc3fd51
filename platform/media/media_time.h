#pragma once
#include <cstdint>

namespace kestrel::media {

// A presentation time: value / timescale seconds. Invalid when the stream gave none.
struct MediaTime {
  int64_t value = 0;
  int32_t timescale = 1;
  bool valid = false;
};

}  // namespace kestrel::media
