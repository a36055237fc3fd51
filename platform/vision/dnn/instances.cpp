// Foreground instances: not built yet; finds none.
#include "platform/vision/dnn/modules.h"

namespace kestrel::vision::dnn {

Instances segmentInstances(const cv::Mat&) { return {}; }

Matte scaledInstanceMask(const Instances&, const std::vector<uint8_t>&, int width, int height) {
  Matte m;
  m.width = width;
  m.height = height;
  m.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
  return m;
}

}  // namespace kestrel::vision::dnn
