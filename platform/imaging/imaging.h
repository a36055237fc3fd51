#pragma once
// The imaging service: what the cutout modes ask of the platform to turn mattes
// into byte maps. Every map is a one-byte-a-pixel picture (PixelFormat::Grey8),
// top row first. A failure (sizes the library cannot take) leaves the output
// all zero, so a frame goes on with an empty map.
#include <cstdint>

#include "platform/picture.h"

namespace kestrel::imaging {

// Scales `source` to cover all of `out` with bilinear filtering (pixel centres
// lined up, edges clamped). Returns false, with `out` zeroed, when the source
// is empty, too large or not one byte a pixel.
bool scaleMatte(Picture source, MutablePicture out);

// Morphological maximum over a disk: out[x, y] is the largest source value at
// any (x + dx, y + dy) inside the frame with dx^2 + dy^2 <= radius^2. A radius
// below 1 copies. `source` and `out` have the same size and must not overlap.
bool dilateDisk(Picture source, MutablePicture out, double radius);

}  // namespace kestrel::imaging
