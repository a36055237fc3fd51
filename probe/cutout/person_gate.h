#pragma once
#include <cstdint>

#include "platform/vision/observations.h"

namespace kestrel {

// Renders the person matte scaled to width x height into personMask and the
// same widened by a disk of `radius` pixels into personWide, then gates `mask`
// by them (gateAndRestore). Returns the cut count. All buffers are the
// caller's, width x height each; both rendered maps stay in them.
int64_t personGate(int64_t width, int64_t height, uint8_t* mask, const uint8_t* instanceMask,
                   uint8_t* personWide, uint8_t* personMask, int32_t* componentIds,
                   const vision::Matte& person, double radius, int64_t chin);

}  // namespace kestrel
