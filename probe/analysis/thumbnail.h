#pragma once
#include <cstdint>
#include <vector>

#include "platform/picture.h"

namespace kestrel {

inline constexpr int kThumbColumns = 32;
inline constexpr int kThumbRows = 18;

// A 32 x 18 grey picture of a BGRA frame, top row first: each byte the mean of
// 4 x 4 single-pixel samples taken at the middles of a 128 x 72 grid. Empty
// when the picture has no pixels.
std::vector<uint8_t> thumbnail(const Picture& picture);

// The rows of a picture `height` rows high that the thumbnail reads, in
// ascending order (with repeats on pictures under 72 rows).
std::vector<int64_t> thumbnailRows(int64_t height);

}  // namespace kestrel
