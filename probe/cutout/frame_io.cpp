#include "probe/cutout/frame_io.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/base/fail.h"
#include "platform/frame_limit.h"

namespace kestrel {

std::optional<StreamSize> streamSize(int64_t width, int64_t height) {
  if (width < 1 || height < 1) return std::nullopt;
  __int128 pixels = static_cast<__int128>(width) * height;
  if (pixels > MAX_FRAME_PIXELS) return std::nullopt;
  return StreamSize{width, height, static_cast<int64_t>(pixels), static_cast<int64_t>(pixels * 4)};
}

ByteSource fileSource(int fd) {
  return [fd](uint8_t* data, size_t size) { return ::read(fd, data, size); };
}

ByteSink fileSink(int fd) {
  return [fd](const uint8_t* data, size_t size) { return writeAll(fd, data, size); };
}

bool readFrame(int fd, std::vector<uint8_t>& pending, int64_t frameBytes) {
  return readFrame(fileSource(fd), pending, frameBytes);
}

bool readFrame(const ByteSource& source, std::vector<uint8_t>& pending, int64_t frameBytes) {
  const size_t want = static_cast<size_t>(frameBytes);
  if (pending.capacity() < want) pending.reserve(want);
  while (pending.size() < want) {
    const size_t have = pending.size();
    pending.resize(want);
    const ssize_t n = source(pending.data() + have, want - have);
    if (n < 0 && errno == EINTR) {
      pending.resize(have);
      continue;
    }
    if (n < 0) fail(std::string("can't read the frames: ") + std::strerror(errno));
    pending.resize(have + static_cast<size_t>(n));
    if (n == 0) return false;
  }
  return true;
}

void copyRows(const uint8_t* src, int64_t rows, uint8_t* dst, int64_t dstStride, int64_t width) {
  const size_t rowBytes = static_cast<size_t>(4 * width);
  for (int64_t r = 0; r < rows; ++r)
    std::memcpy(dst + r * dstStride, src + r * 4 * width, rowBytes);
}

std::vector<uint8_t> headerBytes(const float (&values)[8]) {
  std::vector<uint8_t> header(32, 0);
  for (int i = 0; i < 8; ++i) {
    uint32_t bits;
    std::memcpy(&bits, &values[i], 4);
    for (int b = 0; b < 4; ++b) header[static_cast<size_t>(4 * i + b)] = static_cast<uint8_t>(bits >> (8 * b));
  }
  return header;
}

}  // namespace kestrel
