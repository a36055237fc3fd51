#pragma once
#include <cstdint>

#include "platform/picture.h"

namespace kestrel::tone {

// A BGRA picture to packed RGB, 3 bytes a pixel with no row padding; alpha
// and any bytes past 4 x width in a row are dropped.
void packRgb(Picture bgra, uint8_t* rgb);

}  // namespace kestrel::tone
