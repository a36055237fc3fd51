// People, animals and labels: not built yet; finds nothing.
#include "platform/vision/dnn/modules.h"

namespace kestrel::vision::dnn {

Objects detectObjects(const cv::Mat&) { return {}; }

}  // namespace kestrel::vision::dnn
