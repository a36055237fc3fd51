#pragma once
// The pure geometry of the hand pipeline: palm anchors, the rotated crop the
// landmark model sees, and mapping its joints back to the picture. Plain
// data only; the palms are decoded by ssd_decoding.h.
#include <array>
#include <cstddef>
#include <vector>

#include "platform/vision/dnn/detection_geometry.h"
#include "platform/vision/dnn/ssd_decoding.h"
#include "platform/vision/observations.h"

namespace kestrel::vision::dnn {

inline constexpr int kPalmInput = 192;
inline constexpr int kHandInput = 224;
inline constexpr int kHandJoints = 21;

// A palm in picture pixels. Keypoint 0 is the wrist, 2 the base of the
// middle finger.
using Palm = SsdDetection<7>;

// Anchor centres of the palm model's 2016 rows: a 24x24 grid with 2 anchors
// per cell, then a 12x12 grid with 6, rows ordered cell y, cell x, anchor.
std::vector<PixelPoint> palmAnchors();

// The square crop around a hand, from a palm in picture pixels: turned so
// that wrist -> middle finger points up, moved half a palm towards the
// fingers, 2.6 times the palm's longer side.
RotatedCrop handCrop(const Palm& palm);

// The 21 joints in picture pixels from the landmark model's (x, y, z) rows in
// crop pixels.
std::array<PixelPoint, kHandJoints> jointsInPicture(const float* landmarks, const RotatedCrop& crop, int cropSide);

// The crop a stream's next frame looks at for a hand whose joints (picture
// pixels) this frame found, as MediaPipe tracks a hand: turned so that the
// wrist -> knuckles line points up, centred on the box of the wrist, the
// knuckles and the joints next to them in that frame, moved a tenth of its
// height towards the fingers, twice its longer side.
RotatedCrop trackedCrop(const std::array<PixelPoint, kHandJoints>& joints);

// The 21 joints of a hand (jointsInPicture) normalised to the picture with the
// origin at the lower left. The model gives no per-joint confidence: a joint
// inside the picture gets the hand's presence score, one outside it 0.
std::vector<Joint> handJoints(const std::array<PixelPoint, kHandJoints>& points, int width, int height,
                              float presence);

}  // namespace kestrel::vision::dnn
