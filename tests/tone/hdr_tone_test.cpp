// The HDR tone curve and the choice of its peak, on plain numbers.
#include "platform/media/hdr_tone.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using kestrel::media::contentPeakNits;
using kestrel::media::HighlightRollOff;

namespace {

// One 8-bit step of the SDR encoding (BT.1886, gamma 2.4) just below white,
// as a share of linear light.
const double kWhiteStep = 1 - std::pow(254.0 / 255, 2.4);

}  // namespace

TEST(HdrRollOff, IdentityBelowTheKneeThenSmoothAndRisingToOneAtThePeak) {
  for (double peakNits : {400.0, 1000.0, 4000.0, 10000.0}) {
    const double peak = peakNits / 203;
    const HighlightRollOff f(peak);
    for (float x : {0.0f, 0.01f, 0.18f, 0.5f, 0.9f, static_cast<float>(f.knee())})
      EXPECT_EQ(f(x), x) << peakNits;
    // Slope 1 where it leaves the identity: no kink.
    const double h = 1e-4;
    EXPECT_NEAR((f(f.knee() + h) - f(f.knee())) / h, 1.0, 0.01) << peakNits;
    // Reference white ends within two 8-bit steps of SDR white...
    EXPECT_GT(f(1.0f), 1 - 2 * kWhiteStep) << peakNits;
    // ...and every level above it up to the peak stays distinct.
    float previous = f(f.knee());
    for (double x = f.knee() + 0.005; x < peak; x += 0.005) {
      ASSERT_GT(f(static_cast<float>(x)), previous) << peakNits << " at " << x;
      previous = f(static_cast<float>(x));
    }
    EXPECT_LT(f(static_cast<float>(0.9 * peak)), 1.0f) << peakNits;
    EXPECT_NEAR(f(static_cast<float>(peak)), 1.0f, 1e-6) << peakNits;
    EXPECT_EQ(f(static_cast<float>(2 * peak)), 1.0f) << peakNits;
  }
  // A peak at or below the knee still leaves the shoulder room to bend.
  const HighlightRollOff low(0.5);
  EXPECT_LT(low(1.2f), 1.0f);
  EXPECT_GT(low(1.2f), low(1.0f));
}

TEST(HdrPeak, LightLevelThenMasteringDisplayThen1000) {
  struct Case {
    double light, mastering, ceiling, peak;
  };
  for (auto c : {Case{4000, 1000, 10000, 4000}, Case{0, 1000, 10000, 1000},
                 Case{0, 4000, 10000, 4000}, Case{0, 0, 10000, 1000}, Case{-1, -1, 10000, 1000},
                 Case{12000, 0, 10000, 10000}, Case{0, 2000, 1000, 1000}, Case{600, 0, 1000, 600}})
    EXPECT_EQ(contentPeakNits(c.light, c.mastering, c.ceiling), c.peak)
        << c.light << " " << c.mastering << " " << c.ceiling;
}
