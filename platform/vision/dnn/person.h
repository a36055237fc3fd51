#pragma once
// Person segmentation at the fast and balanced levels. The accurate level is
// videoMatte (rvm.h).
#include <opencv2/core.hpp>

#include "platform/vision/observations.h"
#include "platform/vision/vision.h"

namespace kestrel::vision::dnn {

// The picture's person matte at the level's model's own size, 8-bit.
Matte segmentPerson(const cv::Mat& bgr, PersonQuality quality);

// Starts loading the level's model (see loadSoon).
void preparePerson(PersonQuality quality);

}  // namespace kestrel::vision::dnn
