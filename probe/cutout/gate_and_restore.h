#pragma once
#include <cstdint>
#include <span>

#include "platform/picture.h"

namespace kestrel {

// The least share of a cut region that must lie in front of the person.
inline constexpr double IN_FRONT = 1.0 / 3.0;
// The least size of the gate's cut, and of a restored region, as a share of the frame.
inline constexpr double IN_FRONT_MIN = 0.001;

// The maps the gate works on, all of one frame's size, one byte a pixel in
// packed rows (stride = width), top row first.
struct GateMaps {
  MutablePicture mask;        // gated, and restored, in place
  Picture instanceMask;       // what `mask` held before the gate: every restored value
  MutablePicture personWide;  // the gate: the person widened (personGate renders it)
  MutablePicture personMask;  // the person (personGate renders it), for its top in each column
  std::span<int32_t> componentIds;  // scratch, one region number a pixel
};

// Caps `mask` by the widened person map `personWide` (8 x its value, so gate
// values of 32 or more leave a pixel alone) and returns the cut count: how many
// pixels the cap turned from foreground (128 or more) to background. When the
// cut is large enough, the 4-connected regions it removed that lie at or below
// row `chin` and at least IN_FRONT in front of the person (below the top of
// `personMask` in their own column) get their `instanceMask` values back,
// together with every pixel up to 2 away from them.
//
// gateAndRestore only reads personWide and personMask. After a call that
// reached the region step componentIds holds each region pixel's region
// number (in scan order of first pixels) and -1 elsewhere.
int64_t gateAndRestore(const GateMaps& maps, int64_t chin);

}  // namespace kestrel
