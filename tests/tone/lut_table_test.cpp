#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "platform/media/half_float.h"
#include "tests/support/scratch.h"
#include "tone/lut_table.h"

using namespace kestrel::tone;
using kestrel::media::halfFromFloat;

namespace {

// A half-float RGBA frame with padded rows; unset pixels hold a value that
// would show in any mean that wrongly reaches them.
struct HalfFrame {
  int64_t width, height, stride;
  std::vector<uint8_t> bytes;
  HalfFrame(int64_t w, int64_t h)
      : width(w), height(h), stride(8 * w + 24), bytes(static_cast<size_t>(stride * h)) {
    fill(0, 0, w, h, {1000.0f, -1000.0f, 500.0f});
  }
  void set(int64_t x, int64_t y, std::array<float, 3> rgb) {
    uint8_t* p = bytes.data() + y * stride + 8 * x;
    const uint16_t v[4] = {halfFromFloat(rgb[0]), halfFromFloat(rgb[1]), halfFromFloat(rgb[2]),
                           0x3c00};
    for (int c = 0; c < 4; ++c) p[2 * c] = v[c] & 0xff, p[2 * c + 1] = v[c] >> 8;
  }
  void fill(int64_t x0, int64_t y0, int64_t w, int64_t h, std::array<float, 3> rgb) {
    for (int64_t y = y0; y < y0 + h; ++y)
      for (int64_t x = x0; x < x0 + w; ++x) set(x, y, rgb);
  }
  std::string entries(int64_t n, int64_t p) const {
    std::string text;
    appendFrameEntries(text, bytes.data(), stride, n, p);
    return text;
  }
};

}  // namespace

TEST(LutTable, HeaderLines) {
  EXPECT_EQ(lutHeader(33), "LUT_3D_SIZE 33\nDOMAIN_MIN 0 0 0\nDOMAIN_MAX 1 1 1\n");
}

TEST(LutTable, PatchesInRowOrderMeasuredOnlyInTheirMiddleWindow) {
  // N = 2, P = 4: each window is the 2 x 2 pixels at patch offsets 1 and 2.
  HalfFrame f(8, 8);
  const std::array<std::array<float, 3>, 4> colours{
      {{0.5f, 0.25f, 0.125f}, {1.0f, 0.0f, 0.0f}, {0.0f, 0.75f, 1.0f}, {0.0625f, 0.0f, 0.5f}}};
  for (int i = 0; i < 4; ++i) f.fill(4 * (i % 2) + 1, 4 * (i / 2) + 1, 2, 2, colours[i]);
  EXPECT_EQ(f.entries(2, 4),
            "0.500000 0.250000 0.125000\n"
            "1.000000 0.000000 0.000000\n"
            "0.000000 0.750000 1.000000\n"
            "0.062500 0.000000 0.500000\n");
}

TEST(LutTable, MeansClampAndPrintSixDigits) {
  // P = 6: a 3 x 3 window at offsets 1 to 3.
  HalfFrame f(6, 6);
  f.fill(1, 1, 3, 3, {0, 0, 0});
  f.fill(1, 1, 3, 1, {1.0f, 4.0f, -0.5f});  // first window row: a third of the pixels
  EXPECT_EQ(f.entries(1, 6), "0.333333 1.000000 0.000000\n");

  HalfFrame g(6, 6);
  g.fill(1, 1, 3, 3, {std::nanf(""), 2.0f, -0.0f});
  EXPECT_EQ(g.entries(1, 6), "0.000000 1.000000 0.000000\n");
}

TEST(LutTable, SumsInSinglePrecisionInReadingOrder) {
  // P = 16: 8 x 8 window. 4096 first, then 62 values of 2^-12 that single
  // precision loses against it, then -4096: the mean is exactly 0. Summed in
  // double it would be 0.000236.
  HalfFrame f(16, 16);
  f.fill(4, 4, 8, 8, {0x1p-12f, 0.5f, 0.5f});
  f.set(4, 4, {4096.0f, 0.5f, 0.5f});
  f.set(11, 11, {-4096.0f, 0.5f, 0.5f});
  EXPECT_EQ(f.entries(1, 16), "0.000000 0.500000 0.500000\n");
}

TEST(LutTable, GridMustLieInsideTheFrame) {
  // N = 2, P = 4 reads up to row and column 4 + 3 - 1 = 6.
  EXPECT_TRUE(gridFits(2, 4, 7, 7));
  EXPECT_FALSE(gridFits(2, 4, 6, 7));
  EXPECT_FALSE(gridFits(2, 4, 7, 6));
  EXPECT_TRUE(gridFits(33, 16, 16 * 32 + 12, 16 * 32 + 12));
  EXPECT_FALSE(gridFits(33, 16, 16 * 32 + 11, 1000));
  EXPECT_TRUE(gridFits(1, 2, 1, 1));
  EXPECT_FALSE(gridFits(0, 4, 100, 100));
  EXPECT_FALSE(gridFits(2, 1, 100, 100));
  EXPECT_FALSE(gridFits(INT64_MAX, INT64_MAX, INT64_MAX, INT64_MAX));
  EXPECT_FALSE(gridFits(3, INT64_MAX / 2, INT64_MAX, INT64_MAX));
}
