#pragma once
// Turning the upright picture into model inputs.
#include <array>

#include <opencv2/core.hpp>

#include "platform/vision/dnn/detection_math.h"

namespace kestrel::vision::dnn {

// The picture resized into the letterbox's square (area averaging when
// shrinking), padded with black: 8-bit BGR, side x side.
cv::Mat letterboxImage(const cv::Mat& bgr, const Letterbox& box);

// An 8-bit BGR image written as a model input: RGB planes one after another
// (channels first), each value v * scale + shift; dst holds 3 x rows x cols.
void writeRgbPlanes(const cv::Mat& bgr, float scale, float shift, float* dst);
// The same with the channels last (rows x cols x 3), for NHWC models.
void writeRgbPixels(const cv::Mat& bgr, float scale, float shift, float* dst);

// The part of the picture that a 2x3 affine map (picture -> crop) sends onto
// a side x side crop, bilinear, black outside the picture.
cv::Mat affineCrop(const cv::Mat& bgr, const std::array<double, 6>& pictureToCrop, int side);

}  // namespace kestrel::vision::dnn
