// The detectors' shared geometry on plain numbers: anchor grids, merging and
// suppressing overlaps, the rotated crops, the letterbox and normalised boxes.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "platform/vision/dnn/blazeface.h"
#include "platform/vision/dnn/detection_geometry.h"
#include "platform/vision/dnn/hand_geometry.h"
#include "platform/vision/dnn/vision_model.h"
#include "platform/vision/dnn/service_coordinates.h"

using namespace kestrel::vision;
using namespace kestrel::vision::dnn;

namespace {

FaceDetection box(double x, double y, double w, double h, float score) {
  FaceDetection d;
  d.x = x, d.y = y, d.width = w, d.height = h, d.score = score;
  return d;
}

// Picture pixels to crop pixels: the map itself, of which the product uses
// only the inverse and the warp.
PixelPoint toCrop(const CropTransform& t, PixelPoint p) {
  return {t.a * p.x + t.b * p.y + t.tx, t.c * p.x + t.d * p.y + t.ty};
}

// A length along x in the letterbox's input units, in picture pixels.
double toPictureLength(const Letterbox& box, double l) { return l * box.side * box.width / box.innerWidth; }

}  // namespace

TEST(AnchorGrids, BothDetectorsFollowCellThenAnchorOrderOnTwoGrids) {
  const auto& a = blazefaceAnchors();
  ASSERT_EQ(a.size(), size_t(kBlazefaceAnchors));
  EXPECT_DOUBLE_EQ(a[0].x, 0.5 / 16);
  EXPECT_DOUBLE_EQ(a[1].x, 0.5 / 16);  // two anchors per cell on the fine grid
  EXPECT_DOUBLE_EQ(a[2].x, 1.5 / 16);
  EXPECT_DOUBLE_EQ(a[32].y, 1.5 / 16);  // second row of 16 cells
  EXPECT_DOUBLE_EQ(a[511].x, 15.5 / 16);
  EXPECT_DOUBLE_EQ(a[512].x, 0.5 / 8);  // coarse grid, six anchors per cell
  EXPECT_DOUBLE_EQ(a[517].x, 0.5 / 8);
  EXPECT_DOUBLE_EQ(a[518].x, 1.5 / 8);
  EXPECT_DOUBLE_EQ(a[895].y, 7.5 / 8);

  auto p = palmAnchors();
  ASSERT_EQ(p.size(), 2016u);
  EXPECT_DOUBLE_EQ(p[0].x, 0.5 / 24);
  EXPECT_DOUBLE_EQ(p[1].x, 0.5 / 24);   // second anchor of the same cell
  EXPECT_DOUBLE_EQ(p[2].x, 1.5 / 24);
  EXPECT_DOUBLE_EQ(p[48].y, 1.5 / 24);  // second row of cells
  EXPECT_DOUBLE_EQ(p[1152].x, 0.5 / 12);
  EXPECT_DOUBLE_EQ(p[1157].x, 0.5 / 12);  // six anchors per cell
  EXPECT_DOUBLE_EQ(p[1158].x, 1.5 / 12);
  EXPECT_DOUBLE_EQ(p[2015].x, 11.5 / 12);
  EXPECT_DOUBLE_EQ(p[2015].y, 11.5 / 12);
}

TEST(Merging, OverlapsAverageByScoreAndSeparateDetectionsStayApart) {
  auto merged = mergeOverlaps<FaceDetection>({box(0, 0, 10, 10, 0.6f), box(100, 100, 20, 20, 0.7f),
                                              box(2, 0, 10, 10, 0.9f), box(0, 2, 10, 10, 0.3f)},
                                             0.3);
  ASSERT_EQ(merged.size(), 2u);
  EXPECT_FLOAT_EQ(merged[0].score, 0.9f);  // the best score of its group, best group first
  EXPECT_NEAR(merged[0].x, (2 * 0.9 + 0 * 0.6 + 0 * 0.3) / 1.8, 1e-6);  // single-precision weights
  EXPECT_NEAR(merged[0].y, (0 * 0.9 + 0 * 0.6 + 2 * 0.3) / 1.8, 1e-6);
  EXPECT_DOUBLE_EQ(merged[1].x, 100);
  EXPECT_TRUE(mergeOverlaps<FaceDetection>({}, 0.3).empty());
  // touching but barely overlapping boxes stay apart
  EXPECT_EQ(mergeOverlaps<FaceDetection>({box(0, 0, 10, 10, 0.9f), box(8, 0, 10, 10, 0.8f)}, 0.3).size(), 2u);
  // A box of no area overlaps nothing, not even itself, and still ends.
  EXPECT_EQ(mergeOverlaps<FaceDetection>({box(5, 5, 0, 0, 0.9f), box(5, 5, 0, 0, 0.8f)}, 0.3).size(), 2u);

  Palm a, b, c;
  a.score = 0.9f;
  a.width = a.height = 10;
  a.keypoints[0] = {0, 0};
  b.score = 0.3f;
  b.x = 2;
  b.width = b.height = 10;
  b.keypoints[0] = {4, 4};
  c.score = 0.8f;
  c.x = c.y = 50;
  c.width = c.height = 10;
  auto palms = mergeOverlaps<Palm>({b, c, a}, 0.3, 0);
  ASSERT_EQ(palms.size(), 2u);
  EXPECT_FLOAT_EQ(palms[0].score, 0.9f);
  EXPECT_NEAR(palms[0].x, 0.5, 1e-6);  // (0 * 0.9 + 2 * 0.3) / 1.2
  EXPECT_NEAR(palms[0].keypoints[0].x, 1, 1e-6);
  EXPECT_DOUBLE_EQ(palms[1].x, 50);
  EXPECT_EQ(mergeOverlaps<Palm>({b, c, a}, 0.3, 1).size(), 1u);
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

TEST(RotatedCrop, RoundTripsLevelsTheLineMirrorsAndWarpsAtPixelCentres) {
  const PixelPoint centre{300, 200};
  const double angle = 0.4;
  const CropTransform t = cropTransform({centre, 100, angle}, 64);
  const PixelPoint c = toCrop(t, centre);
  EXPECT_NEAR(c.x, 32, 1e-9);
  EXPECT_NEAR(c.y, 32, 1e-9);
  const PixelPoint along = toCrop(t, {300 + 50 * std::cos(angle), 200 + 50 * std::sin(angle)});
  EXPECT_NEAR(along.x, 64, 1e-9);  // half a side along the line reaches the crop's right edge
  EXPECT_NEAR(along.y, 32, 1e-9);
  const PixelPoint back = t.toPicture(toCrop(t, {123, 456}));
  EXPECT_NEAR(back.x, 123, 1e-9);
  EXPECT_NEAR(back.y, 456, 1e-9);
  EXPECT_NEAR(t.pictureScale(), 100 / 64.0, 1e-12);

  const CropTransform m = cropTransform({centre, 100, 0, true}, 64);
  EXPECT_NEAR(toCrop(m, {310, 200}).x, 32 - 6.4, 1e-9);  // picture right is crop left
  const PixelPoint mb = m.toPicture(toCrop(m, {310, 190}));
  EXPECT_NEAR(mb.x, 310, 1e-9);
  EXPECT_NEAR(mb.y, 190, 1e-9);

  // The warp in pixel-centre convention is the inverse of toPicture, at any turn.
  for (double turn : {0.0, std::atan2(0.6, -0.8), -std::numbers::pi / 2}) {
    const CropTransform h = cropTransform({{300, 200}, 150, turn}, kHandInput);
    auto w = h.warpAtPixelCentres();
    for (PixelPoint q : {PixelPoint{0, 0}, PixelPoint{224, 0}, PixelPoint{37.5, 190}}) {
      PixelPoint p = h.toPicture(q);
      // In pixel-centre convention on both sides.
      double px = p.x - 0.5, py = p.y - 0.5;
      EXPECT_NEAR(w[0] * px + w[1] * py + w[2], q.x - 0.5, 1e-9);
      EXPECT_NEAR(w[3] * px + w[4] * py + w[5], q.y - 0.5, 1e-9);
    }
  }
}

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
  EXPECT_DOUBLE_EQ(toPictureLength(box, 0.5), 320);
  const Letterbox tall = Letterbox::fit(1080, 1920, 512);
  EXPECT_EQ(tall.innerHeight, 512);
  EXPECT_EQ(tall.innerWidth, 288);
  EXPECT_EQ(tall.offsetX, 112);
  // A one-pixel-high strip still keeps one row.
  EXPECT_EQ(Letterbox::fit(4000, 1, 192).innerHeight, 1);
}

TEST(NormalisedRect, OriginMovesToTheLowerLeft) {
  Rect r = normalisedRect({10, 20, 30, 60}, 100, 80);
  EXPECT_DOUBLE_EQ(r.x, 0.1);
  EXPECT_DOUBLE_EQ(r.y, 0.25);  // 1 - 60 / 80
  EXPECT_DOUBLE_EQ(r.width, 0.2);
  EXPECT_DOUBLE_EQ(r.height, 0.5);
  const Rect f = normalisedRect({100, 50, 300, 150}, 1000, 500);
  EXPECT_DOUBLE_EQ(f.x, 0.1);
  EXPECT_DOUBLE_EQ(f.y, (500 - 150) / 500.0);
  EXPECT_DOUBLE_EQ(f.width, 0.2);
  EXPECT_DOUBLE_EQ(f.height, 0.2);
}

TEST(SsdDecoding, APalmInALetterboxedInputLandsOnThePictureAlongEachAxis) {
  // 500 x 333 in 192: 192 x 128 inside, 32 rows above; the axes scale by
  // 500 / 192 and 333 / 128, which differ.
  const Letterbox box = Letterbox::fit(500, 333, kPalmInput);
  const std::vector<PixelPoint> anchors = {{0.25, 0.5}};
  std::vector<float> row(18, 0.0f);
  row[2] = 48, row[3] = 64;  // 48 x 64 input pixels around the anchor (48, 96)
  row[4] = -24, row[5] = 32;  // the wrist at the box's lower left
  const float logit = 2;
  auto palms = decodeSsd<7>(&logit, row.data(), anchors, kPalmInput, placementOf(box), 0.5f);
  ASSERT_EQ(palms.size(), 1u);
  const double sx = 500.0 / 192, sy = 333.0 / 128;
  EXPECT_NEAR(palms[0].x, 24 * sx, 1e-9);
  EXPECT_NEAR(palms[0].y, (64 - 32) * sy, 1e-9);
  EXPECT_NEAR(palms[0].width, 48 * sx, 1e-9);
  EXPECT_NEAR(palms[0].height, 64 * sy, 1e-9);
  EXPECT_NEAR(palms[0].keypoints[0].x, palms[0].x, 1e-9);
  EXPECT_NEAR(palms[0].keypoints[0].y, palms[0].y + palms[0].height, 1e-9);
  // The input's top-left corner is the picture's, past the band above it.
  EXPECT_NEAR(placementOf(box).offsetY, -32 * sy, 1e-9);
}

TEST(ModelInput, PlanesOrInterleavedRgbScaledAndShifted) {
  // Two BGR pixels: (1, 2, 3) and (10, 20, 30).
  const cv::Mat bgr = (cv::Mat_<cv::Vec3b>(1, 2) << cv::Vec3b(1, 2, 3), cv::Vec3b(10, 20, 30));
  VisionModel model;
  model.input = {2.0f, -1.0f, false};
  std::vector<float> planes(6);
  writePicture(model, bgr, planes.data());
  EXPECT_EQ(planes, (std::vector<float>{5, 59, 3, 39, 1, 19}));  // R R G G B B
  model.input.interleaved = true;
  std::vector<float> interleaved(6);
  writePicture(model, bgr, interleaved.data());
  EXPECT_EQ(interleaved, (std::vector<float>{5, 3, 1, 59, 39, 19}));  // R G B R G B
}
