#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "platform/vision/vision.h"

namespace kestrel {

// Around each hand with at least CutoutSettings::minJoints confident joints, puts back what the person
// gate took from `mask` and adds the foreground instances (not in `picked`)
// that lie near the hand, within the hand's work region. Returns the union of
// the work regions of the hands that changed the mask as left, top, right,
// bottom shares of the frame, or four -1 values. The hands are asked for
// within the stream's `session` (null for a picture on its own), which
// follows them from frame to frame.
std::array<float, 4> addHeld(int64_t width, int64_t height, uint8_t* mask,
                             const uint8_t* instanceMask, uint8_t* heldMask,
                             const vision::InstanceObservation& observation,
                             const std::vector<uint8_t>& picked, vision::Handler& handler,
                             vision::StreamSession* session, double reach, double minShare);

}  // namespace kestrel
