#include "platform/vision/dnn/model_input.h"

#include <opencv2/dnn.hpp>
#include <opencv2/imgproc.hpp>

namespace kestrel::vision::dnn {

cv::Mat letterboxImage(const cv::Mat& bgr, const Letterbox& box) {
  cv::Mat square(box.side, box.side, CV_8UC3, cv::Scalar::all(0));
  cv::Mat inner = square(cv::Rect(box.offsetX, box.offsetY, box.innerWidth, box.innerHeight));
  const bool shrinking = box.innerWidth < bgr.cols;
  cv::resize(bgr, inner, inner.size(), 0, 0, shrinking ? cv::INTER_AREA : cv::INTER_LINEAR);
  return square;
}

cv::Mat rgbBlob(const cv::Mat& bgr, double scale) {
  return cv::dnn::blobFromImage(bgr, scale, cv::Size(), cv::Scalar(), /*swapRB=*/true, false, CV_32F);
}

cv::Mat affineCrop(const cv::Mat& bgr, const std::array<double, 6>& m, int side) {
  cv::Mat map(2, 3, CV_64F, const_cast<double*>(m.data()));
  cv::Mat crop;
  cv::warpAffine(bgr, crop, map, cv::Size(side, side), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                 cv::Scalar::all(0));
  return crop;
}

}  // namespace kestrel::vision::dnn
