// The geometry of the detectors on plain numbers: letterbox, suppression,
// palm anchors and decoding, the rotated hand crop and the joints.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "platform/vision/dnn/detection_math.h"
#include "platform/vision/dnn/hand_geometry.h"

using namespace kestrel::vision;
using namespace kestrel::vision::dnn;

TEST(Letterbox, WidePictureIsCentredVerticallyAndMapsBackToItsEdges) {
  const Letterbox box = Letterbox::fit(640, 480, 192);
  EXPECT_EQ(box.innerWidth, 192);
  EXPECT_EQ(box.innerHeight, 144);
  EXPECT_EQ(box.offsetX, 0);
  EXPECT_EQ(box.offsetY, 24);
  EXPECT_DOUBLE_EQ(box.toPictureX(0), 0);
  EXPECT_DOUBLE_EQ(box.toPictureX(1), 640);
  EXPECT_DOUBLE_EQ(box.toPictureY(24.0 / 192), 0);
  EXPECT_DOUBLE_EQ(box.toPictureY(168.0 / 192), 480);
  EXPECT_DOUBLE_EQ(box.toPictureLength(0.5), 320);
  const Letterbox tall = Letterbox::fit(1080, 1920, 512);
  EXPECT_EQ(tall.innerHeight, 512);
  EXPECT_EQ(tall.innerWidth, 288);
  EXPECT_EQ(tall.offsetX, 112);
  // A one-pixel-high strip still keeps one row.
  EXPECT_EQ(Letterbox::fit(4000, 1, 192).innerHeight, 1);
}

TEST(Suppression, StrongestFirstOverlapsDroppedAndLimitKept) {
  std::vector<Corners> boxes = {{0, 0, 10, 10}, {1, 1, 11, 11}, {20, 20, 30, 30}, {0, 0, 10, 10}};
  std::vector<float> scores = {0.6f, 0.9f, 0.5f, 0.4f};
  EXPECT_EQ(suppressOverlaps(boxes, scores, 0.3), (std::vector<size_t>{1, 2}));
  EXPECT_EQ(suppressOverlaps(boxes, scores, 0.3, 1), (std::vector<size_t>{1}));
  // With a loose threshold the overlapping boxes survive (IoU 81/119).
  EXPECT_EQ(suppressOverlaps(boxes, scores, 0.7).size(), 3u);
  EXPECT_DOUBLE_EQ(intersectionOverUnion({0, 0, 10, 10}, {5, 0, 15, 10}), 50.0 / 150);
  EXPECT_EQ(intersectionOverUnion({0, 0, 10, 10}, {10, 0, 20, 10}), 0);
  EXPECT_EQ(intersectionOverUnion({0, 0, 0, 0}, {0, 0, 0, 0}), 0);
}

TEST(PalmAnchors, TwoGridsInRowOrder) {
  auto a = palmAnchors();
  ASSERT_EQ(a.size(), 2016u);
  EXPECT_DOUBLE_EQ(a[0].x, 0.5 / 24);
  EXPECT_DOUBLE_EQ(a[1].x, 0.5 / 24);   // second anchor of the same cell
  EXPECT_DOUBLE_EQ(a[2].x, 1.5 / 24);
  EXPECT_DOUBLE_EQ(a[48].y, 1.5 / 24);  // second row of cells
  EXPECT_DOUBLE_EQ(a[1152].x, 0.5 / 12);
  EXPECT_DOUBLE_EQ(a[1157].x, 0.5 / 12);  // six anchors per cell
  EXPECT_DOUBLE_EQ(a[1158].x, 1.5 / 12);
  EXPECT_DOUBLE_EQ(a[2015].x, 11.5 / 12);
  EXPECT_DOUBLE_EQ(a[2015].y, 11.5 / 12);
}

TEST(PalmDecoding, OffsetsInInputPixelsAroundTheAnchorAndScoreThreshold) {
  std::vector<Point> anchors = {{0.25, 0.25}, {0.5, 0.5}, {0.75, 0.75}};
  std::vector<float> reg(3 * kPalmValues, 0.0f);
  std::vector<float> logits = {-1.0f, 0.0f, 3.0f};
  float* r = &reg[2 * kPalmValues];
  r[0] = 19.2f;  // centre 0.1 to the right
  r[1] = -9.6f;  // 0.05 up
  r[2] = 38.4f;  // 0.2 wide
  r[3] = 19.2f;  // 0.1 high
  r[4 + 2 * 2] = 9.6f;  // keypoint 2 at +0.05 x
  auto palms = decodePalms(reg.data(), logits.data(), anchors, 0.5f);
  ASSERT_EQ(palms.size(), 2u);  // logit 0 gives exactly 0.5, which passes
  EXPECT_FLOAT_EQ(palms[0].score, 0.5f);
  const Palm& p = palms[1];
  EXPECT_NEAR(p.score, 1 / (1 + std::exp(-3.0)), 1e-6);
  EXPECT_NEAR(p.box.x0, 0.75, 1e-6);
  EXPECT_NEAR(p.box.x1, 0.95, 1e-6);
  EXPECT_NEAR(p.box.y0, 0.65, 1e-6);
  EXPECT_NEAR(p.box.y1, 0.75, 1e-6);
  EXPECT_NEAR(p.keypoints[2].x, 0.80, 1e-6);
  EXPECT_NEAR(p.keypoints[0].y, 0.75, 1e-6);
}

TEST(PalmMerging, OverlapsAverageByScoreAndDistantPalmsStaySeparate) {
  Palm a, b, c;
  a.score = 0.9f;
  a.box = {0, 0, 10, 10};
  a.keypoints[0] = {0, 0};
  b.score = 0.3f;
  b.box = {2, 0, 12, 10};
  b.keypoints[0] = {4, 4};
  c.score = 0.8f;
  c.box = {50, 50, 60, 60};
  auto merged = mergePalms({b, c, a}, 0.3, 0);
  ASSERT_EQ(merged.size(), 2u);
  EXPECT_FLOAT_EQ(merged[0].score, 0.9f);
  EXPECT_NEAR(merged[0].box.x0, 0.5, 1e-6);  // (0 * 0.9 + 2 * 0.3) / 1.2
  EXPECT_NEAR(merged[0].keypoints[0].x, 1, 1e-6);
  EXPECT_DOUBLE_EQ(merged[1].box.x0, 50);
  EXPECT_EQ(mergePalms({b, c, a}, 0.3, 1).size(), 1u);
}

namespace {

Palm palmWith(Corners box, Point wrist, Point middleBase) {
  Palm p;
  p.score = 1;
  p.box = box;
  p.keypoints[0] = wrist;
  p.keypoints[2] = middleBase;
  return p;
}

}  // namespace

TEST(HandCrop, TurnedTowardsTheFingersAndMovedHalfAPalm) {
  // Fingers up: the crop is not turned and moves up by half the palm's height.
  HandCrop up = handCrop(palmWith({100, 100, 140, 160}, {120, 160}, {120, 110}));
  EXPECT_NEAR(up.up.x, 0, 1e-12);
  EXPECT_NEAR(up.up.y, -1, 1e-12);
  EXPECT_NEAR(up.centre.x, 120, 1e-9);
  EXPECT_NEAR(up.centre.y, 130 - 30, 1e-9);
  EXPECT_NEAR(up.side, 2.6 * 60, 1e-9);
  // Fingers to the right: the crop's top is the picture's right.
  HandCrop right = handCrop(palmWith({100, 100, 160, 140}, {100, 120}, {150, 120}));
  EXPECT_NEAR(right.up.x, 1, 1e-12);
  EXPECT_NEAR(right.centre.x, 130 + 20, 1e-9);  // half the box's height, along "up"
  // The crop's top-left corner then lies at the picture's upper right of the centre.
  Point corner = cropToPicture(right, 0, 0, kHandInput);
  EXPECT_NEAR(corner.x, right.centre.x + right.side / 2, 1e-9);
  EXPECT_NEAR(corner.y, right.centre.y - right.side / 2, 1e-9);
  // Wrist and finger base on one point: no turn rather than a broken direction.
  HandCrop flat = handCrop(palmWith({0, 0, 10, 10}, {5, 5}, {5, 5}));
  EXPECT_TRUE(std::isfinite(flat.centre.x) && std::isfinite(flat.centre.y));
}

TEST(HandCrop, WarpMapIsTheInverseOfCropToPicture) {
  for (Point up : {Point{0, -1}, Point{0.6, 0.8}, Point{-1, 0}}) {
    HandCrop c{{300, 200}, 150, up};
    auto m = pictureToCrop(c, kHandInput);
    for (Point q : {Point{0, 0}, Point{224, 0}, Point{37.5, 190}}) {
      Point p = cropToPicture(c, q.x, q.y, kHandInput);
      // In pixel-centre convention on both sides.
      double px = p.x - 0.5, py = p.y - 0.5;
      EXPECT_NEAR(m[0] * px + m[1] * py + m[2], q.x - 0.5, 1e-9);
      EXPECT_NEAR(m[3] * px + m[4] * py + m[5], q.y - 0.5, 1e-9);
    }
  }
}

TEST(HandJoints, NormalisedFromTheLowerLeftAndZeroOutsideThePicture) {
  HandCrop c{{100, 50}, 224, {0, -1}};  // crop pixels = picture pixels shifted
  std::vector<float> lm(63, 0.0f);
  lm[0] = 112;  // joint 0 at the crop's centre: picture (100, 50)
  lm[1] = 112;
  lm[3] = 112 + 150;  // joint 1 at picture x 250: outside a 200-wide picture
  lm[4] = 112;
  auto joints = handJoints(lm.data(), c, kHandInput, 200, 100, 0.8f);
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
