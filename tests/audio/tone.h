#pragma once
// Measuring tones in recorded samples.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace kestrel::test {

// Raw native floats as written by the recording mode.
inline std::vector<float> floatsOf(const std::string& bytes) {
  std::vector<float> v(bytes.size() / sizeof(float));
  std::memcpy(v.data(), bytes.data(), v.size() * sizeof(float));
  return v;
}

// The amplitude of the tone at `hz` in samples [from, end) at `rate` (Goertzel).
inline double toneLevel(const std::vector<float>& x, double hz, double rate, size_t from = 0) {
  if (from >= x.size()) return 0;
  double w = 2 * M_PI * hz / rate, c = 2 * std::cos(w), s1 = 0, s2 = 0;
  for (size_t i = from; i < x.size(); ++i) {
    double s0 = x[i] + c * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  double power = s1 * s1 + s2 * s2 - c * s1 * s2;
  return 2 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(x.size() - from);
}

// Interleaved frames with one tone per channel.
inline std::vector<float> tones(const std::vector<double>& hz, double rate, size_t frames,
                                double amplitude = 0.5) {
  std::vector<float> v(frames * hz.size());
  for (size_t i = 0; i < frames; ++i)
    for (size_t c = 0; c < hz.size(); ++c)
      v[i * hz.size() + c] = static_cast<float>(amplitude * std::sin(2 * M_PI * hz[c] * i / rate));
  return v;
}

}  // namespace kestrel::test
