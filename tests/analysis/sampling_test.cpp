#include <gtest/gtest.h>

#include "probe/analysis/orientation.h"
#include "probe/analysis/sampling.h"

using kestrel::Sampler;
using kestrel::media::MediaTime;

namespace {

MediaTime at(int64_t value, int32_t timescale) { return MediaTime{value, timescale, true}; }

// The frame indices picked from a run of frames value i*step over timescale.
std::vector<int64_t> picks(int64_t hz, int64_t frames, int64_t step, int32_t timescale) {
  Sampler s(hz);
  std::vector<int64_t> picked;
  for (int64_t i = 0; i < frames; ++i) {
    MediaTime p = at(i * step, timescale);
    if (!s.due(p)) continue;
    s.picked(p);
    picked.push_back(i);
  }
  return picked;
}

}  // namespace

TEST(Sampling, ThirtyFramesPerSecondAtFive) {
  for (auto [step, scale] : {std::pair{1, 30}, std::pair{20, 600}}) {
    auto p = picks(5, 300, step, scale);
    ASSERT_EQ(p.size(), 50u);
    for (size_t i = 0; i < p.size(); ++i) EXPECT_EQ(p[i], static_cast<int64_t>(6 * i));
  }
}

TEST(Sampling, NtscRateTakesEverySixthFrame) {
  auto p = picks(5, 60, 1001, 30000);
  ASSERT_EQ(p.size(), 10u);
  EXPECT_EQ(p[1], 6);
  EXPECT_EQ(p[9], 54);
}

TEST(Sampling, RateAtOrAboveFrameRateTakesEveryFrame) {
  EXPECT_EQ(picks(60, 300, 1, 30).size(), 300u);
  EXPECT_EQ(picks(30, 300, 1, 30).size(), 300u);
  EXPECT_EQ(picks(1, 300, 1, 30).size(), 10u);
}

TEST(Sampling, ComparesExactlyAcrossTimescales) {
  Sampler s(5);
  s.picked(at(0, 30));
  EXPECT_FALSE(s.due(at(5, 30)));
  EXPECT_TRUE(s.due(at(6, 30)));
  EXPECT_TRUE(s.due(at(1, 5)));           // exactly 0.2 s
  EXPECT_FALSE(s.due(at(199999, 1000000)));
  EXPECT_TRUE(s.due(at(200000, 1000000)));
}

TEST(Sampling, InvalidTimesAreSkippedAndTheFirstValidIsTaken) {
  Sampler s(5);
  EXPECT_FALSE(s.due(MediaTime{0, 30, false}));
  EXPECT_TRUE(s.due(at(-1000, 30)));  // next starts at minus infinity
  EXPECT_TRUE(s.due(at(INT64_MIN, 30)));
}

TEST(Sampling, HugeValuesDoNotOverflow) {
  Sampler s(2147483647);
  s.picked(at(INT64_MAX - 1, 2147483647));
  EXPECT_FALSE(s.due(at(INT64_MAX - 1, 2147483647)));
  EXPECT_TRUE(s.due(at(INT64_MAX, 2147483647)));
}

TEST(Orientation, FromTheRotationAngle) {
  using kestrel::orientationOf;
  EXPECT_EQ(orientationOf(1, 0), 1u);
  EXPECT_EQ(orientationOf(0, 1), 6u);
  EXPECT_EQ(orientationOf(-1, 0), 3u);
  EXPECT_EQ(orientationOf(0, -1), 8u);
  EXPECT_EQ(orientationOf(0.7071067811865476, 0.7071067811865476), 1u);  // 45 degrees
  EXPECT_EQ(orientationOf(0.001, 1), 6u);   // 89.94 rounds to 90
  EXPECT_EQ(orientationOf(0.02, 1), 1u);    // 88.85 rounds to 89
  EXPECT_EQ(orientationOf(-1, -0.0), 3u);   // -180 turns to 180
}
