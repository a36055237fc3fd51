#pragma once
// The largest frame either program takes, and the one message that refuses more.
#include <cstdint>
#include <string>

namespace kestrel {

// At most 16384 pixels a side: 16384 x 16384 is already 1 GiB as BGRA.
inline constexpr int64_t kMaxFrameSide = 16384;
inline constexpr int64_t kMaxFramePixels = kMaxFrameSide * kMaxFrameSide;

inline bool frameFits(int64_t width, int64_t height) {
  return width >= 0 && height >= 0 && width <= kMaxFrameSide && height <= kMaxFrameSide;
}

// "frames of WxH pixels are too large (at most 16384x16384 pixels)"
inline std::string frameTooLarge(int64_t width, int64_t height) {
  const std::string side = std::to_string(kMaxFrameSide);
  return "frames of " + std::to_string(width) + "x" + std::to_string(height) +
         " pixels are too large (at most " + side + "x" + side + " pixels)";
}

}  // namespace kestrel
