#pragma once
#include <cstdint>

#include "platform/vision/observations.h"
#include "probe/cutout/gate_and_restore.h"

namespace kestrel {

// Renders the person matte scaled to the frame into maps.personMask and the
// same widened by a disk of `radius` pixels into maps.personWide, then gates
// maps.mask by them (gateAndRestore). Returns the cut count. Both rendered maps
// stay in the caller's buffers.
int64_t personGate(const GateMaps& maps, const vision::Matte& person, double radius, int64_t chin);

}  // namespace kestrel
