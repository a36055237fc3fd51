#pragma once
// The byte side of the frame streams: frames in on standard input, header and
// mask out on standard output.
#include <sys/types.h>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "platform/base/write_all.h"

namespace kestrel {

// Pixels and bytes of a W x H stream; nullopt for a side of 0 or one past
// the largest frame we take (kMaxFrameSide).
struct StreamSize {
  int64_t width, height, pixels, frameBytes;
};
std::optional<StreamSize> streamSize(int64_t width, int64_t height);

// Where a stream's bytes come from and go to; a file descriptor in the
// program, anything in tests. A source reads at most `size` bytes and returns
// the count, 0 at the end of the input, or -1 with errno set. A sink writes
// all bytes and returns false when the reader has gone; the file sink ends
// the run with a message when its output refuses bytes for another reason.
using ByteSource = std::function<ssize_t(uint8_t* data, size_t size)>;
using ByteSink = std::function<bool(const uint8_t* data, size_t size)>;
ByteSource fileSource(int fd);
ByteSink fileSink(int fd);

// Reads one frame of `frameBytes` bytes into `pending`, which may already
// hold its first bytes, asking the source for no more than the missing count,
// so nothing past the frame is read. A frame may arrive in any number of
// pieces. False at the end of the input, with the partial frame's bytes left
// in `pending`.
bool readFrame(const ByteSource& source, std::vector<uint8_t>& pending, int64_t frameBytes);
bool readFrame(int fd, std::vector<uint8_t>& pending, int64_t frameBytes);

// Copies `rows` packed rows of `width` 4-byte pixels into a buffer whose rows
// are `dstStride` bytes apart.
void copyRows(const uint8_t* src, int64_t rows, uint8_t* dst, int64_t dstStride, int64_t width);

// What a frame stream writes before each frame's mask: eight values, each
// in 4 bytes as a little-endian single-precision float. The person stream's
// is all zero.
struct FrameHeader {
  std::array<float, 4> face{};  // x, y, width, height, top-left origin
  std::array<float, 4> held{};  // left, top, right, bottom, top-left origin
};
std::vector<uint8_t> headerBytes(const FrameHeader& header);

}  // namespace kestrel
