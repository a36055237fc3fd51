#include "platform/vision/dnn/model_input.h"

namespace kestrel::vision::dnn {

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

}  // namespace kestrel::vision::dnn
