#include "platform/vision/dnn/bgra_pixels.h"

#include <opencv2/imgproc.hpp>

namespace kestrel::vision::dnn {

bool BgraPixels::bgr(const PixelRegion& r, int w, int h, uint8_t* out, int64_t outStride) {
  if (!picture_.data || r.x < 0 || r.y < 0 || r.width <= 0 || r.height <= 0 || w <= 0 || h <= 0 ||
      r.x + r.width > picture_.width || r.y + r.height > picture_.height)
    return false;
  const cv::Mat bgra(static_cast<int>(picture_.height), static_cast<int>(picture_.width), CV_8UC4,
                     const_cast<uint8_t*>(picture_.data), static_cast<size_t>(picture_.stride));
  const cv::Mat part = bgra(cv::Rect(static_cast<int>(r.x), static_cast<int>(r.y), static_cast<int>(r.width),
                                     static_cast<int>(r.height)));
  cv::Mat dst(h, w, CV_8UC3, out, static_cast<size_t>(outStride));
  if (part.cols == w && part.rows == h) {
    cv::cvtColor(part, dst, cv::COLOR_BGRA2BGR);
    return true;
  }
  cv::Mat scaled;
  const bool shrinking = w < part.cols || h < part.rows;
  cv::resize(part, scaled, dst.size(), 0, 0, shrinking ? cv::INTER_AREA : cv::INTER_LINEAR);
  cv::cvtColor(scaled, dst, cv::COLOR_BGRA2BGR);
  return true;
}

}  // namespace kestrel::vision::dnn
