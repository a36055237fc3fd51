// The opacity decision: which decoded pictures are written with alpha.
#include <gtest/gtest.h>

#include <vector>

#include "probe/photo/opacity.h"

using namespace kestrel;

namespace {

std::vector<uint8_t> rgba(int64_t pixels, uint8_t alpha) {
  std::vector<uint8_t> v(pixels * 4, 90);
  for (int64_t i = 0; i < pixels; ++i) v[i * 4 + 3] = alpha;
  return v;
}

// `bands` bytes a pixel in packed rows.
Picture picture(const uint8_t* data, int64_t width, int64_t height, int bands) {
  return {data, width, height, bands * width, bands == 4 ? PixelFormat::Rgba8 : PixelFormat::Rgb8};
}

}  // namespace

TEST(Opacity, AllOpaqueAlphaIsOpaque) {
  auto v = rgba(6 * 5, 255);
  EXPECT_FALSE(hasTransparency(picture(v.data(), 6, 5, 4)));
}

TEST(Opacity, OneTranslucentPixelAnywhereMakesAlpha) {
  for (int64_t at : {0, 17, 29}) {  // first, middle, last pixel
    auto v = rgba(6 * 5, 255);
    v[at * 4 + 3] = 254;
    EXPECT_TRUE(hasTransparency(picture(v.data(), 6, 5, 4))) << "pixel " << at;
  }
}

TEST(Opacity, ColourBytesAreNotMistakenForAlpha) {
  auto v = rgba(4, 255);
  v[0] = v[1] = v[2] = 0;  // a black pixel, fully opaque
  EXPECT_FALSE(hasTransparency(picture(v.data(), 2, 2, 4)));
}

TEST(Opacity, NothingToScanIsOpaque) {
  std::vector<uint8_t> rgb(3 * 4 * 4, 0);  // zeros would read as transparent alpha
  EXPECT_FALSE(hasTransparency(picture(rgb.data(), 4, 4, 3)));
  auto v = rgba(4, 0);
  EXPECT_FALSE(hasTransparency(picture(v.data(), 0, 2, 4)));
  EXPECT_FALSE(hasTransparency(picture(nullptr, 2, 2, 4)));
}
