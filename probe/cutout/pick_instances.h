#pragma once
// Which of the frame's foreground instances make up the person.
#include <cstdint>
#include <vector>

#include "platform/vision/observations.h"

namespace kestrel {

struct InstancePick {
  std::vector<uint8_t> picked;  // instance labels, ascending; empty when none lies under the face
  bool otherInstance = false;   // another instance covers at least CutoutSettings::minShare of the map
};

// The instances at the face's centre, just below its chin and at the chest
// (where a face is expected when none was found). Others are looked for only
// when `lookForOthers` is set and some instance was picked. The label map
// must cover its size (vision::view gives its bytes).
InstancePick pickInstances(const vision::InstanceObservation& observation, const vision::Rect& face,
                           bool lookForOthers);

}  // namespace kestrel
