#pragma once
#include <cstdint>

namespace kestrel {

// A rectangle of a picture in whole pixels, top-left origin.
struct PixelRegion {
  int64_t x = 0, y = 0, width = 0, height = 0;
};

// A picture that hands out parts of itself as 8-bit BGR at the size asked
// for, converted straight from whatever it holds, so that no reader has to
// convert the whole picture at full size first. Used from one thread at a time.
class PixelSource {
 public:
  virtual ~PixelSource() = default;
  virtual int64_t width() const = 0;
  virtual int64_t height() const = 0;
  // Regions must start on multiples of this (chroma subsampling) in x and y;
  // sizes that are multiples of it too (or reach the picture's edge) convert
  // exactly as the whole picture does.
  virtual int64_t alignment() const = 0;
  // The region (inside the picture, aligned) resampled to outWidth x outHeight
  // BGR rows of outStride bytes: averaging when shrinking, bilinear otherwise.
  // False when it cannot be converted.
  virtual bool bgr(const PixelRegion& region, int outWidth, int outHeight, uint8_t* out,
                   int64_t outStride) = 0;
};

}  // namespace kestrel
