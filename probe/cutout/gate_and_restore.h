#pragma once
#include <cstdint>

namespace kestrel {

// Caps `mask` by the widened person map `personWide` (8 x its value, so gate
// values of 32 or more leave a pixel alone) and returns the cut count: how many
// pixels the cap turned from foreground (128 or more) to background. When the
// cut is large enough, the 4-connected regions it removed that lie at or below
// row `chin` and at least a third in front of the person (below the top of
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
