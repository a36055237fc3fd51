// The faces and landmarks requests with the real models on photos that
// Debian packages ship (python3-skimage, opencv-doc).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "platform/vision/vision.h"
#include "probe/analysis/frame_record.h"
#include "tests/support/fixture_photos.h"

using namespace kestrel;
using namespace kestrel::vision;
using namespace kestrel::test;

namespace {


cv::Mat photo(const std::string& path) {
  cv::Mat bgr = cv::imread(path, cv::IMREAD_COLOR);
  if (bgr.empty()) ADD_FAILURE() << "can't read " << path;
  return bgr;
}

Results analyse(const cv::Mat& bgr, uint32_t orientation = 1, StreamSession* session = nullptr) {
  cv::Mat bgra;
  cv::cvtColor(bgr, bgra, cv::COLOR_BGR2BGRA);
  const Picture picture{bgra.data, bgra.cols, bgra.rows, static_cast<int64_t>(bgra.step)};
  auto handler = service().handler(picture, orientation);
  Requests r;
  r.faceRectangles = true;
  r.faceLandmarks = true;
  r.session = session;
  Results results;
  std::string error;
  EXPECT_TRUE(handler->perform(r, results, error)) << error;
  return results;
}

// The centre of a normalised rectangle in top-left pixel terms of a picture.
cv::Point2d centrePx(const Rect& r, const cv::Mat& m) {
  return {(r.x + r.width / 2) * m.cols, (1 - (r.y + r.height / 2)) * m.rows};
}

}  // namespace

TEST(FacesOnPhotos, AstronautHasOneFaceWithPupilsInHerEyes) {
  const cv::Mat bgr = photo(kAstronaut);
  const Results r = analyse(bgr);
  ASSERT_EQ(r.faces.size(), 1u);
  const cv::Point2d c = centrePx(r.faces[0].boundingBox, bgr);
  EXPECT_NEAR(c.x, 225, 20);  // her face, in the upper middle of the portrait
  EXPECT_NEAR(c.y, 127, 20);
  EXPECT_NEAR(r.faces[0].boundingBox.height * bgr.rows, 105, 25);
  EXPECT_GT(r.faces[0].confidence, 0.6f);
  ASSERT_TRUE(r.faces[0].yaw && r.faces[0].pitch);
  EXPECT_LT(std::abs(*r.faces[0].yaw), 0.2);  // she faces the camera

  ASSERT_EQ(r.landmarks.size(), 1u);
  ASSERT_TRUE(r.landmarks[0].landmarks);
  const FaceLandmarks& l = *r.landmarks[0].landmarks;
  ASSERT_TRUE(l.leftPupil && l.rightPupil && l.leftEye && l.rightEye);
  ASSERT_EQ(l.leftPupil->size(), 1u);
  EXPECT_GE(l.leftEye->size(), 3u);
  // The pupils sit in the upper half of the face box, her right eye on the picture's left.
  const Point left = l.leftPupil->front(), right = l.rightPupil->front();
  EXPECT_GT(left.y, 0.5);
  EXPECT_LT(left.y, 0.9);
  EXPECT_GT(right.y, 0.5);
  EXPECT_LT(right.x, 0.5);
  EXPECT_GT(left.x, 0.5);
  EXPECT_NEAR(left.y, right.y, 0.1);
  // Looking into the camera: the gaze is near the middle of both eyes.
  auto gaze = gazeOf(r.landmarks);
  ASSERT_TRUE(gaze);
  EXPECT_LT(std::abs((*gaze)[0]), 0.3);
  EXPECT_LT(std::abs((*gaze)[1]), 0.3);
}

TEST(FacesOnPhotos, MessiHasOneSmallFace) {
  const cv::Mat bgr = photo(kMessi);
  const Results r = analyse(bgr);
  ASSERT_EQ(r.faces.size(), 1u);
  const cv::Point2d c = centrePx(r.faces[0].boundingBox, bgr);
  EXPECT_NEAR(c.x, 240, 15);
  EXPECT_NEAR(c.y, 115, 15);
  EXPECT_LT(r.faces[0].boundingBox.height * bgr.rows, 50);
}

TEST(FacesOnPhotos, NoFacesOnTheCatOrTheCoffee) {
  for (const char* name : {kChelsea, kCoffee}) {
    const Results r = analyse(photo(name));
    EXPECT_TRUE(r.faces.empty()) << name;
    EXPECT_TRUE(r.landmarks.empty()) << name;
  }
}

TEST(FacesOnPhotos, MirroringFlipsYawAndKeepsPitch) {
  const cv::Mat bgr = photo(kMessi);  // his head is turned
  cv::Mat mirrored;
  cv::flip(bgr, mirrored, 1);
  const Results a = analyse(bgr), b = analyse(mirrored);
  ASSERT_EQ(a.faces.size(), 1u);
  ASSERT_EQ(b.faces.size(), 1u);
  ASSERT_TRUE(a.faces[0].yaw && b.faces[0].yaw && a.faces[0].pitch && b.faces[0].pitch);
  EXPECT_GT(std::abs(*a.faces[0].yaw), 0.2);
  EXPECT_LT(*a.faces[0].yaw * *b.faces[0].yaw, 0);
  EXPECT_NEAR(*a.faces[0].yaw, -*b.faces[0].yaw, 0.15);
  EXPECT_NEAR(*a.faces[0].pitch, *b.faces[0].pitch, 0.15);
  const Rect ra = a.faces[0].boundingBox, rb = b.faces[0].boundingBox;
  EXPECT_NEAR(ra.x + ra.width / 2, 1 - (rb.x + rb.width / 2), 0.02);
}

TEST(FacesOnPhotos, OrientationTurnsThePictureUprightFirst) {
  const cv::Mat bgr = photo(kAstronaut);
  const Results upright = analyse(bgr);
  ASSERT_EQ(upright.faces.size(), 1u);
  // Stored turned the other way; the orientation says how to turn it back.
  const std::pair<int, uint32_t> cases[] = {{cv::ROTATE_90_COUNTERCLOCKWISE, 6},
                                            {cv::ROTATE_180, 3},
                                            {cv::ROTATE_90_CLOCKWISE, 8}};
  for (auto [turn, orientation] : cases) {
    cv::Mat stored;
    cv::rotate(bgr, stored, turn);
    const Results r = analyse(stored, orientation);
    ASSERT_EQ(r.faces.size(), 1u) << orientation;
    const Rect a = upright.faces[0].boundingBox, b = r.faces[0].boundingBox;
    EXPECT_NEAR(a.x, b.x, 0.01) << orientation;
    EXPECT_NEAR(a.y, b.y, 0.01) << orientation;
    EXPECT_NEAR(a.width, b.width, 0.01) << orientation;
    EXPECT_NEAR(a.height, b.height, 0.01) << orientation;
  }
}

TEST(FacesOnPhotos, SmallFaceInAFullHdFrameIsFound) {
  // Her face, about 45 pixels high, on the coffee photo blown up to 1920x1080.
  const cv::Mat ast = photo(kAstronaut);
  cv::Mat frame;
  cv::resize(photo(kCoffee), frame, cv::Size(1920, 1080));
  const Results empty = analyse(frame);
  EXPECT_TRUE(empty.faces.empty());
  cv::Mat head;
  cv::resize(ast(cv::Rect(110, 40, 230, 220)), head, cv::Size(99, 94), 0, 0, cv::INTER_AREA);
  head.copyTo(frame(cv::Rect(1300, 700, head.cols, head.rows)));
  const Results r = analyse(frame);
  ASSERT_EQ(r.faces.size(), 1u);
  const cv::Point2d c = centrePx(r.faces[0].boundingBox, frame);
  EXPECT_NEAR(c.x, 1300 + 0.5 * 99, 15);
  EXPECT_NEAR(c.y, 700 + (127 - 40) * 94 / 220.0, 15);
}

TEST(FacesOnPhotos, InAStreamTilesLookOnlyWhereTheWholePictureShowsNoFace) {
  const cv::Mat ast = photo(kAstronaut);
  cv::Mat frame, head, near;
  cv::resize(photo(kCoffee), frame, cv::Size(1920, 1080));
  cv::resize(ast(cv::Rect(110, 40, 230, 220)), head, cv::Size(99, 94), 0, 0, cv::INTER_AREA);
  head.copyTo(frame(cv::Rect(1300, 700, head.cols, head.rows)));
  StreamSession session;
  // Only the small face: a stream's tiles still find it.
  EXPECT_EQ(analyse(frame, 1, &session).faces.size(), 1u);
  // Her face large at the left as well: a picture has both, a stream the
  // large one the whole picture shows.
  cv::resize(ast, near, cv::Size(900, 900), 0, 0, cv::INTER_AREA);
  near.copyTo(frame(cv::Rect(60, 90, near.cols, near.rows)));
  const Results picture = analyse(frame);
  EXPECT_TRUE(std::any_of(picture.faces.begin(), picture.faces.end(), [&](const FaceObservation& f) {
    return std::abs(centrePx(f.boundingBox, frame).x - (1300 + 0.5 * 99)) < 15;
  }));
  const Results streamed = analyse(frame, 1, &session);
  ASSERT_EQ(streamed.faces.size(), 1u);
  EXPECT_LT(centrePx(streamed.faces[0].boundingBox, frame).x, 960);
}
