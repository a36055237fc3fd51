#pragma once
#include <array>
#include <vector>

#include "platform/picture.h"
#include "platform/vision/vision.h"

namespace kestrel {

// The maps the held step works on, all of one frame's size, one byte a pixel
// in packed rows, top row first.
struct HeldMaps {
  MutablePicture mask;      // the gated mask, which gains what the hands hold
  Picture instanceMask;     // what `mask` held before the gate
  MutablePicture heldMask;  // scratch: the instances added near a hand
};

// A box as left, top, right and bottom shares of the frame, top-left origin;
// four -1 values for none.
using HeldBox = std::array<float, 4>;
inline constexpr HeldBox kNoHeldBox{-1, -1, -1, -1};

// Around each hand with at least CutoutSettings::minJoints confident joints,
// puts back what the person gate took from maps.mask and adds the foreground
// instances (not in `picked`) that lie near the hand, within the hand's work
// region. Returns the union of the work regions of the hands that changed the
// mask, or kNoHeldBox. The hands are asked for within the stream's `session`
// (null for a picture on its own), which follows them from frame to frame.
// Platform failures are absorbed: a failed hand request changes nothing, and
// a failed instance mask only leaves that hand's instances out.
HeldBox addHeld(const HeldMaps& maps, const vision::InstanceObservation& observation,
                const std::vector<uint8_t>& picked, vision::Handler& handler,
                vision::StreamSession* session);

}  // namespace kestrel
