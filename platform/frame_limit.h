#pragma once
// The largest frame either program takes, and the one message that refuses more.
#include <cstdint>
#include <string>

namespace kestrel {

// 16384 x 16384 pixels, already 1 GiB as BGRA.
inline constexpr int64_t MAX_FRAME_SIDE = 16384;
inline constexpr int64_t MAX_FRAME_PIXELS = MAX_FRAME_SIDE * MAX_FRAME_SIDE;

// "frames of WxH pixels are too large (at most 16384x16384 pixels)"
inline std::string frameTooLarge(int64_t width, int64_t height) {
  const std::string side = std::to_string(MAX_FRAME_SIDE);
  return "frames of " + std::to_string(width) + "x" + std::to_string(height) +
         " pixels are too large (at most " + side + "x" + side + " pixels)";
}

}  // namespace kestrel
