// The imaging service: bilinear scaling onto the frame and the disk maximum,
// the latter against OpenCV's dilation with the full disk kernel.
#include "platform/imaging/imaging.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

namespace kestrel::imaging {
namespace {

std::vector<uint8_t> straightDilate(const std::vector<uint8_t>& source, int width, int height,
                                    double radius) {
  const int reach = radius >= 1 ? static_cast<int>(radius) : 0;
  cv::Mat kernel(2 * reach + 1, 2 * reach + 1, CV_8U, cv::Scalar(0));
  for (int dy = -reach; dy <= reach; ++dy)
    for (int dx = -reach; dx <= reach; ++dx)
      if (dx * dx + dy * dy <= radius * radius) kernel.at<uint8_t>(dy + reach, dx + reach) = 1;
  const cv::Mat from(height, width, CV_8U, const_cast<uint8_t*>(source.data()));
  cv::Mat to;
  cv::dilate(from, to, kernel);
  return std::vector<uint8_t>(to.data, to.data + source.size());
}

TEST(DilateDisk, EqualsDilationWithTheFullDiskKernel) {
  std::mt19937 random(5);
  struct Size {
    int width, height;
  };
  for (Size s : {Size{1, 1}, Size{1, 40}, Size{40, 1}, Size{5, 7}, Size{31, 17}, Size{200, 150}}) {
    // Sparse peaks of varied height over a low floor show the kernel's exact shape.
    std::vector<uint8_t> source(static_cast<size_t>(s.width * s.height));
    for (auto& v : source) v = random() % 40 == 0 ? static_cast<uint8_t>(random()) : random() % 8;
    for (double radius : {0.0, 0.5, 1.0, 1.5, 2.5, 3.0, 7.3, 12.0, 40.0, 1e300}) {
      std::vector<uint8_t> out(source.size(), 99);
      ASSERT_TRUE(dilateDisk(greyPlane(source.data(), s.width, s.height), greyPlane(out.data(), s.width, s.height), radius));
      const double clamped = std::min(radius, 300.0);
      EXPECT_EQ(out, straightDilate(source, s.width, s.height, clamped))
          << s.width << "x" << s.height << " radius " << radius;
    }
  }
}

TEST(DilateDisk, RadiusTwelveOnAFullFrame) {
  const int width = 1920, height = 1080;
  std::vector<uint8_t> source(static_cast<size_t>(width * height), 0);
  cv::Mat plane(height, width, CV_8U, source.data());
  cv::ellipse(plane, {960, 700}, {250, 500}, 0, 0, 360, cv::Scalar(230), -1);
  cv::circle(plane, {300, 200}, 3, cv::Scalar(255), -1);
  cv::circle(plane, {1919, 1079}, 1, cv::Scalar(180), -1);
  std::vector<uint8_t> out(source.size());
  ASSERT_TRUE(dilateDisk(greyPlane(source.data(), width, height), greyPlane(out.data(), width, height), 12.0));
  EXPECT_EQ(out, straightDilate(source, width, height, 12.0));
}

TEST(ScaleMatte, BilinearWithPixelCentresLinedUp) {
  const std::vector<uint8_t> pair = {0, 255};
  std::vector<uint8_t> out(4);
  ASSERT_TRUE(scaleMatte(greyPlane(pair.data(), 2, 1), greyPlane(out.data(), 4, 1)));
  EXPECT_EQ(out[0], 0);
  EXPECT_NEAR(out[1], 64, 1);
  EXPECT_NEAR(out[2], 191, 1);
  EXPECT_EQ(out[3], 255);

  // Top row first: a matte bright on top stays bright on top.
  ASSERT_TRUE(scaleMatte(greyPlane(pair.data(), 1, 2), greyPlane(out.data(), 1, 4)));
  EXPECT_EQ(out, (std::vector<uint8_t>{0, 64, 191, 255}));
}

TEST(ScaleMatte, SameSizeCopiesAndRowPaddingIsIgnored) {
  // 3 x 2 values in rows of 5 bytes; the padding is 200.
  const std::vector<uint8_t> padded = {1, 2, 3, 200, 200, 4, 5, 6, 200, 200};
  std::vector<uint8_t> out(6, 99);
  ASSERT_TRUE(scaleMatte({padded.data(), 3, 2, 5, PixelFormat::Grey8}, greyPlane(out.data(), 3, 2)));
  EXPECT_EQ(out, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));

  std::vector<uint8_t> big(64 * 48, 99);
  const std::vector<uint8_t> flat(4 * 4, 77);
  ASSERT_TRUE(scaleMatte(greyPlane(flat.data(), 4, 4), greyPlane(big.data(), 64, 48)));
  EXPECT_EQ(big, std::vector<uint8_t>(big.size(), 77));
}

TEST(ScaleMatte, UnusableSourceGivesAnEmptyMap) {
  const std::vector<uint8_t> some(16, 255);
  constexpr PixelFormat grey = PixelFormat::Grey8;
  for (Picture bad : {Picture{}, Picture{some.data(), 0, 4, 4, grey}, Picture{some.data(), 4, 4, 3, grey},
                      Picture{some.data(), int64_t{1} << 33, 1, int64_t{1} << 33, grey},
                      Picture{some.data(), 2, 2, 8}}) {
    std::vector<uint8_t> out(12, 99);
    EXPECT_FALSE(scaleMatte(bad, greyPlane(out.data(), 4, 3)));
    EXPECT_EQ(out, std::vector<uint8_t>(12, 0));
  }
}

}  // namespace
}  // namespace kestrel::imaging
