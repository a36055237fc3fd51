#pragma once
// Shrinking a picture by a whole factor: each factor x factor block of pixels
// becomes one, their average. That is exact area averaging at a fraction of a
// general resampler's cost, so the models' inputs are made from a picture
// shrunk so, and only the small rest of their scaling is general.
#include <cstdint>

#include "platform/picture.h"
#include "platform/pixel_source.h"

namespace kestrel::imaging {

inline constexpr int64_t kLargestShrink = 255;

// A side of `side` pixels shrunk by `factor`; a block the edge cuts short
// makes a pixel too.
constexpr int64_t shrunkSide(int64_t side, int64_t factor) { return (side + factor - 1) / factor; }

// Each pixel of `out` is the average, rounded to nearest, of its factor x
// factor block of `source`; a block the right or bottom edge cuts short
// averages the pixels it holds. `out` is shrunkSide() of the source on each
// side, in the source's format or in that format without its alpha (Bgra8 to
// Bgr8, Rgba8 to Rgb8). Formats of one byte a channel; factors 1 to
// kLargestShrink. False, with nothing written, for anything else.
bool shrinkByWholeFactor(Picture source, int64_t factor, MutablePicture out);

// The largest whole factor up to kLargestShrink that divides the region's
// position and size and leaves it at least outWidth x outHeight: the region of
// the picture shrunk by it is then exactly the region shrunk. 1 when no larger
// one does.
int64_t largestWholeFactor(const PixelRegion& region, int64_t outWidth, int64_t outHeight);

}  // namespace kestrel::imaging
