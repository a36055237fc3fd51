#pragma once
// Person mattes from Robust Video Matting (MobileNetV3), converted at fixed
// input sizes and downsample ratios, with its four recurrent states carried
// from frame to frame of a stream.
#include <opencv2/core.hpp>

#include "platform/vision/vision.h"

namespace kestrel::vision::dnn {

// One conversion of the model (models/recipes/rvm.sh): its file and the input
// size it takes. The downsample ratio is baked in.
struct VideoMatteModel {
  const char* file;
  int width, height;
};

// The conversion a person-matte level uses.
const VideoMatteModel& videoMatteModel(PersonQuality quality);
// The conversion the foreground instances' people come from (and the
// cutout's matte): ratio 0.5, as the accurate level. At the balanced level's
// 0.375 the cutout loses a tenth of the people in Debian's basketball photos
// and street clip.
const VideoMatteModel& instancesMatteModel();

// Where a picture goes inside a model input of the given size: scaled
// uniformly to fit and centred, so that people keep their shape.
cv::Rect placeInside(const cv::Size& picture, const cv::Size& input);

// The picture's person matte (CV_32F, 0..1) at the size the picture takes
// inside the model's input. With a session, the model starts from the state
// the session's previous frame left and leaves its own there; without one,
// or with a state of other sizes, it starts from zero states.
cv::Mat videoMatte(const cv::Mat& bgr, StreamSession* session, const VideoMatteModel& model);
// Starts loading the model (see loadSoon).
void prepareVideoMatte(const VideoMatteModel& model);

}  // namespace kestrel::vision::dnn
