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

}  // namespace kestrel
