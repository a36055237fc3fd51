// The instance map and scaled masks on plain salient maps, mattes and person boxes.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include <opencv2/imgproc.hpp>

#include "platform/vision/dnn/instance_map.h"

using namespace kestrel::vision;
using namespace kestrel::vision::dnn;

namespace {

cv::Mat blank(int side = 100) { return cv::Mat::zeros(side, side, CV_32F); }

void box(cv::Mat& m, int x, int y, int w, int h, double v) {
  m(cv::Rect(x, y, w, h)).setTo(v);
}

uint8_t at(const InstanceObservation& o, int x, int y) {
  return o.labels[static_cast<size_t>(y * o.stride + x)];
}
uint8_t at(const InstanceMap& m, int x, int y) { return at(m.observation, x, y); }

cv::Mat noPerson() { return cv::Mat::zeros(100, 100, CV_8U); }

// The salient map alone: everything is an object.
InstanceObservation objects(const cv::Mat& salient, const InstanceSettings& settings = {}) {
  return labelInstances(salient, {}, {}, {}, settings).observation;
}

// The map's contract: 0 or a listed label everywhere, every listed label present.
void expectContract(const InstanceObservation& o) {
  ASSERT_EQ(o.labels.size(), static_cast<size_t>(o.stride * o.height));
  ASSERT_GE(o.stride, o.width);
  std::set<uint8_t> present;
  for (int64_t y = 0; y < o.height; ++y)
    for (int64_t x = 0; x < o.width; ++x)
      if (uint8_t l = o.labels[static_cast<size_t>(y * o.stride + x)]) present.insert(l);
  EXPECT_EQ(std::vector<uint8_t>(present.begin(), present.end()), o.allInstances);
}

}  // namespace

TEST(InstanceMap, SeparateBlobsAreNumberedInRasterOrder) {
  cv::Mat s = blank();
  box(s, 60, 10, 20, 20, 0.9);  // first row-wise
  box(s, 5, 50, 30, 30, 0.8);
  InstanceObservation o = objects(s);
  expectContract(o);
  EXPECT_EQ(o.width, 100);
  EXPECT_EQ(o.height, 100);
  EXPECT_EQ(o.allInstances, (std::vector<uint8_t>{1, 2}));
  EXPECT_EQ(at(o, 70, 20), 1);
  EXPECT_EQ(at(o, 20, 60), 2);
  EXPECT_EQ(at(o, 50, 50), 0);
}

TEST(InstanceMap, ThresholdAndMinimumSizeDecideWhatCounts) {
  InstanceSettings st;  // 100 x 100 map: the smallest instance is 20 pixels
  ASSERT_EQ(minimumArea(cv::Size(100, 100), st), 20);
  cv::Mat s = blank();
  box(s, 10, 10, 4, 5, 0.5f);   // 20 pixels exactly at the threshold: kept
  box(s, 50, 10, 19, 1, 0.9f);  // 19 pixels: dropped
  box(s, 10, 60, 30, 30, 0.49f);  // below the threshold: background
  InstanceObservation o = objects(s, st);
  expectContract(o);
  EXPECT_EQ(o.allInstances, (std::vector<uint8_t>{1}));
  EXPECT_EQ(at(o, 12, 12), 1);
  EXPECT_EQ(at(o, 55, 10), 0);
  EXPECT_EQ(at(o, 20, 70), 0);
}

TEST(InstanceMap, EmptyMapHasNoInstances) {
  for (const InstanceMap& m : {labelInstances(blank(), {}), labelInstances(blank(), noPerson()),
                               labelInstances({}, noPerson(), {{10, 10, 50, 90}})}) {
    expectContract(m.observation);
    EXPECT_EQ(m.observation.width, 100);
    EXPECT_TRUE(m.observation.allInstances.empty());
    EXPECT_TRUE(m.people.empty());
  }
}

TEST(InstanceMap, ManyComponentsKeepTheLargest255) {
  cv::Mat s = blank(400);
  InstanceSettings st;
  st.minShare = 0;  // every component counts
  int n = 0;
  for (int y = 0; y < 400 && n < 300; y += 20)
    for (int x = 0; x < 400 && n < 300; x += 20, ++n) box(s, x, y, n == 299 ? 2 : 10, 10, 1);
  // 300 blobs: 299 of 100 pixels, the last of 20: the 45 dropped include it.
  InstanceObservation o = objects(s, st);
  expectContract(o);
  ASSERT_EQ(o.allInstances.size(), 255u);
  EXPECT_EQ(o.allInstances.front(), 1);
  EXPECT_EQ(o.allInstances.back(), 255);
  EXPECT_EQ(o.labels[static_cast<size_t>(280 * 400 + 380)], 0);  // the small last blob
}

TEST(InstanceSplit, ObjectHeldAgainstThePersonBecomesItsOwnInstance) {
  // A person (matte 255) with a cup touching the body: one salient component.
  cv::Mat s = blank(), person = noPerson();
  box(s, 30, 10, 30, 80, 0.9);   // body
  box(s, 60, 40, 15, 15, 0.95);  // cup, touching the body's right side
  box(person, 30, 10, 30, 80, 255);
  InstanceMap m = labelInstances(s, person);
  const InstanceObservation& o = m.observation;
  expectContract(o);
  ASSERT_EQ(o.allInstances.size(), 2u);
  const uint8_t body = at(o, 45, 50), cup = at(o, 67, 47);
  EXPECT_NE(body, 0);
  EXPECT_NE(cup, 0);
  EXPECT_NE(body, cup);
  EXPECT_EQ(m.people, std::vector<uint8_t>{body});
  EXPECT_EQ(at(o, 45, 12), body);
  // The cup's edge pixels are the cup's, the body's own edge stays the body's.
  EXPECT_EQ(at(o, 74, 54), cup);
  EXPECT_EQ(at(o, 59, 47), body);
  // The cup's mask stops where the body starts, though both are salient.
  Matte cupMask = scaledChosenMask({{}, s}, m, {cup}, 100, 100);
  EXPECT_EQ(cupMask.pixels[50 * 100 + 67], 242);  // 0.95 x 255
  for (int y = 10; y < 90; ++y)
    for (int x = 30; x < 60; ++x) ASSERT_EQ(cupMask.pixels[static_cast<size_t>(y * 100 + x)], 0) << x << "," << y;
}

TEST(InstanceSplit, ThinRimAroundThePersonMakesNoObject) {
  // The salient outline is 2 pixels wider than the matte all round.
  cv::Mat s = blank(), person = noPerson();
  box(s, 28, 8, 34, 84, 0.9);
  box(person, 30, 10, 30, 80, 255);
  InstanceMap m = labelInstances(s, person);
  expectContract(m.observation);
  EXPECT_EQ(m.observation.allInstances, (std::vector<uint8_t>{1}));
  EXPECT_EQ(m.people, (std::vector<uint8_t>{1}));
  EXPECT_NE(at(m, 28, 50), 2);
}

TEST(InstanceSplit, PersonTheSalientMapMissesIsStillAnInstance) {
  // Saliency leaves the person out (or cuts her face away): the matte has her.
  cv::Mat s = blank(), person = noPerson();
  box(s, 30, 50, 30, 40, 0.9);  // the salient map sees only the legs
  box(person, 30, 10, 30, 80, 255);
  InstanceMap m = labelInstances(s, person);
  expectContract(m.observation);
  ASSERT_EQ(m.observation.allInstances.size(), 1u);
  EXPECT_EQ(m.people, m.observation.allInstances);
  EXPECT_EQ(at(m, 45, 15), at(m, 45, 80));
  EXPECT_EQ(labelInstances({}, person).people.size(), 1u);
}

TEST(InstanceSplit, WhatTheMatteCallsAPersonIsNoObject) {
  cv::Mat s = blank(), person = noPerson();
  box(s, 30, 10, 30, 80, 0.9);
  box(s, 60, 40, 15, 15, 0.95);
  // The matte covers the cup too (held in front of the body): one person.
  box(person, 30, 10, 45, 80, 255);
  EXPECT_EQ(labelInstances(s, person).observation.allInstances.size(), 1u);
  // The matte half calls it a person: not an object, not a person either.
  person = noPerson();
  box(person, 30, 10, 30, 80, 255);
  box(person, 60, 40, 15, 15, 90);
  InstanceMap m = labelInstances(s, person);
  EXPECT_EQ(m.observation.allInstances.size(), 1u);
  EXPECT_EQ(at(m, 67, 47), 0);
  // No matte at all: the touching cup stays part of the one salient component.
  EXPECT_EQ(objects(s).allInstances.size(), 1u);
  // A separate object is its own instance whatever the matte says.
  cv::Mat t = blank();
  box(t, 5, 5, 10, 10, 0.9);
  box(t, 30, 10, 30, 80, 0.9);
  EXPECT_EQ(labelInstances(t, person).observation.allInstances.size(), 2u);
}

TEST(InstanceSplit, PersonWithTwoObjectsGivesThreeInstances) {
  cv::Mat s = blank(), person = noPerson();
  box(s, 30, 10, 30, 80, 0.9);
  box(s, 60, 20, 12, 12, 0.9);
  box(s, 18, 60, 12, 12, 0.9);
  box(person, 30, 10, 30, 80, 255);
  InstanceMap m = labelInstances(s, person);
  expectContract(m.observation);
  EXPECT_EQ(m.observation.allInstances.size(), 3u);
  EXPECT_EQ(m.people.size(), 1u);
  EXPECT_NE(at(m, 65, 25), at(m, 22, 65));
}

TEST(PeopleSplit, PeopleInOnePieceOfMatteComeApartAtTheirBoxes) {
  // Two people side by side whose mattes touch: one component.
  cv::Mat person = noPerson();
  box(person, 20, 20, 30, 70, 255);
  box(person, 45, 25, 30, 65, 255);
  const Corners left{18, 15, 52, 92}, right{43, 20, 77, 92};
  InstanceMap together = labelInstances({}, person);
  EXPECT_EQ(together.people.size(), 1u);

  InstanceMap m = labelInstances({}, person, {left, right});
  expectContract(m.observation);
  ASSERT_EQ(m.people.size(), 2u);
  EXPECT_EQ(m.people, m.observation.allInstances);
  const uint8_t a = at(m, 25, 50), b = at(m, 70, 50);
  EXPECT_NE(a, b);
  EXPECT_EQ(at(m, 35, 22), a);  // the left one's head
  EXPECT_EQ(at(m, 60, 27), b);
  EXPECT_EQ(at(m, 40, 85), a);
  EXPECT_EQ(at(m, 55, 85), b);
  // Every matte pixel belongs to one of them, nothing else does.
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 100; ++x) ASSERT_EQ(at(m, x, y) != 0, person.at<uint8_t>(y, x) == 255) << x << "," << y;

  // The left one's upper body found again (same top, same centre) is no third
  // person; a box over empty background fits nobody.
  const Corners upperBody{19, 15, 51, 55}, nobody{80, 0, 100, 40};
  EXPECT_EQ(labelInstances({}, person, {upperBody, left, nobody, right}).people.size(), 2u);
  // One box on the piece: it stays whole.
  EXPECT_EQ(labelInstances({}, person, {left}).people.size(), 1u);
}

TEST(PeopleSplit, SeparatePeopleNeedNoBoxesAndSpecksAreNobody) {
  cv::Mat person = noPerson();
  box(person, 5, 20, 20, 70, 255);
  box(person, 60, 20, 20, 70, 200);
  box(person, 40, 5, 4, 4, 255);  // 16 pixels, under the 20 of a 100 x 100 map
  InstanceMap m = labelInstances({}, person);
  expectContract(m.observation);
  EXPECT_EQ(m.people.size(), 2u);
  EXPECT_EQ(at(m, 41, 6), 0);
  // Boxes that fit the two pieces change nothing.
  EXPECT_EQ(labelInstances({}, person, {{3, 18, 27, 92}, {58, 18, 82, 92}}).people.size(), 2u);
}

namespace {

struct TwoInstances {
  cv::Mat salient = blank();
  InstanceMap map;
  uint8_t left = 0, right = 0;
  TwoInstances() {
    // Soft blobs: a plateau of 1 with a linear fall-off over 6 pixels.
    cv::Mat hard = cv::Mat::zeros(100, 100, CV_8U);
    hard(cv::Rect(10, 30, 30, 40)).setTo(255);
    hard(cv::Rect(60, 30, 30, 40)).setTo(255);
    cv::Mat dist;
    cv::distanceTransform(~hard, dist, cv::DIST_L2, 3);
    salient = cv::max(0.0, 1.0 - dist / 6.0);
    map = labelInstances(salient, {});
    left = at(map, 25, 50);
    right = at(map, 75, 50);
  }
};

cv::Mat view(Matte& m) {
  return cv::Mat(static_cast<int>(m.height), static_cast<int>(m.width), CV_8U, m.pixels.data());
}

}  // namespace

TEST(ScaledMask, EmptyOrUnknownSetsGiveAnAllZeroMaskOfTheFrameSize) {
  TwoInstances t;
  ASSERT_EQ(t.map.observation.allInstances.size(), 2u);
  for (const std::vector<uint8_t>& set : {std::vector<uint8_t>{}, std::vector<uint8_t>{7},
                                           std::vector<uint8_t>{0}}) {
    Matte m = scaledChosenMask({{}, t.salient}, t.map, set, 64, 48);
    EXPECT_EQ(m.width, 64);
    EXPECT_EQ(m.height, 48);
    ASSERT_EQ(m.pixels.size(), 64u * 48u);
    EXPECT_TRUE(std::all_of(m.pixels.begin(), m.pixels.end(), [](uint8_t v) { return v == 0; }));
  }
  // No map at all (nothing segmented yet).
  Matte m = scaledChosenMask({}, InstanceMap{}, {1}, 8, 8);
  EXPECT_EQ(m.pixels, std::vector<uint8_t>(64, 0));
}

TEST(ScaledMask, ZeroOutsideTheChosenInstanceSoftAtItsEdge) {
  TwoInstances t;
  const int W = 400, H = 300;
  Matte m = scaledChosenMask({{}, t.salient}, t.map, {t.left}, W, H);
  cv::Mat v = view(m);
  // Full inside, zero on the other instance and on the far background.
  EXPECT_EQ(v.at<uint8_t>(150, 100), 255);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const int mx = std::min(99, (x * 100 + 50) / W), my = std::min(99, (y * 100 + 50) / H);
      const uint8_t label = at(t.map, mx, my);
      if (label == t.right || (label == 0 && (mx > 46 || mx < 3 || my < 23 || my > 76))) {
        ASSERT_EQ(v.at<uint8_t>(y, x), 0) << x << "," << y;
      }
    }
  // Along a row through the left edge, the mask climbs through soft values.
  std::set<int> values;
  for (int x = 0; x < 60; ++x) values.insert(v.at<uint8_t>(150, x));
  EXPECT_GE(std::count_if(values.begin(), values.end(), [](int x) { return x > 10 && x < 245; }), 3);
}

TEST(ScaledMask, FirstRowIsTheTopAndBothInstancesTogetherCoverBoth) {
  cv::Mat s = blank();
  box(s, 0, 0, 100, 10, 1);  // a band along the top
  InstanceMap o = labelInstances(s, {});
  ASSERT_EQ(o.observation.allInstances.size(), 1u);
  Matte m = scaledChosenMask({{}, s}, o, o.observation.allInstances, 50, 50);
  EXPECT_EQ(view(m).at<uint8_t>(0, 25), 255);
  EXPECT_EQ(view(m).at<uint8_t>(49, 25), 0);

  TwoInstances t;
  Matte both = scaledChosenMask({{}, t.salient}, t.map, t.map.observation.allInstances, 100, 100);
  EXPECT_EQ(view(both).at<uint8_t>(50, 25), 255);
  EXPECT_EQ(view(both).at<uint8_t>(50, 75), 255);
  EXPECT_EQ(view(both).at<uint8_t>(5, 50), 0);
}

TEST(ScaledMask, PeopleTakeTheMattesValuesObjectsTheSalientMaps) {
  // Two people apart and a ball; the salient map is unsure of the left one.
  cv::Mat person = noPerson(), s = blank();
  box(person, 10, 10, 25, 80, 255);
  box(person, 60, 10, 25, 80, 255);
  box(s, 40, 80, 12, 12, 0.9);
  box(s, 10, 10, 25, 80, 0.3);
  InstanceMap m = labelInstances(s, person);
  ASSERT_EQ(m.people.size(), 2u);
  ASSERT_EQ(m.observation.allInstances.size(), 3u);
  const uint8_t left = at(m, 20, 50), right = at(m, 70, 50), ball = at(m, 45, 85);
  ASSERT_NE(ball, 0);
  // The matte at twice the map's size, half sure of the left one's top rows.
  cv::Mat matte(200, 200, CV_32F, cv::Scalar(0));
  matte(cv::Rect(20, 20, 50, 160)).setTo(1.0);
  matte(cv::Rect(120, 20, 50, 160)).setTo(1.0);
  matte(cv::Rect(20, 20, 50, 10)).setTo(0.5);
  Matte mask = scaledChosenMask({matte, s}, m, {left, ball}, 100, 100);
  cv::Mat v = view(mask);
  EXPECT_EQ(v.at<uint8_t>(50, 20), 255);
  EXPECT_NEAR(v.at<uint8_t>(12, 20), 128, 1);
  EXPECT_NEAR(v.at<uint8_t>(85, 45), 230, 1);
  EXPECT_EQ(v.at<uint8_t>(50, 70), 0);
  Matte other = scaledChosenMask({matte, s}, m, {right}, 100, 100);
  EXPECT_EQ(view(other).at<uint8_t>(50, 70), 255);
  EXPECT_EQ(view(other).at<uint8_t>(50, 20), 0);
  EXPECT_EQ(view(other).at<uint8_t>(85, 45), 0);
}

TEST(Things, ADetectedThingTheMapsMissIsWholeWhereNoPersonIsAndAFoundOneAddsNothing) {
  // A person whose hand reaches into a glass's box; the salient map shows
  // nothing there but a ball in a second, loose box.
  cv::Mat person = noPerson(), s = blank();
  box(person, 10, 10, 30, 80, 255);
  box(person, 40, 50, 8, 8, 255);  // the hand
  box(s, 70, 70, 10, 10, 0.9);     // the ball
  const std::vector<Corners> things{{42, 30, 58, 70}, {65, 65, 90, 90}, {0, 0, 3, 3}};
  InstanceMap m = labelInstances(s, person, {}, things);
  expectContract(m.observation);
  ASSERT_EQ(m.things.size(), 1u);  // the ball's box and the speck add none
  const uint8_t glass = m.things[0];
  EXPECT_EQ(at(m, 50, 40), glass);
  EXPECT_EQ(at(m, 44, 52), at(m, 20, 50));  // the hand stays the person's
  EXPECT_NE(at(m, 44, 52), glass);
  EXPECT_EQ(at(m, 66, 66), 0);  // around the ball
  EXPECT_EQ(at(m, 60, 40), 0);  // outside the box
  // Its soft mask is whole over its part of the box, whatever the salient map says.
  Matte mask = scaledChosenMask({{}, s}, m, {glass}, 100, 100);
  EXPECT_EQ(view(mask).at<uint8_t>(40, 50), 255);
  EXPECT_EQ(view(mask).at<uint8_t>(52, 44), 0);
  EXPECT_EQ(view(mask).at<uint8_t>(75, 75), 0);
}
