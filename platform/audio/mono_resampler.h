#pragma once
// Channel 0 of interleaved float audio, resampled to mono float at 48 kHz.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

struct SwrContext;

namespace kestrel::audio {

inline constexpr uint32_t OUTPUT_RATE = 48000;

class MonoResampler {
 public:
  // Nothing when the rate or channel count cannot be converted.
  static std::optional<MonoResampler> make(uint32_t inputRate, uint32_t inputChannels);

  // Converts `frames` interleaved frames into at most `capacity` samples and
  // returns how many were written; what does not fit yet stays inside, as does
  // the filter's history, so consecutive blocks join without a seam. A failed
  // conversion writes nothing.
  size_t convert(const float* input, size_t frames, float* output, size_t capacity);

 private:
  struct Freer {
    void operator()(SwrContext* c) const;
  };
  explicit MonoResampler(SwrContext* context) : context_(context) {}
  std::unique_ptr<SwrContext, Freer> context_;
};

}  // namespace kestrel::audio
