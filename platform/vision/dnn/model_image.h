#pragma once
// The handler's picture as the models read it: turned upright, 8-bit BGR,
// taken from the pixel source only in the parts and at the sizes a model
// asks for, so that a decoded frame is never converted whole at full size.
#include <array>
#include <cstdint>

#include <opencv2/core.hpp>

#include "platform/pixel_source.h"
#include "platform/vision/dnn/detection_geometry.h"

namespace kestrel::vision::dnn {

class ModelImage {
 public:
  // EXIF orientations 1, 3, 6 and 8 say how the stored picture is turned.
  ModelImage(PixelSource& source, uint32_t orientation);
  int cols() const { return cols_; }  // upright size
  int rows() const { return rows_; }

  // The whole picture scaled to `size` (averaging when shrinking), whatever
  // its shape.
  cv::Mat scaled(const cv::Size& size);
  // The whole picture scaled into the letterbox's square, black around it.
  cv::Mat letterbox(const Letterbox& box);
  // The part of `wanted` that lies in the picture, at full resolution, and
  // where it is (`got`, which may reach a pixel or so beyond `wanted`'s
  // clipped edges). Empty when nothing of `wanted` is in the picture.
  cv::Mat region(const cv::Rect& wanted, cv::Rect& got);
  // What a 2x3 affine map (picture -> crop) sends onto a side x side crop,
  // bilinear from the full-resolution picture, black outside it.
  cv::Mat affineCrop(const std::array<double, 6>& pictureToCrop, int side);
  // A square of the picture scaled to side x side, black outside the picture.
  cv::Mat square(const cv::Rect& area, int side);

 private:
  cv::Rect stored(const cv::Rect& upright) const;
  cv::Rect upright(const cv::Rect& stored) const;
  // The stored region (aligned) scaled to width x height (upright sizes), turned upright.
  cv::Mat fetch(const cv::Rect& storedRegion, int width, int height);

  PixelSource& source_;
  uint32_t orientation_;
  int width_, height_;  // stored size
  int cols_, rows_;
};

}  // namespace kestrel::vision::dnn
