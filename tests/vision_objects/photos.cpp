#include "tests/vision_objects/photos.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace kestrel::test {

cv::Mat loadBgra(const std::string& path) {
  cv::Mat bgr = cv::imread(path, cv::IMREAD_COLOR);
  cv::Mat bgra;
  if (!bgr.empty()) cv::cvtColor(bgr, bgra, cv::COLOR_BGR2BGRA);
  return bgra;
}

vision::Results analyse(const cv::Mat& bgra, const vision::Requests& requests,
                        uint32_t orientation) {
  Picture picture{bgra.data, bgra.cols, bgra.rows, static_cast<int64_t>(bgra.step)};
  auto handler = vision::service().handler(picture, orientation);
  vision::Results results;
  std::string error;
  EXPECT_TRUE(handler->perform(requests, results, error)) << error;
  return results;
}

}  // namespace kestrel::test
