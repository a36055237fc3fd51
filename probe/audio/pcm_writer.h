#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/audio/mono_resampler.h"
#include "probe/front/write_all.h"

namespace kestrel {

// Turns each captured block into 48 kHz mono float samples and writes them in
// one piece; after the output has failed once it writes nothing more.
class PcmWriter {
 public:
  PcmWriter(audio::MonoResampler& resampler, uint32_t inputRate, int fd)
      : resampler_(resampler), inputRate_(inputRate), fd_(fd) {}

  // False once the output is closed.
  bool write(const float* frames, size_t count);

 private:
  audio::MonoResampler& resampler_;
  uint32_t inputRate_;
  int fd_;
  bool closed_ = false;
  std::vector<float> block_;  // reused, so memory stays flat
};

}  // namespace kestrel
