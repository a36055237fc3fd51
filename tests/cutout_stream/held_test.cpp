// The held-object step on scripted hands and label maps.
#include <gtest/gtest.h>

#include "probe/cutout/held.h"
#include "tests/support/scripted_vision.h"

using namespace kestrel;
using namespace kestrel::test;

namespace {

constexpr int64_t S = 256;  // frame and label map side: pixel positions are exact in shares

vision::Joint joint(double px, double py, float confidence = 0.9f) {
  return vision::Joint{vision::Point{px / S, 1 - py / S}, confidence};
}

// A hand whose confident joints span a square of side e from (x, y), plus extra joints.
vision::HandObservation hand(double x, double y, double e, int points = 5) {
  std::vector<vision::Joint> joints{joint(x, y), joint(x + e, y + e)};
  for (int i = 2; i < points; ++i) joints.push_back(joint(x + e / 2, y + e / 2));
  joints.push_back(joint(0, 0, 0.3f));  // not confident: never counts
  return vision::HandObservation{0.9f, joints};
}

struct Held {
  ScriptedService service;
  std::vector<uint8_t> mask = std::vector<uint8_t>(S * S, 0);
  std::vector<uint8_t> instanceMask = std::vector<uint8_t>(S * S, 0);
  std::vector<uint8_t> heldMask = std::vector<uint8_t>(S * S, 0);
  vision::InstanceObservation labels = labelMap(S, S, [](int64_t, int64_t) { return 0; });
  std::vector<uint8_t> picked;

  std::array<float, 4> run() {
    auto handler = service.handler(Picture{nullptr, S, S, 4 * S}, 1);
    return addHeld({greyPlane(mask.data(), S, S), greyPlane(instanceMask.data(), S, S),
                    greyPlane(heldMask.data(), S, S)},
                   labels, picked, *handler, nullptr);
  }
  // What the gate took: instanceMask foreground that mask lost, over a rectangle.
  void gateTook(int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
    for (int64_t y = y0; y < y1; ++y)
      for (int64_t x = x0; x < x1; ++x) instanceMask[static_cast<size_t>(y * S + x)] = 200;
  }
  int64_t maskCount() const { return std::count_if(mask.begin(), mask.end(), [](uint8_t v) { return v; }); }
};

const std::array<float, 4> none{-1, -1, -1, -1};

}  // namespace

TEST(AddHeld, NoHandsOrTooFewPointsChangeNothing) {
  Held h;
  h.gateTook(0, 0, S, S);
  EXPECT_EQ(h.run(), none);
  h.service.script.hands.hands = {hand(100, 100, 40, 4)};
  EXPECT_EQ(h.run(), none);
  EXPECT_EQ(h.maskCount(), 0);
  h.service.script.hands.hands = {vision::HandObservation{0.9f, std::nullopt}};  // joints unreadable
  EXPECT_EQ(h.run(), none);
  h.service.script.hands.hands = {hand(100, 100, 40, 5)};
  h.service.script.failHands = true;
  EXPECT_EQ(h.run(), none);
  EXPECT_EQ(h.maskCount(), 0);
  h.service.script.failHands = false;
  EXPECT_NE(h.run(), none);
  EXPECT_GT(h.maskCount(), 0);
}

TEST(AddHeld, WorkRegionNeedsThirtyTwoPixels) {
  // e = 16, margin 12: from x = 4 the region is columns 0..31 (32 wide), from x = 3 only 31.
  Held h;
  h.gateTook(0, 0, S, S);
  h.service.script.hands.hands = {hand(3, 100, 16)};
  EXPECT_EQ(h.run(), none);
  h.service.script.hands.hands = {hand(4, 100, 16)};
  auto box = h.run();
  EXPECT_EQ(box[0], 0.0f);
  EXPECT_EQ(box[2], 32.0f / S);
  EXPECT_EQ(box[1], 88.0f / S);
  EXPECT_EQ(box[3], 128.0f / S);
  // Only the region was put back.
  EXPECT_EQ(h.maskCount(), 32 * 40);
  // The same limit applies to the height.
  Held v;
  v.gateTook(0, 0, S, S);
  v.service.script.hands.hands = {hand(100, 3, 16)};
  EXPECT_EQ(v.run(), none);
}

TEST(AddHeld, CornerRegionIsClampedToTheFrame) {
  Held h;
  h.gateTook(0, 0, S, S);
  h.service.script.hands.hands = {hand(S - 20, S - 20, 16)};
  auto box = h.run();
  EXPECT_EQ(box[2], 1.0f);
  EXPECT_EQ(box[3], 1.0f);
}

TEST(AddHeld, NothingToPutBackLeavesTheBox) {
  Held h;  // mask equals instanceMask and no instance is near
  h.service.script.hands.hands = {hand(100, 100, 40)};
  EXPECT_EQ(h.run(), none);
  EXPECT_TRUE(h.service.log.scaledMaskRequests.empty());
}

TEST(AddHeld, AddsNearbyInstancesInsideTheRegionOnly) {
  Held h;
  // Instance 3 is picked (never added); instance 4 is a cup by the hand, long enough to
  // reach past the work region; instance 5 is far away.
  h.labels = labelMap(S, S, [](int64_t x, int64_t y) -> uint8_t {
    if (x >= 100 && x < 140 && y >= 100 && y < 140) return 3;
    if (x >= 140 && x < 250 && y >= 100 && y < 110) return 4;
    if (x >= 0 && x < 20 && y >= 0 && y < 20) return 5;
    return 0;
  });
  h.picked = {3};
  h.service.script.hands.hands = {hand(100, 100, 40)};  // region 70..170 both ways
  auto box = h.run();
  ASSERT_EQ(h.service.log.scaledMaskRequests.size(), 1u);
  EXPECT_EQ(h.service.log.scaledMaskRequests[0], std::vector<uint8_t>{4});
  EXPECT_EQ(box, (std::array<float, 4>{70.0f / S, 70.0f / S, 170.0f / S, 170.0f / S}));
  // Instance 4 within the region only: columns 140..169 of rows 100..109.
  EXPECT_EQ(h.maskCount(), 30 * 10);
  EXPECT_EQ(h.mask[105 * S + 169], 255);
  EXPECT_EQ(h.mask[105 * S + 170], 0);
  EXPECT_EQ(h.mask[120 * S + 120], 0);  // the picked instance is not added
}

TEST(AddHeld, FailedScaledMaskKeepsWhatWasPutBack) {
  Held h;
  h.labels = labelMap(S, S, [](int64_t x, int64_t y) -> uint8_t { return x > 100 && y > 100 ? 4 : 0; });
  h.gateTook(120, 120, 130, 130);
  h.service.script.failScaledMask = true;
  h.service.script.hands.hands = {hand(100, 100, 40)};
  EXPECT_NE(h.run(), none);
  EXPECT_EQ(h.maskCount(), 100);
}

TEST(AddHeld, InstanceAtExactlyTheFloorIsAdded) {
  // A 100 x 10 label map: the floor is 1000 x 0.004 x 0.25 = 1 pixel.
  Held h;
  h.labels = labelMap(100, 10, [](int64_t x, int64_t y) -> uint8_t { return x == 50 && y == 5 ? 7 : 0; });
  h.service.script.hands.hands = {hand(120, 120, 40)};  // covers the label map's middle
  h.run();
  ASSERT_EQ(h.service.log.scaledMaskRequests.size(), 1u);
  EXPECT_EQ(h.service.log.scaledMaskRequests[0], std::vector<uint8_t>{7});
}

TEST(AddHeld, TwoHandsGiveTheUnionAndAHandThatChangesNothingLeavesIt) {
  Held h;
  h.gateTook(0, 0, S, S);
  h.service.script.hands.hands = {hand(40, 40, 20), hand(180, 150, 20)};
  auto box = h.run();
  // Regions 25..75 and 165..215 (x); 25..75 and 135..185 (y).
  EXPECT_EQ(box, (std::array<float, 4>{25.0f / S, 25.0f / S, 215.0f / S, 185.0f / S}));

  Held one;
  one.gateTook(0, 0, 100, 100);  // only the first hand's region has something to put back
  one.service.script.hands.hands = {hand(40, 40, 20), hand(180, 150, 20)};
  EXPECT_EQ(one.run(), (std::array<float, 4>{25.0f / S, 25.0f / S, 75.0f / S, 75.0f / S}));
}
