#pragma once
// HDR light brought into SDR range, on plain data: linear BT.709 light in
// units of HDR reference white, so that 1 is SDR white.
#include <cstddef>

namespace kestrel::media {

// ITU-R BT.2408 HDR reference white (75% HLG signal): what SDR shows as white.
inline constexpr double kReferenceWhiteNits = 203;
// The highest level PQ and (on the BT.2100 reference display) HLG can carry.
inline constexpr double kPqCeilingNits = 10000;
inline constexpr double kHlgCeilingNits = 1000;

// The brightest level of the content in nits: its maximum content light level
// when known, else its mastering display's peak, else 1000; never above what
// the transfer can carry. Zero or less means unknown.
double contentPeakNits(double maxContentLight, double masteringPeak, double ceilingNits);

// The tone curve: the identity up to just below reference white, then a
// shoulder that hands most of what is left to a long tail, even in log light,
// reaching 1 at the peak. Diffuse white so stays within two 8-bit steps of
// SDR white and highlights keep distinct levels up to the peak.
class HighlightRollOff {
 public:
  // The peak in units of reference white.
  explicit HighlightRollOff(double peak);
  float operator()(float level) const;
  double knee() const { return knee_; }

 private:
  double knee_, tailRoom_, shoulderRoom_, logSpan_, shoulderWidth_;
};

// Brings linear BT.709 light (units of reference white) into SDR range in
// place, one row of planes: colours outside the BT.709 gamut are desaturated
// towards the grey of their own luminance until they fit (no channel is
// clipped), then each colour is scaled by the roll-off of its largest
// channel, which keeps its hue and saturation.
void toneMapToSdr(float* red, float* green, float* blue, size_t count,
                  const HighlightRollOff& rollOff);

}  // namespace kestrel::media
