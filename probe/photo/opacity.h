#pragma once
#include "platform/picture.h"

namespace kestrel {

// Whether a decoded picture is written with alpha: it has an alpha channel,
// it has pixels, and at least one of them has an alpha below 255. The scan
// stops at the first such pixel.
bool hasTransparency(Picture picture);

}  // namespace kestrel
