// The instance map and scaled masks on plain salient maps and mattes.
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
  InstanceObservation o = labelInstances(s, {});
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
  InstanceObservation o = labelInstances(s, {}, {}, st);
  expectContract(o);
  EXPECT_EQ(o.allInstances, (std::vector<uint8_t>{1}));
  EXPECT_EQ(at(o, 12, 12), 1);
  EXPECT_EQ(at(o, 55, 10), 0);
  EXPECT_EQ(at(o, 20, 70), 0);
}

TEST(InstanceMap, EmptyMapHasNoInstances) {
  InstanceObservation o = labelInstances(blank(), {});
  expectContract(o);
  EXPECT_TRUE(o.allInstances.empty());
}

TEST(InstanceMap, ManyComponentsKeepTheLargest255) {
  cv::Mat s = blank(400);
  InstanceSettings st;
  st.minShare = 0;  // every component counts
  int n = 0;
  for (int y = 0; y < 400 && n < 300; y += 20)
    for (int x = 0; x < 400 && n < 300; x += 20, ++n) box(s, x, y, n == 299 ? 2 : 10, 10, 1);
  // 300 blobs: 299 of 100 pixels, the last of 20: the 45 dropped include it.
  InstanceObservation o = labelInstances(s, {}, {}, st);
  expectContract(o);
  ASSERT_EQ(o.allInstances.size(), 255u);
  EXPECT_EQ(o.allInstances.front(), 1);
  EXPECT_EQ(o.allInstances.back(), 255);
  EXPECT_EQ(o.labels[static_cast<size_t>(280 * 400 + 380)], 0);  // the small last blob
}

TEST(InstanceSplit, ObjectHeldAgainstThePersonBecomesItsOwnInstance) {
  // A person (matte 255) with a cup touching the body: one salient component.
  cv::Mat s = blank(), person = cv::Mat::zeros(100, 100, CV_8U);
  box(s, 30, 10, 30, 80, 0.9);   // body
  box(s, 60, 40, 15, 15, 0.95);  // cup, touching the body's right side
  box(person, 30, 10, 30, 80, 255);
  InstanceObservation o = labelInstances(s, person);
  expectContract(o);
  ASSERT_EQ(o.allInstances.size(), 2u);
  const uint8_t body = at(o, 45, 50), cup = at(o, 67, 47);
  EXPECT_NE(body, 0);
  EXPECT_NE(cup, 0);
  EXPECT_NE(body, cup);
  EXPECT_EQ(at(o, 45, 12), body);
  // The cup's edge pixels are the cup's, the body's own edge stays the body's.
  EXPECT_EQ(at(o, 74, 54), cup);
  EXPECT_EQ(at(o, 59, 47), body);
  // The cup's mask stops where the body starts, though both are salient.
  Matte m = scaledChosenMask(s, o, {cup}, 100, 100);
  EXPECT_EQ(m.pixels[50 * 100 + 67], 242);  // 0.95 x 255
  for (int y = 10; y < 90; ++y)
    for (int x = 30; x < 60; ++x) ASSERT_EQ(m.pixels[static_cast<size_t>(y * 100 + x)], 0) << x << "," << y;
}

TEST(InstanceSplit, ThinRimOutsideTheMatteStaysWithThePerson) {
  // The salient outline is 2 pixels wider than the matte all round: no object.
  cv::Mat s = blank(), person = cv::Mat::zeros(100, 100, CV_8U);
  box(s, 28, 8, 34, 84, 0.9);
  box(person, 30, 10, 30, 80, 255);
  InstanceObservation o = labelInstances(s, person);
  expectContract(o);
  EXPECT_EQ(o.allInstances, (std::vector<uint8_t>{1}));
  EXPECT_EQ(at(o, 28, 50), 1);
}

TEST(InstanceSplit, NoSplitWithoutAPersonOrWithoutAnythingElse) {
  cv::Mat s = blank(), person = cv::Mat::zeros(100, 100, CV_8U);
  box(s, 30, 10, 30, 80, 0.9);
  box(s, 60, 40, 15, 15, 0.95);
  // No matte, or an empty one: the touching cup stays part of the one component.
  EXPECT_EQ(labelInstances(s, {}).allInstances.size(), 1u);
  EXPECT_EQ(labelInstances(s, person).allInstances.size(), 1u);
  // The second matte calls the cup part of a person: no split.
  cv::Mat body = cv::Mat::zeros(100, 100, CV_8U), check = cv::Mat::zeros(100, 100, CV_8U);
  box(body, 30, 10, 30, 80, 255);
  ASSERT_EQ(labelInstances(s, body, check).allInstances.size(), 2u);
  box(check, 55, 35, 25, 25, 200);
  EXPECT_EQ(labelInstances(s, body, check).allInstances.size(), 1u);
  // The matte covers all of it (the cup is held in front of the body).
  box(person, 30, 10, 45, 80, 255);
  EXPECT_EQ(labelInstances(s, person).allInstances.size(), 1u);
  // A separate object is its own instance whatever the matte says.
  cv::Mat t = blank();
  box(t, 5, 5, 10, 10, 0.9);
  box(t, 30, 10, 30, 80, 0.9);
  EXPECT_EQ(labelInstances(t, person).allInstances.size(), 2u);
}

TEST(InstanceSplit, PersonWithTwoObjectsGivesThreeInstances) {
  cv::Mat s = blank(), person = cv::Mat::zeros(100, 100, CV_8U);
  box(s, 30, 10, 30, 80, 0.9);
  box(s, 60, 20, 12, 12, 0.9);
  box(s, 18, 60, 12, 12, 0.9);
  box(person, 30, 10, 30, 80, 255);
  InstanceObservation o = labelInstances(s, person);
  expectContract(o);
  EXPECT_EQ(o.allInstances.size(), 3u);
  EXPECT_NE(at(o, 65, 25), at(o, 22, 65));
}

namespace {

struct TwoInstances {
  cv::Mat salient = blank();
  InstanceObservation map;
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
  ASSERT_EQ(t.map.allInstances.size(), 2u);
  for (const std::vector<uint8_t>& set : {std::vector<uint8_t>{}, std::vector<uint8_t>{7},
                                           std::vector<uint8_t>{0}}) {
    Matte m = scaledChosenMask(t.salient, t.map, set, 64, 48);
    EXPECT_EQ(m.width, 64);
    EXPECT_EQ(m.height, 48);
    ASSERT_EQ(m.pixels.size(), 64u * 48u);
    EXPECT_TRUE(std::all_of(m.pixels.begin(), m.pixels.end(), [](uint8_t v) { return v == 0; }));
  }
  // No map at all (nothing segmented yet).
  Matte m = scaledChosenMask(cv::Mat(), InstanceObservation{}, {1}, 8, 8);
  EXPECT_EQ(m.pixels, std::vector<uint8_t>(64, 0));
}

TEST(ScaledMask, ZeroOutsideTheChosenInstanceSoftAtItsEdge) {
  TwoInstances t;
  const int W = 400, H = 300;
  Matte m = scaledChosenMask(t.salient, t.map, {t.left}, W, H);
  cv::Mat v = view(m);
  // Full inside, zero on the other instance and on the far background.
  EXPECT_EQ(v.at<uint8_t>(150, 100), 255);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const int mx = std::min(99, (x * 100 + 50) / W), my = std::min(99, (y * 100 + 50) / H);
      const uint8_t label = at(t.map, mx, my);
      if (label == t.right || (label == 0 && (mx > 46 || mx < 3 || my < 23 || my > 76)))
        ASSERT_EQ(v.at<uint8_t>(y, x), 0) << x << "," << y;
    }
  // Along a row through the left edge, the mask climbs through soft values.
  std::set<int> values;
  for (int x = 0; x < 60; ++x) values.insert(v.at<uint8_t>(150, x));
  EXPECT_GE(std::count_if(values.begin(), values.end(), [](int x) { return x > 10 && x < 245; }), 3);
}

TEST(ScaledMask, FirstRowIsTheTopAndBothInstancesTogetherCoverBoth) {
  cv::Mat s = blank();
  box(s, 0, 0, 100, 10, 1);  // a band along the top
  InstanceObservation o = labelInstances(s, {});
  ASSERT_EQ(o.allInstances.size(), 1u);
  Matte m = scaledChosenMask(s, o, o.allInstances, 50, 50);
  EXPECT_EQ(view(m).at<uint8_t>(0, 25), 255);
  EXPECT_EQ(view(m).at<uint8_t>(49, 25), 0);

  TwoInstances t;
  Matte both = scaledChosenMask(t.salient, t.map, t.map.allInstances, 100, 100);
  EXPECT_EQ(view(both).at<uint8_t>(50, 25), 255);
  EXPECT_EQ(view(both).at<uint8_t>(50, 75), 255);
  EXPECT_EQ(view(both).at<uint8_t>(5, 50), 0);
}
