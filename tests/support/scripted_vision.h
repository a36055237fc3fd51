#pragma once
// A vision service that answers with scripted observations, for testing the
// modes' logic without models.
#include <functional>
#include <string>
#include <vector>

#include "platform/vision/vision.h"

namespace kestrel::test {

struct VisionScript {
  vision::Results cutout;     // answer to any request set without hand pose
  vision::Results hands;      // answer to a hand-pose request
  bool failCutout = false;
  bool failHands = false;
  bool failScaledMask = false;
  // Scaled mask of chosen instances over the picture; default: 255 where the
  // observation's label (at the same size as the picture) is chosen.
  std::function<vision::Matte(const vision::InstanceObservation&, const std::vector<uint8_t>&,
                              int64_t, int64_t)>
      scaledMask;
};

// What the handlers were asked, in order.
struct VisionLog {
  int handlers = 0;
  int handPoseRequests = 0;
  std::vector<std::vector<uint8_t>> scaledMaskRequests;
};

class ScriptedService final : public vision::Service {
 public:
  VisionScript script;
  VisionLog log;
  std::string description() const override { return "scripted"; }
  std::unique_ptr<vision::Handler> handler(const Picture& picture, uint32_t orientation) override;
  std::unique_ptr<vision::Handler> handler(PixelSource& pixels, uint32_t orientation) override;
};

// A label map of width x height (stride = width) from a function of (x, y).
vision::InstanceObservation labelMap(int64_t width, int64_t height,
                                     const std::function<uint8_t(int64_t, int64_t)>& label);

}  // namespace kestrel::test
