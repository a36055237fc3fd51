// The hand models on a real photo of one open hand, through the vision service.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/vision/dnn/slow_analyses.h"
#include "platform/vision/dnn/stage_times.h"
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

TEST(HandsPhoto, AStreamFollowsTheHandBetweenThePalmDetectorsTurns) {
  cv::Mat photo = loadBgra(kHand);
  ASSERT_FALSE(photo.empty());
  // A stream's frames as its beginFrame() counts them.
  vision::StreamSession session;
  session.carried = std::make_shared<vision::SlowAnalyses>();
  session.carried->picture = cv::Size(photo.cols, photo.rows);
  vision::Requests r = handsOnly();
  r.session = &session;
  auto palmRuns = [] { return vision::dnn::stageTimes()["model palm"].calls; };
  std::vector<long> palms;
  std::vector<vision::Results> found;
  for (int64_t frame : {0, 1, 2, 3, 5}) {  // the held step skips frame 4
    session.carried->frame = frame;
    const long before = palmRuns();
    found.push_back(analyse(photo, r));
    palms.push_back(palmRuns() - before);
    ASSERT_EQ(found.back().hands.size(), 1u) << frame;
  }
  // The palm detector on the first frame, on its turn and after a gap; the
  // hand followed from the frame before in between.
  EXPECT_EQ(palms, (std::vector<long>{1, 0, 1, 0, 1}));
  // A followed hand has the joints the detector's crop gave: on average
  // within 1% of the picture, each within 3% (the wrist, cut by the
  // picture's edge, moves the most).
  for (size_t k = 1; k < found.size(); ++k) {
    double sum = 0, most = 0;
    for (int j = 0; j < 21; ++j) {
      const auto& a = (*found[k].hands[0].joints)[j].location;
      const auto& b = (*found[0].hands[0].joints)[j].location;
      const double d = std::hypot(a.x - b.x, a.y - b.y);
      sum += d, most = std::max(most, d);
    }
    EXPECT_LT(sum / 21, 0.01) << k;
    EXPECT_LT(most, 0.03) << k;
  }
}
