#include "platform/imaging/box_shrink.h"

#include <algorithm>
#include <vector>

namespace kestrel::imaging {
namespace {

bool byteChannels(PixelFormat f) { return f != PixelFormat::RgbaHalf; }

// Whether `out` may hold `source`'s pixels: the same format, or it without alpha.
bool shrinksInto(PixelFormat source, PixelFormat out) {
  return source == out || (source == PixelFormat::Bgra8 && out == PixelFormat::Bgr8) ||
         (source == PixelFormat::Rgba8 && out == PixelFormat::Rgb8);
}

// Rounded division of a block's sum by its pixel count without dividing:
// (sum + count / 2) * reciprocal >> kShift is exact while the sum is at most
// 255 x count, since the rounding error of the reciprocal times the largest
// numerator (256 x 255^4 at most) stays below 2^kShift.
constexpr int kShift = 40;
uint64_t reciprocal(uint64_t count) { return (uint64_t{1} << kShift) / count + 1; }

// One output row from its block's column sums: each block's columns added
// across, divided by its pixel count. The channel counts are constants in
// the loops the formats use, so that they unroll.
template <int64_t In, int64_t Out>
void acrossBlocks(const uint16_t* columns, int64_t width, int64_t factor, int64_t rows, uint8_t* o,
                  uint64_t fullBlock) {
  const int64_t whole = width / factor;
  for (int64_t ox = 0; ox < whole; ++ox, o += Out) {
    const uint16_t* sums = columns + ox * factor * In;
    uint64_t sum[Out] = {};
    for (int64_t k = 0; k < factor; ++k)
      for (int64_t c = 0; c < Out; ++c) sum[c] += sums[k * In + c];
    const uint64_t half = static_cast<uint64_t>(rows * factor) / 2;
    const uint64_t scale = rows == factor ? fullBlock : reciprocal(static_cast<uint64_t>(rows * factor));
    for (int64_t c = 0; c < Out; ++c) o[c] = static_cast<uint8_t>(((sum[c] + half) * scale) >> kShift);
  }
  if (whole * factor == width) return;
  // The block the right edge cuts short.
  const int64_t cols = width - whole * factor;
  const uint64_t count = static_cast<uint64_t>(rows * cols);
  for (int64_t c = 0; c < Out; ++c) {
    uint64_t sum = 0;
    for (int64_t k = 0; k < cols; ++k) sum += columns[(whole * factor + k) * In + c];
    o[c] = static_cast<uint8_t>(((sum + count / 2) * reciprocal(count)) >> kShift);
  }
}

void acrossBlocks(const uint16_t* columns, int64_t width, int64_t factor, int64_t rows, int64_t in, int64_t out,
                  uint8_t* o, uint64_t fullBlock) {
  if (in == 4 && out == 3) return acrossBlocks<4, 3>(columns, width, factor, rows, o, fullBlock);
  if (in == 4) return acrossBlocks<4, 4>(columns, width, factor, rows, o, fullBlock);
  if (in == 3) return acrossBlocks<3, 3>(columns, width, factor, rows, o, fullBlock);
  acrossBlocks<1, 1>(columns, width, factor, rows, o, fullBlock);
}

}  // namespace

bool shrinkByWholeFactor(Picture source, int64_t factor, MutablePicture out) {
  if (!source.data || !out.data || factor < 1 || factor > kLargestShrink || source.width <= 0 ||
      source.height <= 0 || !byteChannels(source.format) || !shrinksInto(source.format, out.format))
    return false;
  const int64_t inChannels = bytesPerPixel(source.format), outChannels = bytesPerPixel(out.format);
  if (source.stride < source.width * inChannels || out.width != shrunkSide(source.width, factor) ||
      out.height != shrunkSide(source.height, factor) || out.stride < out.width * outChannels)
    return false;
  // Each output row: the block's rows summed down each column (vector adds
  // over whole rows), then each block's columns across.
  const int64_t rowBytes = source.width * inChannels;
  std::vector<uint16_t> columns(static_cast<size_t>(rowBytes));
  const uint64_t fullBlock = reciprocal(static_cast<uint64_t>(factor * factor));
  for (int64_t oy = 0; oy < out.height; ++oy) {
    const int64_t y0 = oy * factor, rows = std::min(factor, source.height - y0);
    std::fill(columns.begin(), columns.end(), uint16_t{0});
    for (int64_t k = 0; k < rows; ++k) {
      const uint8_t* in = source.row(y0 + k);
      uint16_t* sums = columns.data();
      for (int64_t i = 0; i < rowBytes; ++i) sums[i] = static_cast<uint16_t>(sums[i] + in[i]);
    }
    acrossBlocks(columns.data(), source.width, factor, rows, inChannels, outChannels, out.row(oy), fullBlock);
  }
  return true;
}

int64_t largestWholeFactor(const PixelRegion& r, int64_t outWidth, int64_t outHeight) {
  if (outWidth <= 0 || outHeight <= 0 || r.x < 0 || r.y < 0) return 1;
  const int64_t most = std::min({kLargestShrink, r.width / outWidth, r.height / outHeight});
  for (int64_t f = most; f > 1; --f)
    if (r.x % f == 0 && r.y % f == 0 && r.width % f == 0 && r.height % f == 0) return f;
  return 1;
}

}  // namespace kestrel::imaging
