#include "platform/media/hdr_tone.h"

#include <algorithm>
#include <cmath>

namespace kestrel::media {
namespace {

// Where the curve leaves the identity, and the share of the room above it
// given to the tail; the rest goes to the shoulder that bends from slope 1
// into the tail. With less room at the knee white drifts further from SDR
// white; with less for the tail the brightest highlights merge.
constexpr double kKnee = 0.975;
constexpr double kTailShare = 0.7;
// The shoulder needs some width above the knee: content claiming less
// (rare, and then it has no highlights to speak of) gets this much.
constexpr double kLowestPeak = 1.5;

// A colour with a negative channel lies outside the gamut: it is mixed with
// the grey of its own luminance, just enough that no channel is negative.
// That keeps its luminance and its hue (the line to white in the chromaticity
// diagram), and a colour just outside moves just a little.
void intoGamut(float& r, float& g, float& b) {
  const float luminance = 0.2126f * r + 0.7152f * g + 0.0722f * b;
  if (!(luminance > 0)) {
    r = g = b = 0;
    return;
  }
  const float share = luminance / (luminance - std::min({r, g, b}));
  r = std::max(luminance + share * (r - luminance), 0.0f);
  g = std::max(luminance + share * (g - luminance), 0.0f);
  b = std::max(luminance + share * (b - luminance), 0.0f);
}

}  // namespace

double contentPeakNits(double maxContentLight, double masteringPeak, double ceilingNits) {
  double peak = 1000;
  if (maxContentLight > 0)
    peak = maxContentLight;
  else if (masteringPeak > 0)
    peak = masteringPeak;
  return std::min(peak, ceilingNits);
}

HighlightRollOff::HighlightRollOff(double peak) : knee_(kKnee) {
  const double room = 1 - kKnee;
  tailRoom_ = kTailShare * room;
  shoulderRoom_ = room - tailRoom_;
  logSpan_ = std::log(std::max(peak, kLowestPeak) / kKnee);
  // The tail climbs evenly in log light, as highlights are seen, and has
  // slope tailRoom / (knee * logSpan) at the knee; the shoulder, which has
  // added all its room long before the peak, gives the rest of slope 1.
  shoulderWidth_ = shoulderRoom_ / (1 - tailRoom_ / (kKnee * logSpan_));
}

float HighlightRollOff::operator()(float level) const {
  if (!(level > knee_)) return level;
  const double d = level - knee_;
  const double v = knee_ + tailRoom_ * std::log(level / knee_) / logSpan_ +
                   shoulderRoom_ * -std::expm1(-d / shoulderWidth_);
  return static_cast<float>(std::min(v, 1.0));
}

void toneMapToSdr(float* red, float* green, float* blue, size_t count,
                  const HighlightRollOff& rollOff) {
  for (size_t i = 0; i < count; ++i) {
    float& r = red[i];
    float& g = green[i];
    float& b = blue[i];
    if (std::min({r, g, b}) < 0) intoGamut(r, g, b);
    const float top = std::max({r, g, b});
    if (top > rollOff.knee()) {
      const float scale = rollOff(top) / top;
      r *= scale;
      g *= scale;
      b *= scale;
    }
  }
}

}  // namespace kestrel::media
