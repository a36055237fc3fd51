#include "probe/cutout/held.h"

#include <algorithm>

#include "probe/cutout/cutout_settings.h"
#include "probe/cutout/frame_math.h"
#include "probe/cutout/matte_render.h"

namespace kestrel {

std::array<float, 4> addHeld(int64_t width, int64_t height, uint8_t* mask,
                             const uint8_t* instanceMask, uint8_t* heldMask,
                             const vision::InstanceObservation& observation,
                             const std::vector<uint8_t>& picked, vision::Handler& handler,
                             vision::StreamSession* session, double reach, double minShare) {
  constexpr const CutoutSettings& settings = CUTOUT_SETTINGS;
  std::array<float, 4> held{-1, -1, -1, -1};

  vision::Requests handPose;
  handPose.handPose = true;
  handPose.maximumHandCount = settings.maxHands;
  handPose.session = session;
  vision::Results results;
  std::string error;
  if (!handler.perform(handPose, results, error)) return held;
  if (results.hands.empty()) return held;

  const int64_t mw = observation.width, mh = observation.height, stride = observation.stride;
  bool isPicked[256] = {};
  for (uint8_t label : picked) isPicked[label] = true;

  for (const auto& hand : results.hands) {
    if (!hand.joints) continue;
    double minX = 0, maxX = 0, minY = 0, maxY = 0;
    int points = 0;
    for (const auto& joint : *hand.joints) {
      if (!(joint.confidence > settings.jointConfidence)) continue;
      const double x = joint.location.x * static_cast<double>(width);
      const double y = (1 - joint.location.y) * static_cast<double>(height);
      if (points == 0) minX = maxX = x, minY = maxY = y;
      minX = std::min(minX, x), maxX = std::max(maxX, x);
      minY = std::min(minY, y), maxY = std::max(maxY, y);
      ++points;
    }
    if (points < settings.minJoints) continue;

    // The work region: the hand box widened by reach times its larger side.
    const double handSide = std::max(maxX - minX, maxY - minY);
    const double margin = handSide * reach;
    const int64_t x0 = std::max<int64_t>(truncated(minX - margin), 0);
    const int64_t x1 = std::min<int64_t>(truncated(maxX + margin), width);
    const int64_t y0 = std::max<int64_t>(truncated(minY - margin), 0);
    const int64_t y1 = std::min<int64_t>(truncated(maxY + margin), height);
    if (x1 - x0 < settings.minRegion) continue;
    if (y1 - y0 < settings.minRegion) continue;

    // Put back what the gate took.
    int64_t changed = 0;
    for (int64_t y = y0; y < y1; ++y)
      for (int64_t i = y * width + x0; i < y * width + x1; ++i)
        if (mask[i] < instanceMask[i]) mask[i] = instanceMask[i], ++changed;

    // Instances near the hand, on the label map with a smaller margin.
    const double nearMargin = handSide * settings.nearHand;
    const double W = static_cast<double>(width), H = static_cast<double>(height);
    const auto mapX = [&](double x) { return truncated(x / W * static_cast<double>(mw)); };
    const auto mapY = [&](double y) { return truncated(y / H * static_cast<double>(mh)); };
    const int64_t mx0 = std::max<int64_t>(mapX(minX - nearMargin), 0);
    const int64_t mx1 = std::min<int64_t>(mapX(maxX + nearMargin), mw);
    const int64_t my0 = std::max<int64_t>(mapY(minY - nearMargin), 0);
    const int64_t my1 = std::min<int64_t>(mapY(maxY + nearMargin), mh);
    int64_t counts[256] = {};
    if (mx0 < mx1 && my0 < my1 && !observation.labels.empty())
      for (int64_t y = my0; y < my1; ++y)
        for (int64_t x = mx0; x < mx1; ++x) ++counts[observation.labels[static_cast<size_t>(y * stride + x)]];

    const double floor = static_cast<double>(mw * mh) * minShare * settings.nearHandShare;
    std::vector<uint8_t> added;
    for (int label = 1; label < 256; ++label)
      if (!isPicked[label] && counts[label] > 0 && static_cast<double>(counts[label]) >= floor)
        added.push_back(static_cast<uint8_t>(label));

    if (!added.empty()) {
      vision::Matte scaled;
      if (handler.scaledInstanceMask(observation, added, scaled, error)) {
        renderMatte(scaled, width, height, heldMask);
        for (int64_t y = y0; y < y1; ++y)
          for (int64_t i = y * width + x0; i < y * width + x1; ++i)
            if (mask[i] < heldMask[i]) mask[i] = heldMask[i], ++changed;
      }
    }

    if (changed > 0) {
      const std::array<float, 4> box{static_cast<float>(x0) / static_cast<float>(width),
                                     static_cast<float>(y0) / static_cast<float>(height),
                                     static_cast<float>(x1) / static_cast<float>(width),
                                     static_cast<float>(y1) / static_cast<float>(height)};
      if (held[0] < 0) {
        held = box;
      } else {
        held = {std::min(held[0], box[0]), std::min(held[1], box[1]), std::max(held[2], box[2]),
                std::max(held[3], box[3])};
      }
    }
  }
  return held;
}

}  // namespace kestrel
