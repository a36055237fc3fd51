#pragma once
#include <cstdint>

namespace kestrel {

// EXIF-style orientation (1, 3, 6 or 8) of a display transform's first row
// (cosine, sine): its rotation angle rounded to whole degrees; mirroring is ignored.
uint32_t orientationOf(double displayCos, double displaySin);

}  // namespace kestrel
