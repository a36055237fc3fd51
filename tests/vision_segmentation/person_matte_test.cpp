// Person mattes from model outputs, on plain data.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <opencv2/imgproc.hpp>

#include "platform/vision/dnn/person_matte.h"
#include "platform/vision/dnn/slow_analyses.h"

using namespace kestrel::vision;
using namespace kestrel::vision::dnn;

namespace {

// Snaps a coarse probability map (CV_32F, any size) to the edges of `guide`
// (8-bit BGR at the refine size) with an edge-aware guided filter on the
// guide's grey levels; `radius` counts guide pixels and should span the
// coarse map's soft edge. The result has the guide's size, CV_32F in 0..1.
cv::Mat refineToEdges(const cv::Mat& coarse, const cv::Mat& guide, int radius, double eps) {
  // The guided filter on the guide's grey levels: in every window the matte
  // is fitted as a * I + b, so it steps where the picture steps. One channel
  // keeps it to six box filters.
  cv::Mat grey, I, p;
  cv::cvtColor(guide, grey, cv::COLOR_BGR2GRAY);
  grey.convertTo(I, CV_32F, 1.0 / 255.0);
  cv::resize(coarse, p, guide.size(), 0, 0, cv::INTER_LINEAR);
  const cv::Size window(2 * radius + 1, 2 * radius + 1);
  auto mean = [&](const cv::Mat& m) {
    cv::Mat out;
    cv::boxFilter(m, out, CV_32F, window, cv::Point(-1, -1), true, cv::BORDER_REFLECT);
    return out;
  };
  cv::Mat meanI = mean(I), meanP = mean(p);
  cv::Mat varI = mean(I.mul(I)) - meanI.mul(meanI);
  cv::Mat covIP = mean(I.mul(p)) - meanI.mul(meanP);
  cv::Mat a = covIP / (varI + eps);
  cv::Mat b = meanP - a.mul(meanI);
  cv::Mat out = mean(a).mul(I) + mean(b);
  cv::min(cv::max(out, 0.0), 1.0, out);
  return out;
}

}  // namespace

TEST(PersonMatte, TwoClassLogitsGiveThePersonsSoftmax) {
  // Channel 0 background, channel 1 person; 1 x 4 each.
  const float logits[] = {0, 2, -1000, 1000, /* person: */ 0, 0, 1000, -1000};
  cv::Mat p = personProbability(logits, 1, 4);
  ASSERT_EQ(p.size(), cv::Size(4, 1));
  EXPECT_FLOAT_EQ(p.at<float>(0, 0), 0.5f);
  EXPECT_NEAR(p.at<float>(0, 1), 1 / (1 + std::exp(2.0)), 1e-6);
  EXPECT_FLOAT_EQ(p.at<float>(0, 2), 1.0f);  // no overflow to NaN
  EXPECT_NEAR(p.at<float>(0, 3), 0.0f, 1e-6);
}

TEST(PersonMatte, ProbabilitiesBecomeRoundedClampedBytes) {
  cv::Mat p = (cv::Mat_<float>(2, 3) << 0, 0.5f, 1, -0.2f, 1.3f, 0.002f);
  Matte m = toMatte(p);
  EXPECT_EQ(m.width, 3);
  EXPECT_EQ(m.height, 2);
  EXPECT_EQ(m.pixels, (std::vector<uint8_t>{0, 128, 255, 0, 255, 1}));
}

TEST(PersonMatte, FitWithinKeepsTheShapeAndNeverEnlarges) {
  EXPECT_EQ(fitWithin(cv::Size(1280, 720), 640), cv::Size(640, 360));
  EXPECT_EQ(fitWithin(cv::Size(720, 1280), 640), cv::Size(360, 640));
  EXPECT_EQ(fitWithin(cv::Size(548, 342), 640), cv::Size(548, 342));
  EXPECT_EQ(fitWithin(cv::Size(5000, 2), 640), cv::Size(640, 1));
}

TEST(PersonMatte, RefinedMatteTakesUpThePicturesEdge) {
  // The picture has a sharp edge at x = 100 of 200; the coarse matte (a
  // quarter of the size) ramps down softly a little to the right of it.
  cv::Mat guide(100, 200, CV_8UC3, cv::Scalar(20, 20, 20));
  guide(cv::Rect(0, 0, 100, 100)).setTo(cv::Scalar(230, 230, 230));
  cv::Mat coarse(25, 50, CV_32F);
  for (int x = 0; x < 50; ++x) coarse.col(x).setTo(std::clamp((29.0 - x) / 4.0, 0.0, 1.0));
  cv::Mat r = refineToEdges(coarse, guide, 8, 1e-3);
  ASSERT_EQ(r.size(), guide.size());
  ASSERT_EQ(r.type(), CV_32F);
  double lo, hi;
  cv::minMaxLoc(r, &lo, &hi);
  EXPECT_GE(lo, 0.0);
  EXPECT_LE(hi, 1.0);
  cv::Mat up;
  cv::resize(coarse, up, guide.size(), 0, 0, cv::INTER_LINEAR);
  // The plain upscaled matte falls by 1/16 a pixel; the refined one steps
  // where the picture does.
  EXPECT_LT(up.at<float>(50, 99) - up.at<float>(50, 100), 0.07f);
  EXPECT_GT(r.at<float>(50, 99) - r.at<float>(50, 100), 0.15f);
  // Where picture and matte agree, the matte stays decided.
  EXPECT_GT(r.at<float>(50, 20), 0.95f);
  EXPECT_LT(r.at<float>(50, 180), 0.05f);
}

// Which frames of one stream remake ISNet's map and the person boxes, with a
// hand followed on every frame or none.
struct Remade {
  std::string salient, people;
};
Remade remadeOn(const std::vector<const cv::Mat*>& frames, bool hand) {
  StreamSession session;
  Remade made;
  for (const cv::Mat* picture : frames) {
    session.beginFrame();
    SlowAnalyses* kept = carriedAnalyses(&session, cv::Size(64, 36));
    if (hand) {
      kept->handCrops = {RotatedCrop{{32, 18}, 8, 0, false}};
      kept->handsFrame = kept->frame;
    }
    const cv::Mat thumb = changeThumbnail(*picture);
    const std::string frame = std::to_string(kept->frame) + " ";
    if (salientMadeAnew(kept, thumb, cv::Mat())) {
      made.salient += frame;
      kept->salient = cv::Mat::zeros(4, 4, CV_32F);
      kept->salientThumb = thumb;
      kept->salientFrame = kept->frame;
    }
    if (peopleMadeAnew(kept, thumb)) {
      made.people += frame;
      kept->people.emplace();
      kept->peopleThumb = thumb;
      kept->peopleFrame = kept->frame;
    }
  }
  return made;
}

// ISNet's map and the person boxes on one stream: each made anew as the
// picture changes (no sooner than its lower bound, the boxes' lower while a
// hand is followed) or its result ages, the boxes never on ISNet's frame
// unless they have waited past their bound; a new size starts afresh.
TEST(SlowAnalyses, TheBoxesFollowChangeAndStayOffISNetsFrames) {
  EXPECT_EQ(carriedAnalyses(nullptr, cv::Size(64, 36)), nullptr);
  EXPECT_TRUE(peopleMadeAnew(nullptr, cv::Mat()));  // a picture on its own makes everything
  const cv::Mat still(36, 64, CV_8UC3, cv::Scalar(40, 90, 160));
  const cv::Mat moved(36, 64, CV_8UC3, cv::Scalar(80, 130, 200));
  std::vector<const cv::Mat*> frames(50, &still);  // ISNet's bound falls on the boxes'
  for (const cv::Mat* m : {&moved, &moved, &still, &still}) frames.push_back(m);
  for (int i = 0; i < 14; ++i) frames.push_back(i % 2 ? &still : &moved);  // a change on every frame
  const Remade alone = remadeOn(frames, false);
  EXPECT_EQ(alone.salient, "0 48 51 55 58 61 64 67 ");
  EXPECT_EQ(alone.people, "0 12 24 36 49 60 ");
  const Remade holding = remadeOn(frames, true);
  EXPECT_EQ(holding.salient, "0 12 24 36 48 51 55 58 61 64 67 ");
  EXPECT_EQ(holding.people, "0 13 25 37 49 56 63 ");
  // Frames of another size keep nothing from before.
  StreamSession session;
  carriedAnalyses(&session, cv::Size(64, 36));
  session.beginFrame();
  SlowAnalyses* resized = carriedAnalyses(&session, cv::Size(32, 18));
  EXPECT_EQ(resized->frame, 0);
  EXPECT_TRUE(resized->salient.empty());
  EXPECT_FALSE(resized->people.has_value());
}

// ISNet's map on a stream: kept while the picture stays, made anew when it
// changes, and never older than the bound however still the picture is: the
// shorter bound while the held step follows hands.
TEST(SlowAnalyses, TheSalientMapIsRemadeWhenThePictureChangesOrAges) {
  const cv::Size size(640, 360);
  cv::Mat still(size, CV_8UC3, cv::Scalar(40, 90, 160));
  cv::rectangle(still, cv::Rect(250, 100, 140, 200), cv::Scalar(200, 200, 200), cv::FILLED);
  cv::Mat moved(size, CV_8UC3, cv::Scalar(40, 90, 160));  // the bright piece a third of its width on
  cv::rectangle(moved, cv::Rect(297, 100, 140, 200), cv::Scalar(200, 200, 200), cv::FILLED);
  cv::Mat noise(size, CV_16SC3), noisy;  // sensor noise of a few levels
  cv::randn(noise, 0, 3);
  still.convertTo(noisy, CV_16S);
  cv::Mat(noisy + noise).convertTo(noisy, CV_8U);
  EXPECT_EQ(meanChange(changeThumbnail(still), changeThumbnail(still)), 0);
  EXPECT_LE(meanChange(changeThumbnail(still), changeThumbnail(noisy)), 1.0);
  EXPECT_GT(meanChange(changeThumbnail(still), changeThumbnail(moved)), 2 * kSalientChange);
  EXPECT_TRUE(salientMadeAnew(nullptr, changeThumbnail(still), cv::Mat()));  // a picture on its own

  StreamSession session;
  std::string made;  // which frames remake the map
  // `handsFrom`: the first frame after which the held step finds a hand on
  // every frame (it looks after the instances).
  const auto stream = [&](const std::vector<const cv::Mat*>& frames, int64_t handsFrom) {
    for (const cv::Mat* picture : frames) {
      session.beginFrame();
      SlowAnalyses* kept = carriedAnalyses(&session, size);
      const cv::Mat thumb = changeThumbnail(*picture);
      if (salientMadeAnew(kept, thumb, cv::Mat())) {
        made += std::to_string(kept->frame) + " ";
        kept->salient = cv::Mat::zeros(4, 4, CV_32F);
        kept->salientThumb = thumb;
        kept->salientFrame = kept->frame;
      }
      if (kept->frame >= handsFrom) keepHandCrops(kept, {RotatedCrop{{100, 100}, 40}});
    }
  };
  constexpr int64_t kNever = std::numeric_limits<int64_t>::max();
  std::vector<const cv::Mat*> frames(2 * kSalientMaxAgeNoHands + 1, &noisy);
  frames[0] = &still;
  stream(frames, kNever);
  // Made on the first frame, then only as it ages.
  const int64_t end = 2 * kSalientMaxAgeNoHands;
  EXPECT_EQ(made, "0 " + std::to_string(kSalientMaxAgeNoHands) + " " + std::to_string(end) + " ");
  made.clear();
  // A hand found a frame after the map was made: the map ages sooner.
  stream(std::vector<const cv::Mat*>(2 * kSalientMaxAge + 1, &noisy), end + 1);
  EXPECT_EQ(made, std::to_string(end + kSalientMaxAge) + " " + std::to_string(end + 2 * kSalientMaxAge) + " ");
  made.clear();
  // Changes on the frames after, made anew once the map is old enough.
  stream({&moved, &moved, &moved, &moved, &still, &still, &still}, end + 1);
  const int64_t first = end + 2 * kSalientMaxAge + kSalientMinAge;
  EXPECT_EQ(made, std::to_string(first) + " " + std::to_string(first + kSalientMinAge) + " ");
  // Hands last seen more than a palm turn ago are out of view.
  SlowAnalyses* kept = carriedAnalyses(&session, size);
  EXPECT_TRUE(handsInView(*kept));
  kept->frame += kRefreshEvery + 1;
  EXPECT_FALSE(handsInView(*kept));
}

// People are made anew by the matte on every frame: one who walks through a
// still scene leaves ISNet's map as it is, while a change away from the
// people of both frames (an object put down) makes it anew.
TEST(SlowAnalyses, ThePeoplesOwnMovesLeaveTheSalientMapAlone) {
  cv::Mat matte(360, 640, CV_32F, cv::Scalar(0.4f));  // below the level: no one
  matte.at<float>(0, 0) = 0.6f;
  EXPECT_EQ(cv::countNonZero(peopleCells(matte, 0.5f)), 4);  // the cell and its neighbours
  matte.at<float>(0, 0) = 0.4f;
  EXPECT_EQ(cv::countNonZero(peopleCells(matte, 0.5f)), 0);

  const cv::Size size(640, 360);
  struct Frame {
    cv::Mat picture, matte;
  };
  const auto frame = [&](int personX, bool objectDown) {
    Frame f{cv::Mat(size, CV_8UC3, cv::Scalar(40, 90, 160)), cv::Mat(size, CV_32F, cv::Scalar(0))};
    const cv::Rect person(personX, 100, 60, 200);
    cv::rectangle(f.picture, person, cv::Scalar(200, 200, 200), cv::FILLED);
    f.matte(person).setTo(1.0f);
    if (objectDown) cv::rectangle(f.picture, cv::Rect(500, 250, 80, 80), cv::Scalar(255, 255, 255), cv::FILLED);
    return f;
  };
  StreamSession session;
  std::string made;
  for (int k = 0; k <= kSalientMaxAgeNoHands + kSalientMinAge; ++k) {
    const bool objectDown = k > kSalientMaxAgeNoHands;
    const Frame f = frame(100 + 6 * k, objectDown);  // walking 6 pixels a frame
    session.beginFrame();
    SlowAnalyses* kept = carriedAnalyses(&session, size);
    const cv::Mat thumb = changeThumbnail(f.picture), people = peopleCells(f.matte, 0.5f);
    // Over the whole picture the walk is a change.
    if (kept->frame == kSalientMinAge) {
      EXPECT_GT(meanChange(kept->salientThumb, thumb), kSalientChange);
    }
    if (!salientMadeAnew(kept, thumb, people)) continue;
    made += std::to_string(kept->frame) + " ";
    kept->salient = cv::Mat::zeros(4, 4, CV_32F);
    kept->salientThumb = thumb;
    kept->salientPeople = people;
    kept->salientFrame = kept->frame;
  }
  // Made at the start and as it ages; the object put down on the frame after
  // makes it anew once the map is old enough.
  EXPECT_EQ(made, "0 " + std::to_string(kSalientMaxAgeNoHands) + " " +
                      std::to_string(kSalientMaxAgeNoHands + kSalientMinAge) + " ");

  // A standing person whose hand is followed from the first frame on takes
  // up a phone: the change lies among the person's cells, around the hand.
  StreamSession standing;
  made.clear();
  const Frame empty = frame(200, false);
  Frame holding = frame(200, false);
  cv::rectangle(holding.picture, cv::Rect(210, 130, 60, 60), cv::Scalar(0, 0, 0), cv::FILLED);
  for (int k = 0; k < 2 * kSalientMinAge; ++k) {
    const Frame& f = k < kSalientMinAge ? empty : holding;
    standing.beginFrame();
    SlowAnalyses* kept = carriedAnalyses(&standing, size);
    const cv::Mat thumb = changeThumbnail(f.picture), people = peopleCells(f.matte, 0.5f);
    if (salientMadeAnew(kept, thumb, people)) {
      made += std::to_string(k) + " ";
      kept->salient = cv::Mat::zeros(4, 4, CV_32F);
      kept->salientThumb = thumb;
      kept->salientPeople = people;
      kept->salientFrame = kept->frame;
    }
    keepHandCrops(kept, {RotatedCrop{{240, 160}, 50}});  // the held step, after the map
  }
  EXPECT_EQ(made, "0 " + std::to_string(kSalientMinAge) + " ");
}
