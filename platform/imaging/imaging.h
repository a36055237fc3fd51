#pragma once
// The imaging service: what the cutout modes ask of the platform to turn mattes
// into byte maps. Every output is one byte per pixel, row stride = width, top
// row first. A failure (sizes the library cannot take) leaves the output all
// zero, so a frame goes on with an empty map.
#include <cstdint>

namespace kestrel::imaging {

// A read-only 8-bit map: `stride` bytes per row (at least width), top row first.
struct GreyView {
  const uint8_t* data = nullptr;
  int64_t width = 0;
  int64_t height = 0;
  int64_t stride = 0;
};

// Scales `source` to cover width x height with bilinear filtering (pixel
// centres lined up, edges clamped) and writes it into `out`.
// Returns false, with `out` zeroed, when the source is empty or too large.
bool scaleMatte(GreyView source, uint8_t* out, int64_t width, int64_t height);

// Morphological maximum over a disk: out[x, y] is the largest source value at
// any (x + dx, y + dy) inside the frame with dx^2 + dy^2 <= radius^2. A radius
// below 1 copies. `source` and `out` hold width x height bytes and must not overlap.
bool dilateDisk(const uint8_t* source, uint8_t* out, int64_t width, int64_t height, double radius);

}  // namespace kestrel::imaging
