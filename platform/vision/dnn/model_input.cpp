#include "platform/vision/dnn/model_input.h"

#include <opencv2/imgproc.hpp>

namespace kestrel::vision::dnn {

cv::Mat letterboxImage(const cv::Mat& bgr, const Letterbox& box) {
  cv::Mat square(box.side, box.side, CV_8UC3, cv::Scalar::all(0));
  cv::Mat inner = square(cv::Rect(box.offsetX, box.offsetY, box.innerWidth, box.innerHeight));
  const bool shrinking = box.innerWidth < bgr.cols;
  cv::resize(bgr, inner, inner.size(), 0, 0, shrinking ? cv::INTER_AREA : cv::INTER_LINEAR);
  return square;
}

void writeRgbPlanes(const cv::Mat& bgr, float scale, float shift, float* dst) {
  const size_t plane = static_cast<size_t>(bgr.rows) * static_cast<size_t>(bgr.cols);
  for (int y = 0; y < bgr.rows; ++y) {
    const uint8_t* p = bgr.ptr<uint8_t>(y);
    float* r = dst + static_cast<size_t>(y) * static_cast<size_t>(bgr.cols);
    for (int x = 0; x < bgr.cols; ++x, p += 3) {
      r[x] = p[2] * scale + shift;
      r[x + plane] = p[1] * scale + shift;
      r[x + 2 * plane] = p[0] * scale + shift;
    }
  }
}

void writeRgbPixels(const cv::Mat& bgr, float scale, float shift, float* dst) {
  for (int y = 0; y < bgr.rows; ++y) {
    const uint8_t* p = bgr.ptr<uint8_t>(y);
    float* out = dst + static_cast<size_t>(y) * static_cast<size_t>(bgr.cols) * 3;
    for (int x = 0; x < bgr.cols; ++x, p += 3, out += 3) {
      out[0] = p[2] * scale + shift;
      out[1] = p[1] * scale + shift;
      out[2] = p[0] * scale + shift;
    }
  }
}

cv::Mat affineCrop(const cv::Mat& bgr, const std::array<double, 6>& m, int side) {
  cv::Mat map(2, 3, CV_64F, const_cast<double*>(m.data()));
  cv::Mat crop;
  cv::warpAffine(bgr, crop, map, cv::Size(side, side), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                 cv::Scalar::all(0));
  return crop;
}

}  // namespace kestrel::vision::dnn
