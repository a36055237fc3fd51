// The imaging service's scaling, on OpenCV imgproc.
#include <climits>
#include <cstring>
#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgproc.hpp>

#include "platform/imaging/imaging.h"

namespace kestrel::imaging {

namespace {

void quietOpenCV() {
  static const bool once = [] {
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    return true;
  }();
  (void)once;
}

bool fitsMat(int64_t width, int64_t height) {
  return width > 0 && height > 0 && width <= INT_MAX && height <= INT_MAX;
}

}  // namespace

bool scaleMatte(Picture source, MutablePicture out) {
  quietOpenCV();
  const auto zero = [&] {
    for (int64_t y = 0; y < out.height; ++y) std::memset(out.row(y), 0, static_cast<size_t>(out.width));
    return false;
  };
  if (!source.data || source.format != PixelFormat::Grey8 || !fitsMat(source.width, source.height) ||
      !fitsMat(out.width, out.height) || source.stride < source.width) {
    return zero();
  }
  try {
    const cv::Mat from(static_cast<int>(source.height), static_cast<int>(source.width), CV_8UC1,
                       const_cast<uint8_t*>(source.data), static_cast<size_t>(source.stride));
    cv::Mat to(static_cast<int>(out.height), static_cast<int>(out.width), CV_8UC1, out.data,
               static_cast<size_t>(out.stride));
    // Half-pixel centres, as an image scaled by a transform is sampled.
    cv::resize(from, to, to.size(), 0, 0, cv::INTER_LINEAR);
    return to.data == out.data || zero();
  } catch (const cv::Exception&) {
    return zero();
  }
}

}  // namespace kestrel::imaging
