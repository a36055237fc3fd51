#include "probe/cutout/frame_io.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/base/fail.h"
#include "platform/frame_limit.h"

namespace kestrel {
namespace {

// What the frame buffer starts with before the first frame has arrived.
constexpr size_t kFirstPiece = size_t{1} << 20;

}  // namespace

std::optional<StreamSize> streamSize(int64_t width, int64_t height) {
  if (width < 1 || height < 1 || !frameFits(width, height)) return std::nullopt;
  return StreamSize{width, height, width * height, 4 * width * height};
}

ByteSource fileSource(int fd) {
  return [fd](uint8_t* data, size_t size) { return ::read(fd, data, size); };
}

ByteSink fileSink(int fd) {
  return [fd](const uint8_t* data, size_t size) {
    if (writeAll(fd, data, size)) return true;
    if (errno != EPIPE) fail(cantWriteOutput(errno));
    return false;
  };
}

bool readFrame(int fd, std::vector<uint8_t>& pending, int64_t frameBytes) {
  return readFrame(fileSource(fd), pending, frameBytes);
}

bool readFrame(const ByteSource& source, std::vector<uint8_t>& pending, int64_t frameBytes) {
  const size_t want = static_cast<size_t>(frameBytes);
  size_t have = std::min(pending.size(), want);
  while (have < want) {
    // Room for the rest at once when the buffer has held a frame; before
    // that it grows with what arrives, so an input that ends early costs
    // little. Either way each byte is read once, straight into place.
    if (pending.size() <= have)
      pending.resize(pending.capacity() >= want ? want : std::min(want, std::max(2 * have, kFirstPiece)));
    const ssize_t n = source(pending.data() + have, pending.size() - have);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail(std::string("can't read the frames: ") + std::strerror(errno));
    if (n == 0) break;
    have += static_cast<size_t>(n);
  }
  pending.resize(have);
  return have == want;
}

void copyRows(const uint8_t* src, int64_t rows, uint8_t* dst, int64_t dstStride, int64_t width) {
  const size_t rowBytes = static_cast<size_t>(4 * width);
  for (int64_t r = 0; r < rows; ++r)
    std::memcpy(dst + r * dstStride, src + r * 4 * width, rowBytes);
}

std::vector<uint8_t> headerBytes(const FrameHeader& h) {
  const float values[8] = {h.face[0], h.face[1], h.face[2], h.face[3],
                           h.held[0], h.held[1], h.held[2], h.held[3]};
  std::vector<uint8_t> header(32, 0);
  for (int i = 0; i < 8; ++i) {
    uint32_t bits;
    std::memcpy(&bits, &values[i], 4);
    for (int b = 0; b < 4; ++b) header[static_cast<size_t>(4 * i + b)] = static_cast<uint8_t>(bits >> (8 * b));
  }
  return header;
}

}  // namespace kestrel
