// Hands of people at room distance, against hands marked by hand on photos
// and clip frames that Debian packages ship (hands/*.txt), with the people
// asked for beside them as the video analysis asks; and no hands where no
// one shows them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/clips.h"
#include "tests/vision_objects/photos.h"

using namespace kestrel;
using namespace kestrel::test;

namespace {

struct Box {
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  bool holds(double x, double y) const { return x >= x0 && x <= x1 && y >= y0 && y <= y1; }
};

struct Marked {
  std::string name, photo, clip;
  int frame = 0, width = 0, height = 0;
  std::vector<Box> hands;
};

Marked readMarks(const std::filesystem::path& file) {
  Marked m;
  m.name = file.stem().string();
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string key;
    words >> key;
    if (key == "photo") words >> m.photo;
    if (key == "clip") words >> m.clip >> m.frame;
    if (key == "size") words >> m.width >> m.height;
    if (key == "hand") {
      Box b;
      words >> b.x0 >> b.y0 >> b.x1 >> b.y1;
      m.hands.push_back(b);
    }
  }
  return m;
}

cv::Mat pictureOf(const Marked& m) {
  if (!m.photo.empty()) return loadBgra(m.photo);
  Scratch s;
  return loadBgra(makeClip(s, "frame.png",
                           "-i '" + m.clip + "' -vf 'select=eq(n\\," + std::to_string(m.frame) + ")' -frames:v 1"));
}

// People and hands, as the video analysis asks for them, with room for every
// marked hand of a photo.
std::vector<Box> foundHands(const cv::Mat& bgra) {
  vision::Requests r;
  r.humanRectangles = true;
  r.handPose = true;
  r.maximumHandCount = 4;
  std::vector<Box> found;
  for (const auto& hand : analyse(bgra, r).hands) {
    Box b{1e9, 1e9, -1e9, -1e9};
    for (const auto& j : *hand.joints) {
      if (!(j.confidence > 0.3f)) continue;
      const double x = j.location.x * bgra.cols, y = (1 - j.location.y) * bgra.rows;
      b = {std::min(b.x0, x), std::min(b.y0, y), std::max(b.x1, x), std::max(b.y1, y)};
    }
    if (b.x0 <= b.x1) found.push_back(b);
  }
  return found;
}

}  // namespace

TEST(HandsAtRoomDistance, MostMarkedHandsFoundAndFewFalseOnes) {
  int marked = 0, hits = 0, falseHands = 0;
  for (const auto& file : std::filesystem::directory_iterator(KESTREL_SOURCE_DIR "/tests/vision_objects/hands")) {
    const Marked m = readMarks(file.path());
    const cv::Mat picture = pictureOf(m);
    ASSERT_EQ(picture.cols, m.width) << m.name;
    ASSERT_EQ(picture.rows, m.height) << m.name;
    const std::vector<Box> found = foundHands(picture);
    int h = 0, f = 0;
    for (const Box& hand : m.hands)
      h += std::any_of(found.begin(), found.end(),
                       [&](const Box& b) { return hand.holds((b.x0 + b.x1) / 2, (b.y0 + b.y1) / 2); });
    for (const Box& b : found)
      f += std::none_of(m.hands.begin(), m.hands.end(),
                        [&](const Box& hand) { return hand.holds((b.x0 + b.x1) / 2, (b.y0 + b.y1) / 2); });
    std::printf("%-14s marked %zu found %d false %d\n", m.name.c_str(), m.hands.size(), h, f);
    marked += static_cast<int>(m.hands.size()), hits += h, falseHands += f;
  }
  // Seven in ten found (12 of 16 today: the gloved hand, one of the dim
  // hands resting on knees, a hand round a bottle and a hand half hidden are
  // missed).
  EXPECT_GE(marked, 12);
  EXPECT_GE(10 * hits, 7 * marked) << hits << " of " << marked;
  EXPECT_LE(falseHands, marked / 5);
}

TEST(HandsAtRoomDistance, AtMostOneFalseHandInTenPhotosWithoutHands) {
  const char* photos[] = {kChelsea, kCoffee, kLeuven, kRocket, kDog, kSquirrel, kFruits, kAstronaut,
                          "/usr/share/darknet/data/horses.jpg", "/usr/share/darknet/data/giraffe.jpg"};
  size_t falseHands = 0;
  for (const char* photo : photos) {
    const cv::Mat picture = loadBgra(photo);
    ASSERT_FALSE(picture.empty()) << photo;
    const size_t n = foundHands(picture).size();
    if (n) std::printf("%s: %zu false hands\n", photo, n);
    falseHands += n;
  }
  EXPECT_LE(falseHands, 1u);
}
