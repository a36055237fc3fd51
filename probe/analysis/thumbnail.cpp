#include "probe/analysis/thumbnail.h"

#include <cstddef>

namespace kestrel {
namespace {

// Sample k (0..71) of the rows: the middle of its cell, within the picture.
int64_t sampledRow(int64_t height, int64_t k) {
  const int64_t y = height / 144 + (height * k) / 72;
  return y > height - 1 ? height - 1 : y;
}

}  // namespace

std::vector<uint8_t> thumbnail(const Picture& picture) {
  if (!picture.data || picture.width <= 0 || picture.height <= 0) return {};
  const int64_t W = picture.width, H = picture.height, B = picture.stride;
  std::vector<uint8_t> out(kThumbColumns * kThumbRows, 0);
  const int64_t offX = W / 256;
  for (int64_t i = 0; i < kThumbRows; ++i) {
    for (int64_t j = 0; j < kThumbColumns; ++j) {
      int64_t sum = 0;
      for (int64_t k = 0; k < 4; ++k) {
        const int64_t y = sampledRow(H, 4 * i + k);
        for (int64_t q = 0; q < 4; ++q) {
          int64_t x = offX + (W * (4 * j + q)) / 128;
          if (x > W - 1) x = W - 1;
          const uint8_t* p = picture.data + y * B + 4 * x;
          sum += (299 * int64_t{p[2]} + 587 * int64_t{p[1]} + 114 * int64_t{p[0]}) / 1000;
        }
      }
      out[static_cast<std::size_t>(kThumbColumns * i + j)] = static_cast<uint8_t>(sum / 16);
    }
  }
  return out;
}

std::vector<int64_t> thumbnailRows(int64_t height) {
  std::vector<int64_t> rows;
  if (height <= 0) return rows;
  for (int64_t k = 0; k < 4 * kThumbRows; ++k) rows.push_back(sampledRow(height, k));
  return rows;
}

}  // namespace kestrel
