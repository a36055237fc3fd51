#pragma once
// The cutout's tuned numbers, in one place, each with why it is what it is.
#include <cstdint>

#include "platform/vision/observations.h"

namespace kestrel {

struct CutoutSettings {
  // Pixels the person matte is widened by before it gates the instances: hair,
  // fingers and loose clothing the matte misses at its edge stay in.
  double personRadius = 12.0;
  // The widened person's level below which a mask pixel counts as outside it:
  // well inside the widening, so its soft rim does not count as outside.
  uint8_t insidePersonLevel = 224;
  // Where the face is taken to be when none is found (shares of the frame,
  // bottom-left origin): upper middle, where a subject facing the camera sits.
  vision::Rect defaultFace{0.35, 0.45, 0.30, 0.25};
  // The probe rows under the face, in face heights below its bottom edge: just
  // below the chin (the neck) and at the chest, so the body's instance is
  // picked even when the face itself is a separate instance.
  double chinProbe = 0.1;
  double chestProbe = 0.6;
  // The least share of the label map an instance covers to count as another
  // object in the frame; smaller ones are segmentation crumbs.
  double minShare = 0.004;
  // The share of the frame's pixels that the gate's cut, or the mask outside
  // the person, must reach before the held step runs: less is matte noise.
  double heldTrigger = 0.015;
  // A hand's work region reaches this many times its larger side beyond its
  // joints: far enough for a cup or phone held in it.
  double heldReach = 0.75;
  // The tighter margin (in the hand's larger side) within which an instance
  // counts as near the hand, and the fraction of minShare it must cover there.
  double nearHand = 0.25;
  double nearHandShare = 0.25;
  // Joints above this confidence count; fewer than `minJoints` of them give no
  // reliable hand box.
  float jointConfidence = 0.3f;
  int minJoints = 5;
  // The least width and height of a work region in pixels: smaller hands are
  // too far away to hold anything we could cut out.
  int64_t minRegion = 32;
  // Hands the held step looks for: the subject's two.
  int maxHands = 2;
};

inline constexpr CutoutSettings kCutoutSettings{};

}  // namespace kestrel
