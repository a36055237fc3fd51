#include "tone/lut_table.h"

#include <cstdio>

#include "platform/media/half_float.h"

namespace kestrel::tone {

std::string lutHeader(int64_t n) {
  return "LUT_3D_SIZE " + std::to_string(n) + "\nDOMAIN_MIN 0 0 0\nDOMAIN_MAX 1 1 1\n";
}

bool gridFits(int64_t n, int64_t p, int64_t width, int64_t height) {
  if (n < 1 || p < 2) return false;
  // The last row and column read; wide arithmetic so huge words cannot wrap.
  const __int128 last = static_cast<__int128>(p) * (n - 1) + (3 * static_cast<__int128>(p)) / 4 - 1;
  return last < height && last < width;
}

namespace {

float clamped(float v) {
  if (!(v > 0)) return 0;  // NaN as well: a table entry must be a number
  return v > 1 ? 1 : v;
}

}  // namespace

void appendFrameEntries(std::string& text, const uint8_t* base, int64_t stride, int64_t n,
                        int64_t p) {
  const int64_t from = p / 4, to = 3 * p / 4;
  for (int64_t j = 0; j < n; ++j) {
    for (int64_t k = 0; k < n; ++k) {
      float sum[3] = {0, 0, 0};
      float count = 0;
      for (int64_t y = p * j + from; y < p * j + to; ++y) {
        const uint8_t* px = base + y * stride + 8 * (p * k + from);
        for (int64_t x = from; x < to; ++x, px += 8) {
          for (int c = 0; c < 3; ++c)
            sum[c] += media::floatFromHalf(static_cast<uint16_t>(px[2 * c] | px[2 * c + 1] << 8));
          count += 1;
        }
      }
      char line[128];
      const int len = std::snprintf(line, sizeof line, "%.6f %.6f %.6f\n",
                                    static_cast<double>(clamped(sum[0] / count)),
                                    static_cast<double>(clamped(sum[1] / count)),
                                    static_cast<double>(clamped(sum[2] / count)));
      text.append(line, static_cast<size_t>(len));
    }
  }
}

}  // namespace kestrel::tone
