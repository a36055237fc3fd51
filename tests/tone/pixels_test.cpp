// Half-float conversion and the packing of rendered frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/media/half_float.h"
#include "tone/rgb_pack.h"

using kestrel::media::floatFromHalf;
using kestrel::media::halfFromFloat;

namespace {

float nextUp(float f) { return std::nextafter(f, INFINITY); }
float nextDown(float f) { return std::nextafter(f, -INFINITY); }

}  // namespace

TEST(HalfFloat, EveryHalfSurvivesTheRoundTrip) {
  for (uint32_t h = 0; h < 0x10000; ++h) {
    const float f = floatFromHalf(static_cast<uint16_t>(h));
    if (std::isnan(f)) {
      const uint16_t back = halfFromFloat(f);
      EXPECT_EQ(back & 0x7c00u, 0x7c00u);
      EXPECT_NE(back & 0x3ffu, 0u);
      continue;
    }
    ASSERT_EQ(halfFromFloat(f), h) << std::hex << h;
  }
  EXPECT_EQ(floatFromHalf(0x3c00), 1.0f);
  EXPECT_EQ(floatFromHalf(0x3800), 0.5f);
  EXPECT_EQ(floatFromHalf(0x0001), std::ldexp(1.0f, -24));
  EXPECT_EQ(floatFromHalf(0x7bff), 65504.0f);
  EXPECT_EQ(floatFromHalf(0xc000), -2.0f);
}

TEST(HalfFloat, RoundsToNearestWithTiesToEven) {
  // Between every two neighbouring finite halves of one sign: the midpoint goes
  // to the even one, anything off the midpoint to the nearer one.
  for (uint32_t h = 0; h < 0x7bff; ++h) {
    const float lo = floatFromHalf(static_cast<uint16_t>(h));
    const float hi = floatFromHalf(static_cast<uint16_t>(h + 1));
    const float mid = lo + (hi - lo) / 2;  // exact in single precision
    const uint32_t even = (h % 2 == 0) ? h : h + 1;
    ASSERT_EQ(halfFromFloat(mid), even) << std::hex << h;
    ASSERT_EQ(halfFromFloat(nextDown(mid)), h) << std::hex << h;
    ASSERT_EQ(halfFromFloat(nextUp(mid)), h + 1) << std::hex << h;
    ASSERT_EQ(halfFromFloat(-mid), even | 0x8000u) << std::hex << h;
  }
}

TEST(HalfFloat, OverflowAndValuesBelowTheSmallest) {
  EXPECT_EQ(halfFromFloat(65519.0f), 0x7bffu);
  EXPECT_EQ(halfFromFloat(nextDown(65520.0f)), 0x7bffu);
  EXPECT_EQ(halfFromFloat(65520.0f), 0x7c00u);
  EXPECT_EQ(halfFromFloat(1e10f), 0x7c00u);
  EXPECT_EQ(halfFromFloat(-1e10f), 0xfc00u);
  EXPECT_EQ(halfFromFloat(INFINITY), 0x7c00u);
  EXPECT_EQ(halfFromFloat(-0.0f), 0x8000u);
  EXPECT_EQ(halfFromFloat(std::ldexp(1.0f, -26)), 0u);  // below the smallest subnormal
  EXPECT_EQ(halfFromFloat(1e-30f), 0u);
  EXPECT_TRUE(std::isinf(floatFromHalf(0x7c00)));
}

TEST(HalfFloat, RowsRoundEveryValueLikeTheSingleConversion) {
  // Rows are converted several pixels at a time where the processor can; the
  // result must not depend on a pixel's place in the row.
  std::vector<float> values;
  for (uint32_t h = 0; h < 0x7c00; h += 7) {
    const float lo = floatFromHalf(static_cast<uint16_t>(h));
    const float hi = floatFromHalf(static_cast<uint16_t>(h + 1));
    values.insert(values.end(), {lo, lo + (hi - lo) / 2, nextUp(lo + (hi - lo) / 2), -lo});
  }
  values.insert(values.end(), {65520.0f, 1e30f, -INFINITY, std::nanf(""), 0.0f, -0.0f});
  for (int64_t width : {int64_t(1), int64_t(3), int64_t(4), int64_t(7), static_cast<int64_t>(values.size())}) {
    for (size_t start = 0; start + static_cast<size_t>(width) <= values.size(); start += static_cast<size_t>(width) * 97 + 1) {
      const float* v = values.data() + start;
      std::vector<float> reversed(v, v + width);
      std::reverse(reversed.begin(), reversed.end());
      std::vector<uint8_t> out(static_cast<size_t>(width) * 8);
      kestrel::media::halfRgbaRow(v, reversed.data(), v, width, out.data());
      for (int64_t x = 0; x < width; ++x) {
        auto at = [&](int c) { return static_cast<uint16_t>(out[8 * x + 2 * c] | out[8 * x + 2 * c + 1] << 8); };
        const uint16_t r = halfFromFloat(v[x]), g = halfFromFloat(reversed[x]);
        if (std::isnan(v[x])) {
          EXPECT_TRUE(std::isnan(floatFromHalf(at(0))));
        } else {
          ASSERT_EQ(at(0), r) << v[x];
          ASSERT_EQ(at(2), r) << v[x];
        }
        if (!std::isnan(reversed[x])) {
          ASSERT_EQ(at(1), g) << reversed[x];
        }
        ASSERT_EQ(at(3), 0x3c00u);
      }
    }
  }
}

TEST(RgbPack, ReordersAndDropsAlphaAndRowPadding) {
  const int64_t w = 3, h = 2, stride = 4 * w + 20;
  std::vector<uint8_t> bgra(static_cast<size_t>(stride * h), 0xee);
  for (int64_t y = 0; y < h; ++y)
    for (int64_t x = 0; x < w; ++x) {
      uint8_t* p = bgra.data() + y * stride + 4 * x;
      p[0] = static_cast<uint8_t>(10 + x + 10 * y);
      p[1] = static_cast<uint8_t>(100 + x + 10 * y);
      p[2] = static_cast<uint8_t>(200 + x + 10 * y);
      p[3] = 255;
    }
  std::vector<uint8_t> rgb(static_cast<size_t>(w * h * 3) + 1, 0x55);
  kestrel::tone::packRgb({bgra.data(), w, h, stride}, rgb.data());
  for (int64_t y = 0; y < h; ++y)
    for (int64_t x = 0; x < w; ++x) {
      const uint8_t* q = rgb.data() + 3 * (y * w + x);
      EXPECT_EQ(q[0], 200 + x + 10 * y);
      EXPECT_EQ(q[1], 100 + x + 10 * y);
      EXPECT_EQ(q[2], 10 + x + 10 * y);
    }
  EXPECT_EQ(rgb.back(), 0x55);  // nothing written past W x H x 3

  const uint8_t one[4] = {10, 20, 30, 255};
  uint8_t packed[3];
  kestrel::tone::packRgb({one, 1, 1, 4}, packed);
  EXPECT_EQ(packed[0], 30);
  EXPECT_EQ(packed[1], 20);
  EXPECT_EQ(packed[2], 10);
}
