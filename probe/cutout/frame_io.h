#pragma once
// The byte side of the frame streams: frames in on standard input, header and
// mask out on standard output.
#include <cstdint>
#include <optional>
#include <vector>

#include "probe/front/write_all.h"

namespace kestrel {

// Pixels and bytes of a W x H stream; nullopt when 4 x W x H does not fit, or
// the stream's buffers would pass the largest frame we take (16384 x 16384).
struct StreamSize {
  int64_t width, height, pixels, frameBytes;
};
std::optional<StreamSize> streamSize(int64_t width, int64_t height);

// Reads one frame of `frameBytes` bytes into `pending`, asking the file for
// exactly the missing count each time, so nothing past the frame is read. A
// frame may arrive in any number of pieces. False at the end of the input
// (a partial last frame is dropped).
bool readFrame(int fd, std::vector<uint8_t>& pending, int64_t frameBytes);

// Copies `rows` packed rows of `width` 4-byte pixels into a buffer whose rows
// are `dstStride` bytes apart.
void copyRows(const uint8_t* src, int64_t rows, uint8_t* dst, int64_t dstStride, int64_t width);

// The 32-byte header: eight little-endian single-precision values.
std::vector<uint8_t> headerBytes(const float (&values)[8]);

}  // namespace kestrel
