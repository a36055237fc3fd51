// Hands: not built yet; finds nothing.
#include "platform/vision/dnn/modules.h"

namespace kestrel::vision::dnn {

std::vector<HandObservation> detectHands(const cv::Mat&, int) { return {}; }

}  // namespace kestrel::vision::dnn
