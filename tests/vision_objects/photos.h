#pragma once
// Real photos that Debian packages ship, run through the vision service.
#include <string>

#include <opencv2/core.hpp>

#include "platform/vision/vision.h"
#include "tests/support/fixture_photos.h"

namespace kestrel::test {

// The photo as 8-bit BGRA; empty when it can't be read.
cv::Mat loadBgra(const std::string& path);

// Performs the requests on the picture (upright: orientation 1, or another
// EXIF orientation). Fails the test when the service reports an error.
vision::Results analyse(const cv::Mat& bgra, const vision::Requests& requests,
                        uint32_t orientation = 1);

}  // namespace kestrel::test
