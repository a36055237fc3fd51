#pragma once
// Person mattes from segmentation outputs: pure pixel logic, no models.
#include <opencv2/core.hpp>

#include "platform/vision/observations.h"

namespace kestrel::vision::dnn {

// The person probability of a two-class logit map (channel 0 background,
// channel 1 person, each h x w, channels-first): a softmax over the two.
cv::Mat personProbability(const float* logits, int height, int width);

// Probabilities (CV_32F) as an 8-bit matte: 0..1 to 0..255, rounded, clamped.
Matte toMatte(const cv::Mat& probability);

// A picture's size, or smaller with the same shape so that its longer side
// is at most `maxSide`.
cv::Size fitWithin(const cv::Size& picture, int maxSide);

}  // namespace kestrel::vision::dnn
