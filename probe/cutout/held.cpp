#include "probe/cutout/held.h"

#include <algorithm>
#include <optional>

#include "platform/imaging/imaging.h"
#include "probe/cutout/cutout_settings.h"
#include "probe/cutout/frame_math.h"

namespace kestrel {
namespace {

constexpr const CutoutSettings& settings = kCutoutSettings;

// The confident joints' extent in frame pixels, top-left origin.
struct HandBox {
  double minX = 0, maxX = 0, minY = 0, maxY = 0;
  double side() const { return std::max(maxX - minX, maxY - minY); }
};

// Rows y0..y1-1 and columns x0..x1-1 of the frame.
struct Region {
  int64_t x0 = 0, x1 = 0, y0 = 0, y1 = 0;
};

// The hand's box, or nothing when its joints could not be read or too few
// of them are confident.
std::optional<HandBox> handBox(const vision::HandObservation& hand, int64_t width, int64_t height) {
  if (!hand.joints) return std::nullopt;
  HandBox box;
  int points = 0;
  for (const auto& joint : *hand.joints) {
    if (!(joint.confidence > settings.jointConfidence)) continue;
    const double x = joint.location.x * static_cast<double>(width);
    const double y = (1 - joint.location.y) * static_cast<double>(height);
    if (points == 0) box = {x, x, y, y};
    box = {std::min(box.minX, x), std::max(box.maxX, x), std::min(box.minY, y), std::max(box.maxY, y)};
    ++points;
  }
  if (points < settings.minJoints) return std::nullopt;
  return box;
}

// The work region: the hand box widened by heldReach times its larger side,
// within the frame; nothing when it is too small to hold anything.
std::optional<Region> workRegion(const HandBox& hand, int64_t width, int64_t height) {
  const double margin = hand.side() * settings.heldReach;
  const Region r{std::max<int64_t>(truncated(hand.minX - margin), 0),
                 std::min<int64_t>(truncated(hand.maxX + margin), width),
                 std::max<int64_t>(truncated(hand.minY - margin), 0),
                 std::min<int64_t>(truncated(hand.maxY + margin), height)};
  if (r.x1 - r.x0 < settings.minRegion || r.y1 - r.y0 < settings.minRegion) return std::nullopt;
  return r;
}

// Raises `mask` to `source` over the region; returns how many pixels rose.
int64_t raiseWithin(MutablePicture mask, Picture source, const Region& r) {
  int64_t changed = 0;
  for (int64_t y = r.y0; y < r.y1; ++y) {
    uint8_t* m = mask.row(y);
    const uint8_t* s = source.row(y);
    for (int64_t x = r.x0; x < r.x1; ++x)
      if (m[x] < s[x]) m[x] = s[x], ++changed;
  }
  return changed;
}

// The instances not in `picked` that cover enough of the label map close
// around the hand (a tighter margin than the work region's).
std::vector<uint8_t> instancesNear(const HandBox& hand, const vision::InstanceObservation& observation,
                                   const bool (&isPicked)[256], int64_t width, int64_t height) {
  const Picture labels = vision::view(observation);
  const int64_t mw = observation.width, mh = observation.height;
  const double margin = hand.side() * settings.nearHand;
  const double W = static_cast<double>(width), H = static_cast<double>(height);
  const auto mapX = [&](double x) { return truncated(x / W * static_cast<double>(mw)); };
  const auto mapY = [&](double y) { return truncated(y / H * static_cast<double>(mh)); };
  const int64_t mx0 = std::max<int64_t>(mapX(hand.minX - margin), 0);
  const int64_t mx1 = std::min<int64_t>(mapX(hand.maxX + margin), mw);
  const int64_t my0 = std::max<int64_t>(mapY(hand.minY - margin), 0);
  const int64_t my1 = std::min<int64_t>(mapY(hand.maxY + margin), mh);
  int64_t counts[256] = {};
  if (mx0 < mx1 && my0 < my1 && labels.data)
    for (int64_t y = my0; y < my1; ++y)
      for (int64_t x = mx0; x < mx1; ++x) ++counts[labels.row(y)[x]];

  const double floor = static_cast<double>(mw * mh) * settings.minShare * settings.nearHandShare;
  std::vector<uint8_t> near;
  for (int label = 1; label < 256; ++label)
    if (!isPicked[label] && counts[label] > 0 && static_cast<double>(counts[label]) >= floor)
      near.push_back(static_cast<uint8_t>(label));
  return near;
}

HeldBox shareOfFrame(const Region& r, int64_t width, int64_t height) {
  return {static_cast<float>(r.x0) / static_cast<float>(width), static_cast<float>(r.y0) / static_cast<float>(height),
          static_cast<float>(r.x1) / static_cast<float>(width), static_cast<float>(r.y1) / static_cast<float>(height)};
}

HeldBox unite(const HeldBox& a, const HeldBox& b) {
  if (a[0] < 0) return b;
  return {std::min(a[0], b[0]), std::min(a[1], b[1]), std::max(a[2], b[2]), std::max(a[3], b[3])};
}

}  // namespace

HeldBox addHeld(const HeldMaps& maps, const vision::InstanceObservation& observation,
                const std::vector<uint8_t>& picked, vision::Handler& handler,
                vision::StreamSession* session) {
  const int64_t width = maps.mask.width, height = maps.mask.height;
  vision::Requests handPose;
  handPose.handPose = true;
  handPose.maximumHandCount = settings.maxHands;
  handPose.session = session;
  vision::Results results;
  std::string error;
  if (!handler.perform(handPose, results, error)) return kNoHeldBox;

  bool isPicked[256] = {};
  for (uint8_t label : picked) isPicked[label] = true;
  HeldBox held = kNoHeldBox;
  for (const auto& hand : results.hands) {
    const std::optional<HandBox> box = handBox(hand, width, height);
    if (!box) continue;
    const std::optional<Region> region = workRegion(*box, width, height);
    if (!region) continue;
    // What the gate took, then the objects in the hand.
    int64_t changed = raiseWithin(maps.mask, maps.instanceMask, *region);
    const std::vector<uint8_t> near = instancesNear(*box, observation, isPicked, width, height);
    vision::Matte scaled;
    if (!near.empty() && handler.scaledInstanceMask(observation, near, scaled, error)) {
      imaging::scaleMatte(vision::view(scaled), maps.heldMask);
      changed += raiseWithin(maps.mask, maps.heldMask, *region);
    }
    if (changed > 0) held = unite(held, shareOfFrame(*region, width, height));
  }
  return held;
}

}  // namespace kestrel
