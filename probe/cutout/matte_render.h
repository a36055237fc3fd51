#pragma once
#include <cstdint>

#include "platform/vision/observations.h"

namespace kestrel {

// A matte of any size rendered over width x height bytes, top row first.
void renderMatte(const vision::Matte& matte, int64_t width, int64_t height, uint8_t* out);

}  // namespace kestrel
