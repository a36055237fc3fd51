#include "probe/analysis/sampling.h"

namespace kestrel {

bool Sampler::due(const media::MediaTime& p) const {
  if (!p.valid || p.timescale <= 0) return false;
  if (!started_) return true;
  // p < next  <=>  p.value * nextScale < nextValue * p.timescale (both scales positive)
  return static_cast<__int128>(p.value) * nextScale_ >= nextValue_ * p.timescale;
}

void Sampler::picked(const media::MediaTime& p) {
  // next = p + 1/hz = (p.value * hz + p.timescale) / (p.timescale * hz)
  started_ = true;
  nextValue_ = static_cast<__int128>(p.value) * hz_ + p.timescale;
  nextScale_ = static_cast<__int128>(p.timescale) * hz_;
}

}  // namespace kestrel
