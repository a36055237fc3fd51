#pragma once
#include <cstdint>

namespace kestrel {

// A view of 8-bit BGRA pixels: top row first, `stride` bytes per row
// (at least 4 x width). The owner keeps the bytes alive.
struct Picture {
  const uint8_t* data = nullptr;
  int64_t width = 0;
  int64_t height = 0;
  int64_t stride = 0;
};

// Bytes per row of a BGRA picture `width` pixels wide that we allocate: rounded
// up to 64 so every row starts on a cache line and vector loads stay aligned.
inline constexpr int64_t bgraStride(int64_t width) { return (4 * width + 63) / 64 * 64; }

}  // namespace kestrel
