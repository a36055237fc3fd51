// What the models read of a picture: parts and sizes of the upright picture,
// taken from a pixel source without turning or converting it whole.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "platform/vision/dnn/bgra_pixels.h"
#include "platform/vision/dnn/model_image.h"

using namespace kestrel;
using namespace kestrel::vision::dnn;

namespace {

// The largest difference of two 8-bit images of one size.
double maxDifference(const cv::Mat& a, const cv::Mat& b) {
  EXPECT_EQ(a.size(), b.size());
  if (a.size() != b.size()) return 1e9;
  return cv::norm(a, b, cv::NORM_INF);
}

cv::Mat turnedUpright(const cv::Mat& bgr, uint32_t orientation) {
  cv::Mat out = bgr.clone();
  if (orientation == 3) cv::rotate(bgr, out, cv::ROTATE_180);
  if (orientation == 6) cv::rotate(bgr, out, cv::ROTATE_90_CLOCKWISE);
  if (orientation == 8) cv::rotate(bgr, out, cv::ROTATE_90_COUNTERCLOCKWISE);
  return out;
}

}  // namespace

TEST(ModelImage, PartsOfTheUprightPictureInEveryOrientation) {
  // Odd sizes, so that a mistake in turning a rectangle shows as a shift.
  cv::Mat bgra(23, 37, CV_8UC4);
  cv::randu(bgra, 0, 256);
  const Picture picture{bgra.data, bgra.cols, bgra.rows, static_cast<int64_t>(bgra.step)};
  cv::Mat bgr;
  cv::cvtColor(bgra, bgr, cv::COLOR_BGRA2BGR);
  for (uint32_t orientation : {1u, 3u, 6u, 8u}) {
    SCOPED_TRACE(orientation);
    BgraPixels pixels(picture);
    ModelImage image(pixels, orientation);
    const cv::Mat upright = turnedUpright(bgr, orientation);
    ASSERT_EQ(image.cols(), upright.cols);
    ASSERT_EQ(image.rows(), upright.rows);
    EXPECT_EQ(maxDifference(image.scaled({image.cols(), image.rows()}), upright), 0);

    // A rectangle reaching past the top left: only the part inside comes back.
    cv::Rect got;
    const cv::Mat part = image.region(cv::Rect(-3, 2, 12, 9), got);
    EXPECT_EQ(got, cv::Rect(0, 2, 9, 9));
    EXPECT_EQ(maxDifference(part, upright(got)), 0);
    EXPECT_TRUE(image.region(cv::Rect(100, 100, 5, 5), got).empty());

    // A turned, scaled, mirrored crop reaching outside the picture, as the
    // landmark models read it: the same as warping the whole picture.
    const double a = 0.8, b = 0.5;
    const std::array<double, 6> m{-a, b, 20, -b, -a, 30};
    cv::Mat expected;
    cv::warpAffine(upright, expected, cv::Mat(2, 3, CV_64F, const_cast<double*>(m.data())), cv::Size(24, 24),
                   cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar::all(0));
    EXPECT_LE(maxDifference(image.affineCrop(m, 24), expected), 1);

    // The letterbox: the picture scaled into the middle of a black square.
    const Letterbox box = Letterbox::fit(image.cols(), image.rows(), 16);
    const cv::Mat square = image.letterbox(box);
    cv::Mat inner;
    cv::resize(upright, inner, cv::Size(box.innerWidth, box.innerHeight), 0, 0, cv::INTER_AREA);
    const cv::Rect at(box.offsetX, box.offsetY, box.innerWidth, box.innerHeight);
    EXPECT_LE(maxDifference(square(at), inner), 1);
    EXPECT_EQ(cv::countNonZero(square.reshape(1)) , cv::countNonZero(square(at).clone().reshape(1)));
  }
}

TEST(ModelImage, SquaresReachingOutsideAreBlackThere) {
  cv::Mat bgra(40, 60, CV_8UC4, cv::Scalar(10, 20, 30, 255));
  const Picture picture{bgra.data, bgra.cols, bgra.rows, static_cast<int64_t>(bgra.step)};
  BgraPixels pixels(picture);
  ModelImage image(pixels, 1);
  // 50 picture pixels from (30, 10) at full resolution: the right 20 columns
  // and the bottom 20 rows lie outside.
  const cv::Mat same = image.square(cv::Rect(30, 10, 50, 50), 50);
  EXPECT_EQ(same.at<cv::Vec3b>(0, 0), cv::Vec3b(10, 20, 30));
  EXPECT_EQ(same.at<cv::Vec3b>(29, 29), cv::Vec3b(10, 20, 30));
  EXPECT_EQ(same.at<cv::Vec3b>(0, 30), cv::Vec3b(0, 0, 0));
  EXPECT_EQ(same.at<cv::Vec3b>(30, 0), cv::Vec3b(0, 0, 0));
  // Halved: the picture's part covers the top left 15 x 15.
  const cv::Mat half = image.square(cv::Rect(30, 10, 50, 50), 25);
  EXPECT_EQ(half.at<cv::Vec3b>(14, 14), cv::Vec3b(10, 20, 30));
  EXPECT_EQ(half.at<cv::Vec3b>(15, 15), cv::Vec3b(0, 0, 0));
}
