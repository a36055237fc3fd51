// Observations of the vision service turned into a frame record.
#include <gtest/gtest.h>

#include "probe/analysis/frame_record.h"

using namespace kestrel;
using namespace kestrel::vision;

namespace {

LandmarksObservation face(double w, double h, std::optional<FaceLandmarks> l) {
  return LandmarksObservation{Rect{0, 0, w, h}, std::move(l)};
}

// An eye spanning 0.25..0.75 on both axes: its middle is (0.5, 0.5).
std::vector<Point> eyeBox() { return {{0.25, 0.5}, {0.75, 0.5}, {0.5, 0.75}, {0.5, 0.25}}; }

FaceLandmarks eyes(Point left, Point right) {
  FaceLandmarks l;
  l.leftEye = eyeBox();
  l.rightEye = eyeBox();
  l.leftPupil = std::vector<Point>{left};
  l.rightPupil = std::vector<Point>{right};
  return l;
}

}  // namespace

TEST(Gaze, AbsentWithoutFacesOrLandmarks) {
  EXPECT_FALSE(gazeOf({}).has_value());
  EXPECT_FALSE(gazeOf({face(0.5, 0.5, std::nullopt)}).has_value());
}

TEST(Gaze, CentreEdgeAndMeanOfBothEyes) {
  auto g = gazeOf({face(0.2, 0.2, eyes({0.5, 0.5}, {0.5, 0.5}))});
  ASSERT_TRUE(g);
  EXPECT_DOUBLE_EQ((*g)[0], 0);
  EXPECT_DOUBLE_EQ((*g)[1], 0);
  g = gazeOf({face(0.2, 0.2, eyes({0.75, 0.75}, {0.25, 0.5}))});
  EXPECT_EQ((*g)[0], 0);  // (1 + -1) / 2
  EXPECT_EQ((*g)[1], 0.5);  // (1 + 0) / 2
}

TEST(Gaze, OnlyUsableSidesCount) {
  FaceLandmarks l = eyes({0.75, 0.5}, {0.5, 0.5});
  l.rightEye = std::vector<Point>{{0.25, 0.5}, {0.75, 0.75}};  // two points: skipped
  auto g = gazeOf({face(0.2, 0.2, l)});
  ASSERT_TRUE(g);
  EXPECT_DOUBLE_EQ((*g)[0], 1);
  l.leftEye = std::vector<Point>{{0.25, 0.5}, {0.5, 0.5}, {0.75, 0.5}};  // flat: skipped
  EXPECT_FALSE(gazeOf({face(0.2, 0.2, l)}).has_value());
  l = eyes({0.75, 0.5}, {0.5, 0.5});
  l.leftPupil = std::vector<Point>{};
  l.rightPupil.reset();
  EXPECT_FALSE(gazeOf({face(0.2, 0.2, l)}).has_value());
}

TEST(Gaze, LargestFaceWinsAndTiesKeepTheFirst) {
  auto small = face(0.1, 0.1, eyes({0.25, 0.5}, {0.25, 0.5}));   // gaze x -1
  auto large = face(0.2, 0.2, eyes({0.75, 0.5}, {0.75, 0.5}));   // gaze x +1
  EXPECT_DOUBLE_EQ((*gazeOf({small, large}))[0], 1);
  auto same = face(0.1, 0.1, eyes({0.75, 0.5}, {0.75, 0.5}));
  EXPECT_DOUBLE_EQ((*gazeOf({small, same}))[0], -1);
}

TEST(Hands, ConfidentJointsGiveTheirExtent) {
  HandObservation hand{0.75f, std::vector<Joint>{{{0.4, 0.6}, 0.9f}, {{0.1, 0.1}, 0.3f}}};
  auto b = handBox(hand);
  ASSERT_TRUE(b);
  EXPECT_DOUBLE_EQ(b->x, 0.4);
  EXPECT_DOUBLE_EQ(b->y, 0.6);
  EXPECT_EQ(b->width, 0);
  EXPECT_EQ(b->height, 0);
  EXPECT_EQ(b->confidence, 0.75);
  hand.joints = std::vector<Joint>{{{0.1, 0.2}, 0.3f}, {{0.5, 0.5}, 0.1f}};
  EXPECT_FALSE(handBox(hand));
  hand.joints.reset();
  EXPECT_FALSE(handBox(hand));
  hand.joints = std::vector<Joint>{{{0.5, 0.2}, 0.31f}, {{0.1, 0.7}, 1.0f}, {{0.3, 0.4}, 0.5f}};
  b = handBox(hand);
  EXPECT_DOUBLE_EQ(b->x, 0.1);
  EXPECT_DOUBLE_EQ(b->y, 0.2);
  EXPECT_DOUBLE_EQ(b->width, 0.4);
  EXPECT_DOUBLE_EQ(b->height, 0.5);
}

TEST(Classes, ThresholdStableOrderAndTen) {
  std::vector<Classification> in;
  for (int i = 0; i < 15; ++i) in.push_back({"l" + std::to_string(i), 0.05f + 0.01f * (i % 5)});
  in.push_back({"below", 0.049f});
  auto out = topClasses(in);
  ASSERT_EQ(out.size(), 10u);
  // The three labels at 0.09 first, in their input order, then the 0.08 ones.
  EXPECT_EQ(out[0].label, "l4");
  EXPECT_EQ(out[1].label, "l9");
  EXPECT_EQ(out[2].label, "l14");
  EXPECT_EQ(out[3].label, "l3");
  EXPECT_EQ(out[0].confidence, static_cast<double>(0.09f));
  EXPECT_EQ(topClasses({{"edge", 0.05f}}).size(), 1u);
}

TEST(FrameRecord, FromObservations) {
  Results r;
  r.faces.push_back({Rect{0.1, 0.2, 0.3, 0.4}, 0.9f, std::nullopt, 0.25});
  r.humans.push_back({Rect{0, 0, 1, 1}, 0.5f});
  r.animals.push_back({Rect{0.5, 0.5, 0.1, 0.1}, {}});
  r.animals.push_back({Rect{0.5, 0.5, 0.2, 0.2}, {{"Cat", 0.7f}, {"Dog", 0.2f}, {"Bird", 0.1f}}});
  r.hands.push_back({0.6f, std::vector<Joint>{{{0.4, 0.6}, 0.9f}}});
  Frame f = frameRecord(r, media::MediaTime{1001, 30000, true}, {1, 2});
  EXPECT_EQ(f.pts, (std::vector<int64_t>{1001, 30000}));
  ASSERT_EQ(f.faces.size(), 1u);
  EXPECT_FALSE(f.faces[0].yaw);
  EXPECT_EQ(f.faces[0].pitch, 0.25);
  EXPECT_EQ(f.faces[0].box.confidence, static_cast<double>(0.9f));
  ASSERT_EQ(f.animals.size(), 1u);
  EXPECT_EQ(f.animals[0].label, "Cat");
  EXPECT_EQ(f.animals[0].box.confidence, static_cast<double>(0.7f));
  EXPECT_EQ(f.animals[0].box.width, 0.2);
  EXPECT_EQ(f.hands.size(), 1u);
  EXPECT_FALSE(f.gaze);
  EXPECT_EQ(f.thumb, (std::vector<uint8_t>{1, 2}));
}
