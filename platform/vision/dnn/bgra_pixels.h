#pragma once
#include "platform/picture.h"
#include "platform/pixel_source.h"

namespace kestrel::vision::dnn {

// A BGRA picture (a streamed frame, a photo) as a pixel source.
class BgraPixels final : public PixelSource {
 public:
  explicit BgraPixels(const Picture& picture) : picture_(picture) {}
  int64_t width() const override { return picture_.width; }
  int64_t height() const override { return picture_.height; }
  int64_t alignment() const override { return 1; }
  bool bgr(const PixelRegion& region, int outWidth, int outHeight, uint8_t* out, int64_t outStride) override;

 private:
  Picture picture_;
};

}  // namespace kestrel::vision::dnn
