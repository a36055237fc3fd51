// How well --cutout keeps the main person, on photos and a clip that Debian
// packages ship: how much of the person's matte the mask covers, what it
// takes from elsewhere, and how much it flickers. The frames go through
// kestrel-probe as a stream; the reference is the accurate person matte of
// the same frames, made in-process with a stream's session.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include <opencv2/imgproc.hpp>

#include "platform/vision/vision.h"
#include "tests/support/clips.h"
#include "tests/support/fixture_photos.h"
#include "tests/support/process.h"
#include "tests/support/scratch.h"

using namespace kestrel;
using namespace kestrel::test;

namespace {

constexpr int W = 640, H = 360;
constexpr int kFrames = 3;  // a still shot repeated: the matte's state settles

struct Shot {
  const char* path;
  double x0, x1;  // the columns the main person stands in, as shares of the frame
};
void PrintTo(const Shot& shot, std::ostream* os) { *os << shot.path; }

// A picture fitted into the frame and centred, as BGRA.
std::string frameOf(const std::string& path) {
  Scratch s;
  return readFile(makeClip(s, "f.bgra",
                           "-i '" + path +
                               "' -vf 'scale=640:360:force_original_aspect_ratio=decrease,"
                               "pad=640:360:(ow-iw)/2:(oh-ih)/2' -frames:v 1 -f rawvideo -pix_fmt bgra"));
}

struct Record {
  float header[8];
  cv::Mat mask;  // CV_8U
};

std::vector<Record> cutout(const std::string& frames, int width, int height) {
  auto run = runProbe({"--cutout", std::to_string(width), std::to_string(height)},
                      {.input = frames, .timeoutSeconds = 900});
  EXPECT_EQ(run.status, 0) << run.err;
  std::vector<Record> records;
  const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
  for (size_t at = 0; at + 32 + n <= run.out.size(); at += 32 + n) {
    Record r;
    std::memcpy(r.header, run.out.data() + at, 32);
    r.mask = cv::Mat(height, width, CV_8U);
    std::memcpy(r.mask.data, run.out.data() + at + 32, n);
    records.push_back(r);
  }
  return records;
}

// The accurate matte of the frame's last repeat, as the stream sees it.
cv::Mat referenceMatte(std::string& frame) {
  vision::StreamSession session;
  vision::Requests r;
  r.personSegmentation = true;
  r.session = &session;
  vision::Matte matte;
  for (int i = 0; i < kFrames; ++i) {
    auto handler = vision::service().handler(Picture{reinterpret_cast<const uint8_t*>(frame.data()), W, H, 4 * W}, 1);
    vision::Results results;
    std::string error;
    EXPECT_TRUE(handler->perform(r, results, error)) << error;
    if (results.persons.empty()) return {};
    matte = results.persons[0];
  }
  EXPECT_EQ(matte.width, W);
  return cv::Mat(H, W, CV_8U, matte.pixels.data()).clone();
}

// The main person in the matte: its largest piece within the person's
// columns and the pieces within a few pixels of it (a hand, a foot); not the
// matte's specks on a ball or a logo nearby.
cv::Mat mainPerson(const cv::Mat& matte, const Shot& shot) {
  cv::Mat person = matte >= 128;
  person.colRange(0, static_cast<int>(shot.x0 * W)).setTo(0);
  person.colRange(static_cast<int>(shot.x1 * W), W).setTo(0);
  cv::Mat ids, stats, centroids;
  const int n = cv::connectedComponentsWithStats(person, ids, stats, centroids, 8, CV_32S);
  int largest = 0;
  for (int c = 1; c < n; ++c)
    if (!largest || stats.at<int>(c, cv::CC_STAT_AREA) > stats.at<int>(largest, cv::CC_STAT_AREA)) largest = c;
  cv::Mat near;
  cv::dilate(ids == largest, near, cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(17, 17)));
  cv::Mat main = cv::Mat::zeros(person.size(), CV_8U);
  for (int c = 1; c < n; ++c)
    if (cv::countNonZero((ids == c) & near) > 0) main.setTo(255, ids == c);
  return main;
}

// Share of the pixels on different sides of 128 in two masks.
double flicker(const cv::Mat& a, const cv::Mat& b) {
  return static_cast<double>(cv::countNonZero((a >= 128) != (b >= 128))) / static_cast<double>(a.total());
}

class MainPerson : public testing::TestWithParam<Shot> {};

}  // namespace

TEST_P(MainPerson, IsKeptWholeAndAloneAndSteady) {
  const Shot& shot = GetParam();
  std::string frame = frameOf(shot.path);
  ASSERT_EQ(frame.size(), 4u * W * H);
  std::string frames;
  for (int i = 0; i < kFrames; ++i) frames += frame;
  const std::vector<Record> records = cutout(frames, W, H);
  ASSERT_EQ(records.size(), static_cast<size_t>(kFrames));
  const cv::Mat matte = referenceMatte(frame);
  ASSERT_FALSE(matte.empty());

  const Record& last = records.back();
  const cv::Mat person = mainPerson(matte, shot);
  const int personPixels = cv::countNonZero(person);
  ASSERT_GT(personPixels, W * H / 100);
  const cv::Mat kept = last.mask >= 128;
  const double coverage = static_cast<double>(cv::countNonZero(kept & person)) / personPixels;
  // Elsewhere: beyond a few pixels of the person's outline and outside the held box.
  cv::Mat near;
  cv::dilate(person, near, cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(13, 13)));
  const bool held = last.header[4] >= 0;
  if (held)
    near(cv::Rect(cv::Point(static_cast<int>(last.header[4] * W), static_cast<int>(last.header[5] * H)),
                  cv::Point(static_cast<int>(last.header[6] * W), static_cast<int>(last.header[7] * H))))
        .setTo(255);
  const double leak = static_cast<double>(cv::countNonZero(kept & ~near)) / (W * H);
  const double steady = flicker(records[kFrames - 2].mask, last.mask);
  std::printf("%s: coverage %.4f, leak %.4f, held %s, flicker %.4f\n", shot.path, coverage, leak,
              held ? "box" : "none", steady);
  EXPECT_GE(coverage, 0.95);
  EXPECT_LE(leak, 0.01);
  EXPECT_LE(steady, 0.02);
}

INSTANTIATE_TEST_SUITE_P(
    DebianPhotos, MainPerson,
    testing::Values(Shot{kAstronaut, 0, 1},
                    Shot{kCamera, 0, 1},
                    Shot{kPerson, 0.3, 0.5},
                    Shot{kMessi, 0, 1},
                    // Two people; the one facing the camera is the main one.
                    Shot{kBasketball1, 0, 0.45},
                    Shot{kBasketball2, 0, 0.45}),
    [](const testing::TestParamInfo<Shot>& info) {
      std::string name = std::strrchr(info.param.path, '/') + 1;
      name = name.substr(0, name.find('.'));
      return name;
    });

TEST(CutoutClip, AStillCameraGivesASteadyMask) {
  // The first frames of a street clip from a fixed camera: people walk slowly.
  constexpr int kWidth = 768, kHeight = 576, kClipFrames = 8;
  Scratch s;
  const std::string frames = makeClip(s, "clip.bgra",
                                      std::string("-i ") + kStreetClip + " -frames:v " +
                                          std::to_string(kClipFrames) + " -f rawvideo -pix_fmt bgra");
  const std::vector<Record> records = cutout(readFile(frames), kWidth, kHeight);
  ASSERT_EQ(records.size(), static_cast<size_t>(kClipFrames));
  double worst = 0;
  for (int i = 1; i < kClipFrames; ++i) worst = std::max(worst, flicker(records[i - 1].mask, records[i].mask));
  std::printf("vtest.avi: flicker at most %.4f over %d frames\n", worst, kClipFrames);
  EXPECT_LE(worst, 0.02);
}
