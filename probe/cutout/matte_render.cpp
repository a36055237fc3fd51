#include "probe/cutout/matte_render.h"

#include "platform/imaging/imaging.h"

namespace kestrel {

void renderMatte(const vision::Matte& matte, int64_t width, int64_t height, uint8_t* out) {
  imaging::scaleMatte(imaging::GreyView{matte.pixels.data(), matte.width, matte.height, matte.width},
                      out, width, height);
}

}  // namespace kestrel
