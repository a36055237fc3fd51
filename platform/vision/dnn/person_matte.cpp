#include "platform/vision/dnn/person_matte.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

namespace kestrel::vision::dnn {

cv::Mat personProbability(const float* logits, int height, int width) {
  cv::Mat background(height, width, CV_32F, const_cast<float*>(logits));
  cv::Mat person(height, width, CV_32F, const_cast<float*>(logits) + static_cast<size_t>(height) * width);
  // softmax(b, p)[1] = 1 / (1 + exp(b - p)); exp of a large difference saturates to 0 or 1.
  cv::Mat diff = background - person;
  cv::min(diff, 80.0, diff);
  cv::Mat e;
  cv::exp(diff, e);
  cv::Mat out;
  cv::divide(1.0, 1.0 + e, out, CV_32F);
  return out;
}

Matte toMatte(const cv::Mat& probability) {
  Matte m;
  m.width = probability.cols;
  m.height = probability.rows;
  m.pixels.resize(static_cast<size_t>(m.width) * static_cast<size_t>(m.height));
  cv::Mat bytes(probability.rows, probability.cols, CV_8U, m.pixels.data());
  probability.convertTo(bytes, CV_8U, 255.0);  // rounds and saturates
  return m;
}

cv::Size fitWithin(const cv::Size& picture, int maxSide) {
  const int longer = std::max(picture.width, picture.height);
  if (longer <= maxSide) return picture;
  const double f = static_cast<double>(maxSide) / longer;
  return cv::Size(std::max(1, static_cast<int>(std::lround(picture.width * f))),
                  std::max(1, static_cast<int>(std::lround(picture.height * f))));
}

}  // namespace kestrel::vision::dnn
