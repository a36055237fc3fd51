// The HDR tone curve, gamut step and peak choice on plain numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "platform/media/hdr_tone.h"

using kestrel::media::contentPeakNits;
using kestrel::media::HighlightRollOff;
using kestrel::media::toneMapToSdr;

namespace {

// One 8-bit step of the SDR encoding (BT.1886, gamma 2.4) just below white,
// as a share of linear light.
const double kWhiteStep = 1 - std::pow(254.0 / 255, 2.4);

// BT.2020 primaries as linear BT.709 RGB (from the two primaries matrices).
struct Rgb { float r, g, b; };
const Rgb kBt2020Red{1.6605f, -0.1246f, -0.0182f};
const Rgb kBt2020Green{-0.5876f, 1.1329f, -0.1006f};
const Rgb kBt2020Blue{-0.0728f, -0.0083f, 1.1187f};

// The hue angle around D65 in the CIE 1976 u'v' diagram (CIELUV's h_uv).
double hueDegrees(const Rgb& c) {
  const double x = 0.4124 * c.r + 0.3576 * c.g + 0.1805 * c.b;
  const double y = 0.2126 * c.r + 0.7152 * c.g + 0.0722 * c.b;
  const double z = 0.0193 * c.r + 0.1192 * c.g + 0.9505 * c.b;
  const double d = x + 15 * y + 3 * z;
  return std::atan2(9 * y / d - 0.4683, 4 * x / d - 0.1978) * 180 / M_PI;
}

Rgb mapped(Rgb c, double peak = 1000 / 203.0) {
  toneMapToSdr(&c.r, &c.g, &c.b, 1, HighlightRollOff(peak));
  return c;
}

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

TEST(HdrToneMap, GamutAndHighlightsWithoutHueTurns) {
  // In gamut and below the knee: untouched, to the bit.
  for (Rgb c : {Rgb{0, 0, 0}, Rgb{0.5f, 0.5f, 0.5f}, Rgb{0.9f, 0, 0.3f}, Rgb{0.01f, 0.97f, 0.2f}}) {
    const Rgb m = mapped(c);
    EXPECT_EQ(m.r, c.r);
    EXPECT_EQ(m.g, c.g);
    EXPECT_EQ(m.b, c.b);
  }
  // BT.2020 primaries, dim and bright: no negative channel left, one channel
  // at 0 (on the gamut's edge, not desaturated further), the hue kept, and
  // nothing above SDR white.
  for (Rgb primary : {kBt2020Red, kBt2020Green, kBt2020Blue}) {
    for (float level : {0.3f, 4.0f}) {
      const Rgb c{primary.r * level, primary.g * level, primary.b * level};
      const Rgb m = mapped(c);
      EXPECT_GE(std::min({m.r, m.g, m.b}), 0.0f);
      EXPECT_LT(std::min({m.r, m.g, m.b}), 1e-6f);
      EXPECT_LE(std::max({m.r, m.g, m.b}), 1.0f);
      EXPECT_NEAR(hueDegrees(m), hueDegrees(c), 0.1) << level;
      if (level < 1) {  // below the knee the luminance stays too
        EXPECT_NEAR(0.2126 * m.r + 0.7152 * m.g + 0.0722 * m.b,
                    0.2126 * c.r + 0.7152 * c.g + 0.0722 * c.b, 1e-5);
      }
    }
  }
  // A bright colour in gamut is scaled as a whole by the curve of its
  // largest channel: hue and saturation stay.
  const Rgb bright{3.0f, 1.5f, 0.3f};
  const Rgb m = mapped(bright);
  const float top = HighlightRollOff(1000 / 203.0)(3.0f);
  EXPECT_FLOAT_EQ(m.r, top);
  EXPECT_FLOAT_EQ(m.g, top * 0.5f);
  EXPECT_FLOAT_EQ(m.b, top * 0.1f);
  // Nothing with no light in it comes out lit.
  const Rgb dark = mapped(Rgb{-0.2f, 0.01f, 0.0f});
  EXPECT_EQ(dark.r + dark.g + dark.b, 0.0f);
}

TEST(HdrPeak, LightLevelThenMasteringDisplayThen1000) {
  struct Case { double light, mastering, ceiling, peak; };
  for (auto c : {Case{4000, 1000, 10000, 4000}, Case{0, 1000, 10000, 1000},
                 Case{0, 4000, 10000, 4000}, Case{0, 0, 10000, 1000},
                 Case{-1, -1, 10000, 1000}, Case{12000, 0, 10000, 10000},
                 Case{0, 2000, 1000, 1000}, Case{600, 0, 1000, 600}})
    EXPECT_EQ(contentPeakNits(c.light, c.mastering, c.ceiling), c.peak)
        << c.light << " " << c.mastering << " " << c.ceiling;
}
