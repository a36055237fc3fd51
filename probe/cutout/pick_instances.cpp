#include "probe/cutout/pick_instances.h"

#include <algorithm>

#include "probe/cutout/cutout_settings.h"
#include "probe/cutout/frame_math.h"

namespace kestrel {
namespace {

constexpr const CutoutSettings& settings = kCutoutSettings;

uint8_t labelAt(Picture labels, double column, double row) {
  return labels.row(clampedIndex(row, labels.height))[clampedIndex(column, labels.width)];
}

// The instances at the face centre, below the chin and at the chest.
std::vector<uint8_t> probeLabels(Picture labels, const vision::Rect& face) {
  const double W = static_cast<double>(labels.width), H = static_cast<double>(labels.height);
  const double column = (face.x + face.width / 2) * W;
  const double minY = face.y;
  const double rows[3] = {(1 - (face.y + face.height / 2)) * H,
                          (1 - minY + settings.chinProbe * face.height) * H,
                          (1 - minY + settings.chestProbe * face.height) * H};
  std::vector<uint8_t> picked;
  for (double row : rows) {
    uint8_t label = labelAt(labels, column, row);
    if (label != 0 && std::find(picked.begin(), picked.end(), label) == picked.end())
      picked.push_back(label);
  }
  std::sort(picked.begin(), picked.end());
  return picked;
}

// Whether an instance outside `picked` covers at least minShare of the label map.
bool otherInstanceIn(Picture labels, const std::vector<uint8_t>& picked) {
  int64_t counts[256] = {};
  for (int64_t y = 0; y < labels.height; ++y) {
    const uint8_t* row = labels.row(y);
    for (int64_t x = 0; x < labels.width; ++x) ++counts[row[x]];
  }
  const double least = settings.minShare * static_cast<double>(labels.width * labels.height);
  for (int label = 1; label < 256; ++label)
    if (std::find(picked.begin(), picked.end(), label) == picked.end() &&
        static_cast<double>(counts[label]) >= least)
      return true;
  return false;
}

}  // namespace

InstancePick pickInstances(const vision::InstanceObservation& observation, const vision::Rect& face,
                           bool lookForOthers) {
  const Picture labels = vision::view(observation);
  InstancePick pick;
  pick.picked = probeLabels(labels, face);
  pick.otherInstance = lookForOthers && !pick.picked.empty() && otherInstanceIn(labels, pick.picked);
  return pick;
}

}  // namespace kestrel
