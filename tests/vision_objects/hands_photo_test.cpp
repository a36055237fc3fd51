// The hand models on a real photo of one open hand, through the vision service.
#include <gtest/gtest.h>

#include "tests/vision_objects/photos.h"

using namespace kestrel;
using namespace kestrel::test;

namespace {

vision::Requests handsOnly() {
  vision::Requests r;
  r.handPose = true;
  return r;
}

}  // namespace

TEST(HandsPhoto, OneOpenHandWithAllJointsOnIt) {
  cv::Mat photo = loadBgra(kHand);
  ASSERT_FALSE(photo.empty()) << kHand;
  auto results = analyse(photo, handsOnly());
  ASSERT_EQ(results.hands.size(), 1u);
  const auto& hand = results.hands[0];
  EXPECT_GT(hand.confidence, 0.9f);
  ASSERT_TRUE(hand.joints);
  ASSERT_EQ(hand.joints->size(), 21u);
  // The hand lies across the picture, fingers to the right: the wrist at the
  // left edge half-way down, the middle finger's tip right of the middle.
  const auto& wrist = (*hand.joints)[0];
  const auto& middleTip = (*hand.joints)[12];
  EXPECT_LT(wrist.location.x, 0.1);
  EXPECT_NEAR(wrist.location.y, 0.45, 0.15);
  EXPECT_GT(middleTip.location.x, 0.7);
  EXPECT_NEAR(middleTip.location.y, 0.45, 0.15);
  // The thumb's tip is the highest joint (the thumb points up-left).
  for (const auto& j : *hand.joints) {
    EXPECT_GT(j.confidence, 0.3f);  // every joint lies on the hand, inside the picture
    EXPECT_LE(j.location.y, (*hand.joints)[4].location.y);
  }
}

TEST(HandsPhoto, TurnedPictureGivesTheSameUprightJoints) {
  // The picture stored turned a quarter; orientation 6 turns it back upright.
  cv::Mat photo = loadBgra(kHand), stored;
  ASSERT_FALSE(photo.empty());
  cv::rotate(photo, stored, cv::ROTATE_90_COUNTERCLOCKWISE);
  auto upright = analyse(photo, handsOnly());
  auto turned = analyse(stored, handsOnly(), 6);
  ASSERT_EQ(upright.hands.size(), 1u);
  ASSERT_EQ(turned.hands.size(), 1u);
  for (int j = 0; j < 21; ++j) {
    EXPECT_NEAR((*turned.hands[0].joints)[j].location.x, (*upright.hands[0].joints)[j].location.x, 0.02);
    EXPECT_NEAR((*turned.hands[0].joints)[j].location.y, (*upright.hands[0].joints)[j].location.y, 0.02);
  }
}

TEST(HandsPhoto, NoHandInACatPictureAndNoneWhenNoneAsked) {
  cv::Mat cat = loadBgra(kChelsea);
  ASSERT_FALSE(cat.empty());
  EXPECT_TRUE(analyse(cat, handsOnly()).hands.empty());
  vision::Requests none = handsOnly();
  none.maximumHandCount = 0;
  EXPECT_TRUE(analyse(loadBgra(kHand), none).hands.empty());
}
