// Shrinking by a whole factor against the plain average of each block, on
// odd sizes, padded rows and every format pairing; and the choice of factor.
#include "platform/imaging/box_shrink.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace kestrel::imaging {
namespace {

// A picture in rows padded with `pad` bytes of 77.
struct Bytes {
  std::vector<uint8_t> data;
  MutablePicture picture;
};

Bytes padded(int64_t width, int64_t height, PixelFormat format, int64_t pad) {
  Bytes b;
  const int64_t stride = width * bytesPerPixel(format) + pad;
  b.data.assign(static_cast<size_t>(stride * height), 77);
  b.picture = {b.data.data(), width, height, stride, format};
  return b;
}

// The block average rounded half up, straight from the definition.
uint8_t blockAverage(Picture p, int64_t factor, int64_t ox, int64_t oy, int64_t channel) {
  int64_t sum = 0, count = 0;
  for (int64_t y = oy * factor; y < std::min(p.height, (oy + 1) * factor); ++y)
    for (int64_t x = ox * factor; x < std::min(p.width, (ox + 1) * factor); ++x, ++count)
      sum += p.row(y)[x * bytesPerPixel(p.format) + channel];
  return static_cast<uint8_t>((2 * sum + count) / (2 * count));
}

// Shrinks `source` into a padded picture; checks every byte against the
// definition and that the padding is untouched.
void expectShrinksExactly(Picture source, int64_t factor, PixelFormat outFormat) {
  Bytes out = padded(shrunkSide(source.width, factor), shrunkSide(source.height, factor), outFormat, 5);
  ASSERT_TRUE(shrinkByWholeFactor(source, factor, out.picture));
  const int64_t channels = bytesPerPixel(outFormat);
  for (int64_t y = 0; y < out.picture.height; ++y) {
    const uint8_t* row = out.picture.row(y);
    for (int64_t x = 0; x < out.picture.width; ++x)
      for (int64_t c = 0; c < channels; ++c)
        ASSERT_EQ(row[x * channels + c], blockAverage(source, factor, x, y, c))
            << "pixel " << x << "," << y << " channel " << c;
    for (int64_t i = out.picture.width * channels; i < out.picture.stride; ++i) ASSERT_EQ(row[i], 77);
  }
}

TEST(ShrinkByWholeFactor, EachPixelIsItsBlocksAverage) {
  std::mt19937 random(11);
  struct Case {
    PixelFormat in, out;
  };
  const Case formats[] = {{PixelFormat::Bgra8, PixelFormat::Bgr8},
                          {PixelFormat::Bgra8, PixelFormat::Bgra8},
                          {PixelFormat::Rgba8, PixelFormat::Rgb8},
                          {PixelFormat::Bgr8, PixelFormat::Bgr8},
                          {PixelFormat::Grey8, PixelFormat::Grey8}};
  // Sizes the factors do and do not divide, a factor larger than the picture.
  const std::pair<int64_t, int64_t> sizes[] = {{1, 1}, {1, 9}, {9, 1}, {7, 5}, {37, 23}, {64, 48}};
  for (const Case& f : formats)
    for (const auto& [width, height] : sizes) {
      Bytes source = padded(width, height, f.in, 3);
      for (auto& v : source.data) v = static_cast<uint8_t>(random());
      for (int64_t factor : {1, 2, 3, 4, 5, 16, 40}) {
        SCOPED_TRACE(testing::Message() << width << "x" << height << " factor " << factor << " format "
                                        << static_cast<int>(f.in) << " to " << static_cast<int>(f.out));
        expectShrinksExactly(source.picture, factor, f.out);
      }
    }
}

TEST(ShrinkByWholeFactor, RoundsHalfUpAndStaysExactUpToTheLargestFactor) {
  const int64_t factors[] = {2, 3, 63, 64, 200, kLargestShrink};
  for (int64_t factor : factors) {
    SCOPED_TRACE(factor);
    // Blocks of all 255, of 254 with one 255, of half 254 and half 255
    // (a tie for an even count): the largest sums the division meets.
    Bytes source = padded(3 * factor, factor, PixelFormat::Grey8, 0);
    for (int64_t y = 0; y < factor; ++y)
      for (int64_t x = 0; x < 3 * factor; ++x) {
        const int64_t i = y * factor + x % factor;
        const uint8_t v = x < factor ? 255 : x < 2 * factor ? (i == 0 ? 255 : 254) : (i % 2 ? 255 : 254);
        source.picture.row(y)[x] = v;
      }
    expectShrinksExactly(source.picture, factor, PixelFormat::Grey8);
    std::vector<uint8_t> out(3);
    ASSERT_TRUE(shrinkByWholeFactor(source.picture, factor, greyPlane(out.data(), 3, 1)));
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(out[1], 254);
    EXPECT_EQ(out[2], factor % 2 ? 254 : 255);
  }
}

TEST(ShrinkByWholeFactor, APartShrunkIsThatPartOfTheShrunkPicture) {
  // A region on the factor's grid, read through a view into the picture's rows.
  Bytes source = padded(60, 45, PixelFormat::Bgra8, 8);
  std::mt19937 random(3);
  for (auto& v : source.data) v = static_cast<uint8_t>(random());
  const int64_t factor = 3;
  const Picture part{source.picture.row(9) + 6 * 4, 24, 18, source.picture.stride, PixelFormat::Bgra8};
  std::vector<uint8_t> whole(20 * 15 * 3), ofPart(8 * 6 * 3);
  ASSERT_TRUE(shrinkByWholeFactor(source.picture, factor, {whole.data(), 20, 15, 60, PixelFormat::Bgr8}));
  ASSERT_TRUE(shrinkByWholeFactor(part, factor, {ofPart.data(), 8, 6, 24, PixelFormat::Bgr8}));
  for (int64_t y = 0; y < 6; ++y)
    for (int64_t i = 0; i < 24; ++i)
      EXPECT_EQ(ofPart[static_cast<size_t>(y * 24 + i)], whole[static_cast<size_t>((y + 3) * 60 + 2 * 3 + i)]);
}

TEST(ShrinkByWholeFactor, RefusesWhatItCannotShrinkAndWritesNothing) {
  Bytes source = padded(8, 6, PixelFormat::Bgra8, 0);
  const Picture p = source.picture;
  std::vector<uint8_t> out(64, 99);
  auto into = [&](int64_t w, int64_t h, int64_t stride, PixelFormat f) {
    return MutablePicture{out.data(), w, h, stride, f};
  };
  EXPECT_FALSE(shrinkByWholeFactor(p, 0, into(8, 6, 24, PixelFormat::Bgr8)));
  EXPECT_FALSE(shrinkByWholeFactor(p, kLargestShrink + 1, into(1, 1, 3, PixelFormat::Bgr8)));
  EXPECT_FALSE(shrinkByWholeFactor(p, 2, into(3, 3, 9, PixelFormat::Bgr8)));    // 4 x 3 expected
  EXPECT_FALSE(shrinkByWholeFactor(p, 2, into(4, 3, 11, PixelFormat::Bgr8)));   // rows too short
  EXPECT_FALSE(shrinkByWholeFactor(p, 2, into(4, 3, 4, PixelFormat::Grey8)));   // channels dropped
  EXPECT_FALSE(shrinkByWholeFactor(p, 2, into(4, 3, 12, PixelFormat::Rgb8)));   // another order
  EXPECT_FALSE(shrinkByWholeFactor({p.data, 8, 6, 31, PixelFormat::Bgra8}, 2, into(4, 3, 12, PixelFormat::Bgr8)));
  EXPECT_FALSE(shrinkByWholeFactor({p.data, 2, 2, 16, PixelFormat::RgbaHalf}, 1, into(2, 2, 16, PixelFormat::RgbaHalf)));
  EXPECT_FALSE(shrinkByWholeFactor({}, 2, into(4, 3, 12, PixelFormat::Bgr8)));
  EXPECT_EQ(out, std::vector<uint8_t>(64, 99));
}

TEST(LargestWholeFactor, DividesTheRegionAndKeepsItAtLeastTheSizeAsked) {
  struct Case {
    PixelRegion region;
    int64_t width, height, factor;
  };
  const Case cases[] = {
      {{0, 0, 640, 360}, 128, 72, 5},     // exactly the size asked
      {{0, 0, 640, 360}, 192, 108, 2},    // 3 does not divide 640
      {{0, 0, 1280, 720}, 192, 108, 5},   // 6 does not divide 1280
      {{0, 0, 1280, 720}, 640, 360, 2},
      {{0, 0, 640, 360}, 512, 288, 1},    // nothing whole fits
      {{0, 0, 641, 360}, 128, 72, 1},     // an odd side divides by nothing
      {{0, 0, 1000, 100}, 10, 50, 2},     // the tighter side decides
      {{10, 20, 400, 300}, 100, 100, 2},  // 3 does not divide the position
      {{0, 0, 16384, 16384}, 1, 1, 128},  // at most kLargestShrink
      {{0, 0, 64, 64}, 100, 100, 1},      // enlarging
      {{0, 0, 64, 64}, 0, 10, 1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(largestWholeFactor(c.region, c.width, c.height), c.factor)
        << c.region.x << "," << c.region.y << " " << c.region.width << "x" << c.region.height << " to " << c.width
        << "x" << c.height;
}

}  // namespace
}  // namespace kestrel::imaging
