#include "probe/cutout/matte_render.h"

#include "platform/imaging/imaging.h"

namespace kestrel {

void renderMatte(const vision::Matte& matte, int64_t width, int64_t height, uint8_t* out) {
  // A matte whose bytes do not cover its size is treated as no matte: the map goes empty.
  const bool whole = matte.width > 0 && matte.height > 0 &&
                     static_cast<uint64_t>(matte.width) <=
                         matte.pixels.size() / static_cast<uint64_t>(matte.height);
  imaging::scaleMatte(
      imaging::GreyView{whole ? matte.pixels.data() : nullptr, matte.width, matte.height, matte.width},
      out, width, height);
}

}  // namespace kestrel
