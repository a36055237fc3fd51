#include "tests/support/scripted_vision.h"

#include <algorithm>
#include <set>

namespace kestrel::test {
namespace {

class ScriptedHandler final : public vision::Handler {
 public:
  ScriptedHandler(ScriptedService& service, const Picture& picture)
      : service_(service), picture_(picture) {}

  bool perform(const vision::Requests& r, vision::Results& results, std::string& error) override {
    if (r.handPose) {
      ++service_.log.handPoseRequests;
      if (service_.script.failHands) return error = "hands failed", false;
      results = service_.script.hands;
      return true;
    }
    if (service_.script.failCutout) return error = "scripted failure", false;
    results = service_.script.cutout;
    return true;
  }

  bool scaledInstanceMask(const vision::InstanceObservation& o, const std::vector<uint8_t>& chosen,
                          vision::Matte& mask, std::string& error) override {
    service_.log.scaledMaskRequests.push_back(chosen);
    if (service_.script.failScaledMask) return error = "no mask", false;
    if (service_.script.scaledMask) {
      mask = service_.script.scaledMask(o, chosen, picture_.width, picture_.height);
      return true;
    }
    const std::set<uint8_t> set(chosen.begin(), chosen.end());
    mask.width = o.width;
    mask.height = o.height;
    mask.pixels.assign(static_cast<size_t>(o.width * o.height), 0);
    for (int64_t y = 0; y < o.height; ++y)
      for (int64_t x = 0; x < o.width; ++x)
        if (set.count(o.labels[static_cast<size_t>(y * o.stride + x)]))
          mask.pixels[static_cast<size_t>(y * o.width + x)] = 255;
    return true;
  }

 private:
  ScriptedService& service_;
  Picture picture_;
};

}  // namespace

std::unique_ptr<vision::Handler> ScriptedService::handler(const Picture& picture, uint32_t) {
  ++log.handlers;
  return std::make_unique<ScriptedHandler>(*this, picture);
}

std::unique_ptr<vision::Handler> ScriptedService::handler(PixelSource& pixels, uint32_t) {
  ++log.handlers;
  return std::make_unique<ScriptedHandler>(*this, Picture{nullptr, pixels.width(), pixels.height(), 0});
}

vision::InstanceObservation labelMap(int64_t width, int64_t height,
                                     const std::function<uint8_t(int64_t, int64_t)>& label) {
  vision::InstanceObservation o;
  o.width = width;
  o.height = height;
  o.stride = width;
  o.labels.resize(static_cast<size_t>(width * height));
  std::set<uint8_t> present;
  for (int64_t y = 0; y < height; ++y)
    for (int64_t x = 0; x < width; ++x) {
      uint8_t l = label(x, y);
      o.labels[static_cast<size_t>(y * width + x)] = l;
      if (l) present.insert(l);
    }
  o.allInstances.assign(present.begin(), present.end());
  return o;
}

}  // namespace kestrel::test
