#include "probe/audio/pcm_writer.h"

#include "probe/audio/capacity.h"

namespace kestrel {

bool PcmWriter::write(const float* frames, size_t count) {
  if (closed_) return false;
  if (count == 0) return true;
  block_.resize(outputCapacity(count, inputRate_));
  size_t samples = resampler_.convert(frames, count, block_.data(), block_.size());
  if (samples > 0 && !writeAll(fd_, block_.data(), samples * sizeof(float))) closed_ = true;
  return !closed_;
}

}  // namespace kestrel
