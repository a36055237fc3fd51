#include "probe/audio/pcm_writer.h"

#include <unistd.h>

#include <cerrno>

#include "probe/audio/capacity.h"

namespace kestrel {

bool writeAll(int fd, const void* data, size_t bytes) {
  const char* p = static_cast<const char*>(data);
  while (bytes > 0) {
    ssize_t n = ::write(fd, p, bytes);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    bytes -= static_cast<size_t>(n);
  }
  return true;
}

bool PcmWriter::write(const float* frames, size_t count) {
  if (closed_) return false;
  if (count == 0) return true;
  block_.resize(outputCapacity(count, inputRate_));
  size_t samples = resampler_.convert(frames, count, block_.data(), block_.size());
  if (samples > 0 && !writeAll(fd_, block_.data(), samples * sizeof(float))) closed_ = true;
  return !closed_;
}

}  // namespace kestrel
