#pragma once
// Real photos that Debian packages ship, run through the vision service.
#include <string>

#include <opencv2/core.hpp>

#include "platform/vision/vision.h"

namespace kestrel::test {

inline const char* kChelsea = "/usr/lib/python3/dist-packages/skimage/data/chelsea.png";
inline const char* kAstronaut = "/usr/lib/python3/dist-packages/skimage/data/astronaut.png";
inline const char* kCoffee = "/usr/lib/python3/dist-packages/skimage/data/coffee.png";
inline const char* kDog = "/usr/share/darknet/data/dog.jpg";
inline const char* kPerson = "/usr/share/darknet/data/person.jpg";
inline const char* kHand = "/usr/share/doc/opencv-doc/opencv4/html/handSrc.jpg";

// The photo as 8-bit BGRA; empty when it can't be read.
cv::Mat loadBgra(const std::string& path);

// Performs the requests on the picture (upright: orientation 1, or another
// EXIF orientation). Fails the test when the service reports an error.
vision::Results analyse(const cv::Mat& bgra, const vision::Requests& requests,
                        uint32_t orientation = 1);

}  // namespace kestrel::test
