#pragma once
#include <cstdint>
#include <vector>

#include "platform/picture.h"
#include "platform/pixel_source.h"

namespace kestrel::vision::dnn {

// A BGRA picture (a streamed frame, a photo) as a pixel source. Shrinking by
// a whole factor goes through the whole picture box-averaged by that factor,
// made by the first request for all of the picture and kept: the models'
// whole views of one frame share it, and each scales it only the rest of the
// way, which costs a general resampler a small part of what the full picture
// would.
class BgraPixels final : public PixelSource {
 public:
  explicit BgraPixels(const Picture& picture) : picture_(picture) {}
  int64_t width() const override { return picture_.width; }
  int64_t height() const override { return picture_.height; }
  int64_t alignment() const override { return 1; }
  bool bgr(const PixelRegion& region, int outWidth, int outHeight, uint8_t* out, int64_t outStride) override;

 private:
  struct Shrunk {
    int64_t factor = 1;
    std::vector<uint8_t> bytes;
    Picture picture;  // Bgr8
  };
  // The picture shrunk by `factor`, made when `make` and not kept yet; null
  // data when it is neither kept nor made.
  Picture shrunk(int64_t factor, bool make);

  Picture picture_;
  std::vector<Shrunk> shrunk_;
};

}  // namespace kestrel::vision::dnn
