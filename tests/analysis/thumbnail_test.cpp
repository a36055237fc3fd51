#include <gtest/gtest.h>

#include "probe/analysis/thumbnail.h"

using kestrel::Picture;
using kestrel::thumbnail;

namespace {

struct Bgra {
  int64_t width, height, stride;
  std::vector<uint8_t> bytes;
  Bgra(int64_t w, int64_t h, int64_t padding = 0)
      : width(w), height(h), stride(4 * w + padding), bytes(static_cast<size_t>(stride * h), 0) {}
  uint8_t* at(int64_t x, int64_t y) { return bytes.data() + y * stride + 4 * x; }
  void fill(uint8_t b, uint8_t g, uint8_t r, uint8_t a = 255) {
    for (int64_t y = 0; y < height; ++y)
      for (int64_t x = 0; x < width; ++x) {
        uint8_t* p = at(x, y);
        p[0] = b, p[1] = g, p[2] = r, p[3] = a;
      }
  }
  Picture picture() const { return Picture{bytes.data(), width, height, stride}; }
};

}  // namespace

TEST(Thumbnail, FlatColours) {
  Bgra f(64, 36);
  struct Case { uint8_t b, g, r; int grey; };
  for (auto c : {Case{255, 255, 255, 255}, Case{0, 0, 0, 0}, Case{0, 0, 255, 76},
                 Case{0, 255, 0, 149}, Case{255, 0, 0, 29}}) {
    f.fill(c.b, c.g, c.r);
    auto t = thumbnail(f.picture());
    ASSERT_EQ(t.size(), 576u);
    for (uint8_t v : t) ASSERT_EQ(v, c.grey);
  }
}

TEST(Thumbnail, AlphaHasNoInfluence) {
  Bgra f(40, 30);
  f.fill(10, 200, 90, 0);
  auto a = thumbnail(f.picture());
  f.fill(10, 200, 90, 255);
  EXPECT_EQ(a, thumbnail(f.picture()));
}

TEST(Thumbnail, FullHdSamplesTheGridMiddles) {
  // Mark only the sampled columns and rows: each output byte averages 16 marked pixels.
  Bgra f(1920, 1080, 64);
  for (int64_t y = 7; y <= 1072; y += 15)
    for (int64_t x = 7; x <= 1912; x += 15) {
      uint8_t* p = f.at(x, y);
      p[0] = p[1] = p[2] = 255;
    }
  auto t = thumbnail(f.picture());
  ASSERT_EQ(t.size(), 576u);
  for (uint8_t v : t) ASSERT_EQ(v, 255);
}

TEST(Thumbnail, TinyFrameMapsHalves) {
  Bgra f(2, 2);
  f.at(0, 0)[2] = 255;              // red at top left: 76
  f.at(1, 0)[1] = 255;              // green at top right: 149
  f.at(0, 1)[0] = 255;              // blue at bottom left: 29
  auto t = thumbnail(f.picture());
  EXPECT_EQ(t[0], 76);
  EXPECT_EQ(t[15], 76);
  EXPECT_EQ(t[16], 149);
  EXPECT_EQ(t[32 * 8 + 31], 149);
  EXPECT_EQ(t[32 * 9], 29);
  EXPECT_EQ(t[32 * 17 + 31], 0);
}

TEST(Thumbnail, MeanOfFlooredGreyLevels) {
  // Sixteen samples of grey 1, 2, ... mixed: the floor of their mean.
  Bgra f(128, 72);
  for (int64_t y = 0; y < 72; ++y)
    for (int64_t x = 0; x < 128; ++x) {
      uint8_t* p = f.at(x, y);
      p[2] = static_cast<uint8_t>((x % 4) * 4 + (y % 4));  // red only: grey = 299r/1000 floored
    }
  auto t = thumbnail(f.picture());
  int64_t sum = 0;
  for (int r = 0; r < 16; ++r) sum += 299 * r / 1000;
  EXPECT_EQ(t[0], sum / 16);
}

TEST(Thumbnail, PaddingBytesAreNeverRead) {
  Bgra f(100, 50, 28);
  f.fill(0, 0, 0);
  for (int64_t y = 0; y < 50; ++y)
    for (int64_t k = 400; k < 428; ++k) f.bytes[static_cast<size_t>(y * f.stride + k)] = 255;
  for (uint8_t v : thumbnail(f.picture())) ASSERT_EQ(v, 0);
}

TEST(Thumbnail, NoPixelsGiveNothing) {
  EXPECT_TRUE(thumbnail(Picture{}).empty());
}
