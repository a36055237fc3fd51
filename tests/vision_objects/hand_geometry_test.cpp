// The hand pipeline's geometry on plain numbers: palm decoding, the rotated
// hand crop and the joints.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "platform/vision/dnn/detection_geometry.h"
#include "platform/vision/dnn/hand_geometry.h"
#include "platform/vision/dnn/slow_analyses.h"

using namespace kestrel::vision;
using namespace kestrel::vision::dnn;

TEST(PalmDecoding, OffsetsInInputPixelsAroundTheAnchorAndScoreThreshold) {
  std::vector<Point> anchors = {{0.25, 0.25}, {0.5, 0.5}, {0.75, 0.75}};
  constexpr int kPalmValues = 18;  // box (4) and 7 keypoints (x, y)
  std::vector<float> reg(3 * kPalmValues, 0.0f);
  std::vector<float> logits = {-1.0f, 0.0f, 3.0f};
  float* r = &reg[2 * kPalmValues];
  r[0] = 19.2f;  // centre 0.1 to the right
  r[1] = -9.6f;  // 0.05 up
  r[2] = 38.4f;  // 0.2 wide
  r[3] = 19.2f;  // 0.1 high
  r[4 + 2 * 2] = 9.6f;  // keypoint 2 at +0.05 x
  const InputPlacement normalised{1.0 / kPalmInput, 1.0 / kPalmInput};
  auto palms = decodeSsd<7>(logits.data(), reg.data(), anchors, kPalmInput, normalised, 0.5f);
  ASSERT_EQ(palms.size(), 2u);  // logit 0 gives exactly 0.5, which passes
  EXPECT_FLOAT_EQ(palms[0].score, 0.5f);
  const Palm& p = palms[1];
  EXPECT_NEAR(p.score, 1 / (1 + std::exp(-3.0)), 1e-6);
  EXPECT_NEAR(p.x, 0.75, 1e-6);
  EXPECT_NEAR(p.x + p.width, 0.95, 1e-6);
  EXPECT_NEAR(p.y, 0.65, 1e-6);
  EXPECT_NEAR(p.y + p.height, 0.75, 1e-6);
  EXPECT_NEAR(p.keypoints[2].x, 0.80, 1e-6);
  EXPECT_NEAR(p.keypoints[0].y, 0.75, 1e-6);
}

namespace {

Palm palmWith(Corners box, Point wrist, Point middleBase) {
  Palm p;
  p.score = 1;
  p.x = box.x0, p.y = box.y0, p.width = box.x1 - box.x0, p.height = box.y1 - box.y0;
  p.keypoints[0] = wrist;
  p.keypoints[2] = middleBase;
  return p;
}

}  // namespace

TEST(HandCrop, TurnedTowardsTheFingersAndMovedHalfAPalm) {
  // Fingers up: the crop is not turned and moves up by half the palm's height.
  RotatedCrop up = handCrop(palmWith({100, 100, 140, 160}, {120, 160}, {120, 110}));
  EXPECT_NEAR(up.angle, 0, 1e-12);
  EXPECT_NEAR(up.centre.x, 120, 1e-9);
  EXPECT_NEAR(up.centre.y, 130 - 30, 1e-9);
  EXPECT_NEAR(up.side, 2.6 * 60, 1e-9);
  // Fingers to the right: the crop's top is the picture's right.
  RotatedCrop right = handCrop(palmWith({100, 100, 160, 140}, {100, 120}, {150, 120}));
  EXPECT_NEAR(right.angle, std::numbers::pi / 2, 1e-12);
  EXPECT_NEAR(right.centre.x, 130 + 20, 1e-9);  // half the box's height, along "up"
  // The crop's top-left corner then lies at the picture's upper right of the centre.
  Point corner = cropTransform(right, kHandInput).toPicture({0, 0});
  EXPECT_NEAR(corner.x, right.centre.x + right.side / 2, 1e-9);
  EXPECT_NEAR(corner.y, right.centre.y - right.side / 2, 1e-9);
  // Wrist and finger base on one point: no turn rather than a broken direction.
  RotatedCrop flat = handCrop(palmWith({0, 0, 10, 10}, {5, 5}, {5, 5}));
  EXPECT_TRUE(std::isfinite(flat.centre.x) && std::isfinite(flat.centre.y));
  EXPECT_EQ(flat.angle, 0);
}

TEST(HandJoints, NormalisedFromTheLowerLeftAndZeroOutsideThePicture) {
  RotatedCrop c{{100, 50}, 224};  // crop pixels = picture pixels shifted
  std::vector<float> lm(63, 0.0f);
  lm[0] = 112;  // joint 0 at the crop's centre: picture (100, 50)
  lm[1] = 112;
  lm[3] = 112 + 150;  // joint 1 at picture x 250: outside a 200-wide picture
  lm[4] = 112;
  auto joints = handJoints(jointsInPicture(lm.data(), c, kHandInput), 200, 100, 0.8f);
  ASSERT_EQ(joints.size(), 21u);
  EXPECT_DOUBLE_EQ(joints[0].location.x, 0.5);
  EXPECT_DOUBLE_EQ(joints[0].location.y, 0.5);
  EXPECT_FLOAT_EQ(joints[0].confidence, 0.8f);
  EXPECT_DOUBLE_EQ(joints[1].location.x, 1.25);
  EXPECT_EQ(joints[1].confidence, 0.0f);
  // Joint 2 at the crop's top-left: picture (-12, -62), above the picture.
  EXPECT_DOUBLE_EQ(joints[2].location.y, 1.62);
  EXPECT_EQ(joints[2].confidence, 0.0f);
}

TEST(TrackedCrop, FollowsTheKnucklesAndLeavesTheFingertipsOut) {
  // An upright hand (y down): wrist at (100, 200), knuckles at y 140, the
  // joints next to them up to y 105; every fingertip and the thumb's far
  // joints far up at y 0, which must not count.
  std::array<PixelPoint, kHandJoints> hand;
  hand.fill({100, 0});
  const std::pair<int, PixelPoint> steady[] = {{0, {100, 200}}, {1, {75, 190}},   {2, {60, 175}},  {3, {50, 160}},
                                               {5, {80, 140}},  {6, {80, 110}},   {9, {100, 140}}, {10, {100, 105}},
                                               {13, {120, 140}}, {14, {120, 110}}, {17, {135, 145}}, {18, {135, 120}}};
  for (const auto& [j, p] : steady) hand[j] = p;
  // The box of those joints: x 50..135, y 105..200; moved up a tenth of its height.
  const RotatedCrop up = trackedCrop(hand);
  EXPECT_NEAR(up.angle, 0, 1e-12);
  EXPECT_NEAR(up.centre.x, 92.5, 1e-9);
  EXPECT_NEAR(up.centre.y, 152.5 - 9.5, 1e-9);
  EXPECT_NEAR(up.side, 2 * 95, 1e-9);
  // The same hand turned a quarter about its wrist, fingers to the right: the
  // crop turns with it, as handCrop turns a palm.
  std::array<PixelPoint, kHandJoints> turned;
  for (int j = 0; j < kHandJoints; ++j) turned[j] = {100 - (hand[j].y - 200), 200 + (hand[j].x - 100)};
  const RotatedCrop right = trackedCrop(turned);
  EXPECT_NEAR(right.angle, std::numbers::pi / 2, 1e-12);
  EXPECT_NEAR(right.centre.x, 100 + 57, 1e-9);
  EXPECT_NEAR(right.centre.y, 200 - 7.5, 1e-9);
  EXPECT_NEAR(right.side, up.side, 1e-9);
  // jointsInPicture is the inverse of the crop's mapping: the crop's centre pixel
  // lands on its centre in the picture.
  std::vector<float> rows(3 * kHandJoints, kHandInput / 2.0f);
  EXPECT_NEAR(jointsInPicture(rows.data(), right, kHandInput)[0].x, right.centre.x, 1e-6);
  EXPECT_NEAR(jointsInPicture(rows.data(), right, kHandInput)[0].y, right.centre.y, 1e-6);
}

TEST(HandCrops, ThePalmDetectorKeepsItsTurnWhetherOrNotAHandIsFollowed) {
  // A stream whose held step asks for hands on frames 0 to 7, 9 and 10 (the
  // step skips frame 8). The palm detector finds one palm each time it runs;
  // the landmark model rejects it (nothing to follow), or takes every crop it
  // is given and leaves one hand to follow.
  for (const bool accepted : {false, true}) {
    SlowAnalyses kept;
    std::vector<int64_t> palmFrames;
    for (const int64_t frame : {0, 1, 2, 3, 4, 5, 6, 7, 9, 10}) {
      kept.frame = frame;
      const std::vector<RotatedCrop> crops = handCropsFor(&kept, [&] {
        palmFrames.push_back(frame);
        return std::vector<RotatedCrop>{{{50, 50}, 40, 0}};
      });
      // Between the detector's runs the followed hand (or none) is looked at.
      if (palmFrames.back() != frame) {
        EXPECT_EQ(crops.size(), accepted ? 1u : 0u) << frame;
      }
      keepHandCrops(&kept, accepted ? crops : std::vector<RotatedCrop>{});
    }
    // The stream's first frame, the detector's turns, and the frame after the gap.
    EXPECT_EQ(palmFrames, (std::vector<int64_t>{0, 2, 5, 9})) << (accepted ? "followed" : "rejected");
  }
  // A picture on its own always looks for palms.
  int runs = 0;
  handCropsFor(nullptr, [&] { return ++runs, std::vector<RotatedCrop>{}; });
  EXPECT_EQ(runs, 1);
}

TEST(FaceSearch, WholePictureEverySixthFrameWhileNoFaceIsFollowedAndEverywhereWhenOneIsLost) {
  // Frames 0 to 30 with frame 20 skipped; a face is in view on frames 7 to 16
  // and from 22 on, and is followed from the search that finds it.
  SlowAnalyses kept;
  std::vector<std::pair<int64_t, FaceSearch>> searches;
  size_t followed = 0;
  for (int64_t frame = 0; frame <= 30; ++frame) {
    if (frame == 20) continue;
    kept.frame = frame;
    const bool inView = (frame >= 7 && frame < 17) || frame >= 22;
    const bool lost = followed > 0 && !inView;
    if (lost) followed = 0;
    if (const FaceSearch search = faceSearch(kept, followed, lost); search != FaceSearch::None) {
      searches.emplace_back(frame, search);
      followed = inView ? 1 : 0;
    }
    kept.facesFrame = frame;
  }
  // Everywhere: the start, the twelve-frame turns (1, 13, 25), the loss (17)
  // and the frame after the gap (21). The whole picture: the shorter cadence
  // while no face is followed (7, 19; not 4, 10 or 22, between its turns).
  // The face in view from 22 is found on the next turn (25).
  constexpr FaceSearch all = FaceSearch::Everywhere, whole = FaceSearch::WholePicture;
  EXPECT_EQ(searches, (std::vector<std::pair<int64_t, FaceSearch>>{
                          {0, all}, {1, all}, {7, whole}, {13, all}, {17, all}, {19, whole}, {21, all},
                          {25, all}}));
}
