#pragma once
// Turning the upright picture into model inputs.
#include <opencv2/core.hpp>

namespace kestrel::vision::dnn {

// An 8-bit BGR image written as a model input: RGB planes one after another
// (channels first), each value v * scale + shift; dst holds 3 x rows x cols.
void writeRgbPlanes(const cv::Mat& bgr, float scale, float shift, float* dst);
// The same with the channels last (rows x cols x 3), for NHWC models.
void writeRgbPixels(const cv::Mat& bgr, float scale, float shift, float* dst);

}  // namespace kestrel::vision::dnn
