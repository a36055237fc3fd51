#pragma once
#include <cstdint>

namespace kestrel {

// The least share of a cut region that must lie in front of the person.
inline constexpr double IN_FRONT = 1.0 / 3.0;
// The least size of the gate's cut, and of a restored region, as a share of the frame.
inline constexpr double IN_FRONT_MIN = 0.001;

// Caps `mask` by the widened person map `personWide` (8 x its value, so gate
// values of 32 or more leave a pixel alone) and returns the cut count: how many
// pixels the cap turned from foreground (128 or more) to background. When the
// cut is large enough, the 4-connected regions it removed that lie at or below
// row `chin` and at least IN_FRONT in front of the person (below the top of
// `personMask` in their own column) get their `instanceMask` values back,
// together with every pixel up to 2 away from them.
//
// mask, instanceMask and personMask hold width x height bytes, personWide at
// least as many; componentIds holds width x height entries and is scratch: after
// a call that reached the region step it holds each region pixel's region
// number (in scan order of first pixels) and -1 elsewhere. Rows are top first.
int64_t gateAndRestore(int64_t width, int64_t height, uint8_t* mask, const uint8_t* instanceMask,
                       const uint8_t* personWide, const uint8_t* personMask, int32_t* componentIds,
                       int64_t chin);

}  // namespace kestrel
