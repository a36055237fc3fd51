#pragma once
#include <cstdint>

namespace kestrel {

// EXIF-style orientation (1, 3, 6 or 8) of a display transform's first row
// (a, b): its rotation angle rounded to whole degrees; mirroring is ignored.
uint32_t orientationOf(double a, double b);

}  // namespace kestrel
