// Faces: not built yet; finds nothing.
#include "platform/vision/dnn/modules.h"

namespace kestrel::vision::dnn {

std::vector<FaceObservation> detectFaces(const cv::Mat&) { return {}; }
std::vector<LandmarksObservation> faceLandmarks(const cv::Mat&) { return {}; }

}  // namespace kestrel::vision::dnn
