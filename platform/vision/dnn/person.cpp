// Person segmentation: not built yet; gives no matte.
#include "platform/vision/dnn/modules.h"

namespace kestrel::vision::dnn {

Matte segmentPerson(const cv::Mat&, PersonQuality) { return {}; }

}  // namespace kestrel::vision::dnn
