// CenterNet decoding and the class list on plain data.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "platform/vision/dnn/coco_classes.h"
#include "platform/vision/dnn/object_decoding.h"

using namespace kestrel::vision;
using namespace kestrel::vision::dnn;

namespace {

// Two classes on a 6x6 grid of 4-pixel cells: a 24-pixel model input.
struct Grid {
  std::vector<float> heat = std::vector<float>(2 * 36, 0.0f);
  std::vector<float> dist = std::vector<float>(4 * 36, 2.0f);
  float& at(int c, int y, int x) { return heat[c * 36 + y * 6 + x]; }
  void distances(int y, int x, float l, float t, float r, float b) {
    const float v[4] = {l, t, r, b};
    for (int k = 0; k < 4; ++k) dist[k * 36 + y * 6 + x] = v[k];
  }
  HeatMaps maps() { return {heat.data(), dist.data(), 2, 6, 6, 4}; }
};

}  // namespace

TEST(HeatMapPeaks, LocalMaximaAboveTheFloorWithTheirBoxes) {
  Grid g;
  g.at(1, 2, 3) = 0.8f;
  g.at(1, 2, 4) = 0.6f;  // a shoulder of the same peak, not a peak
  g.at(1, 5, 0) = 0.4f;  // a peak in the corner (neighbours off the grid)
  g.at(0, 2, 3) = 0.2f;  // below the floor
  g.distances(2, 3, 4, 8, 2, 4);
  const Letterbox square = Letterbox::fit(24, 24, 24);  // picture pixels = input pixels
  auto peaks = heatMapPeaks(g.maps(), square, 0.3f);
  ASSERT_EQ(peaks.size(), 2u);
  EXPECT_EQ(peaks[0].cls, 1);
  EXPECT_FLOAT_EQ(peaks[0].score, 0.8f);
  // The cell at (x 3, y 2) sits at input pixel (12, 8).
  EXPECT_DOUBLE_EQ(peaks[0].box.x0, 8);
  EXPECT_DOUBLE_EQ(peaks[0].box.y0, 0);
  EXPECT_DOUBLE_EQ(peaks[0].box.x1, 14);
  EXPECT_DOUBLE_EQ(peaks[0].box.y1, 12);
  EXPECT_FLOAT_EQ(peaks[1].score, 0.4f);
}

TEST(HeatMapPeaks, BoxesGoBackThroughTheLetterboxAndAreClampedToThePicture) {
  Grid g;
  g.at(0, 3, 3) = 0.9f;
  g.distances(3, 3, 30, 30, 6, 2);  // far past the left and top edges
  // A 48x24 picture in the 24-pixel square: scale 2, 6 pixels of padding above.
  const Letterbox wide = Letterbox::fit(48, 24, 24);
  auto peaks = heatMapPeaks(g.maps(), wide, 0.5f);
  ASSERT_EQ(peaks.size(), 1u);
  EXPECT_DOUBLE_EQ(peaks[0].box.x0, 0);
  EXPECT_DOUBLE_EQ(peaks[0].box.y0, 0);
  EXPECT_DOUBLE_EQ(peaks[0].box.x1, 36);          // (12 + 6) * 2
  EXPECT_DOUBLE_EQ(peaks[0].box.y1, (14 - 6) * 2);  // (12 + 2 - 6) * 2
  // A box entirely in the padding is dropped.
  g.distances(3, 3, 1, 12, 1, -8);
  EXPECT_TRUE(heatMapPeaks(g.maps(), wide, 0.5f).empty());
}

TEST(HeatMapPeaks, ClassMaximaAreImageLevelScores) {
  Grid g;
  g.at(0, 0, 0) = 0.25f;
  g.at(1, 4, 4) = 0.75f;
  g.at(1, 1, 1) = 0.5f;
  EXPECT_EQ(classMaxima(g.maps()), (std::vector<float>{0.25f, 0.75f}));
}

namespace {

Detection det(int cls, float score, Corners box) { return {cls, score, box}; }

}  // namespace

TEST(Suppression, PerClassOnlyAndStrongestFirst) {
  auto kept = suppressPerClass({det(1, 0.4f, {0, 0, 10, 10}), det(1, 0.6f, {1, 0, 11, 10}),
                                det(2, 0.5f, {0, 0, 10, 10}), det(1, 0.3f, {50, 50, 60, 60})},
                               0.5);
  ASSERT_EQ(kept.size(), 3u);
  EXPECT_FLOAT_EQ(kept[0].score, 0.6f);
  EXPECT_EQ(kept[1].cls, 2);  // another class at the same place survives
  EXPECT_FLOAT_EQ(kept[2].score, 0.3f);
}

TEST(AnimalGroups, ClassesOnOneAnimalBecomeItsLabels) {
  auto groups = groupAnimals({det(16, 0.27f, {0, 0, 100, 100}),   // dog on the cat
                              det(15, 0.53f, {1, 0, 100, 100}),   // cat
                              det(15, 0.20f, {2, 2, 100, 100}),   // a weaker cat peak
                              det(16, 0.40f, {200, 0, 300, 100})}, // another dog
                             0.7);
  ASSERT_EQ(groups.size(), 2u);
  ASSERT_EQ(groups[0].size(), 2u);
  EXPECT_EQ(groups[0][0].cls, 15);
  EXPECT_EQ(groups[0][1].cls, 16);
  ASSERT_EQ(groups[1].size(), 1u);
  EXPECT_DOUBLE_EQ(groups[1][0].box.x0, 200);
}

TEST(CocoClasses, TheUsedIdsOfOpenCvsListInLowerCaseWithUnderscores) {
  // opencv-doc numbers the 90 COCO ids; these ten are unused by the 80 classes.
  const std::set<std::string> unused = {"street sign", "hat",    "shoe", "eye glasses", "plate",
                                        "mirror",      "window", "desk", "door",        "blender"};
  std::ifstream in("/usr/share/doc/opencv-doc/examples/data/dnn/object_detection_classes_coco.txt");
  ASSERT_TRUE(in) << "opencv-doc is not installed";
  std::vector<std::string> expected;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || unused.count(line)) continue;
    for (char& ch : line) ch = ch == ' ' ? '_' : static_cast<char>(std::tolower(ch));
    expected.push_back(line);
  }
  ASSERT_EQ(expected.size(), 80u);
  const auto& names = cocoIdentifiers();
  for (size_t i = 0; i < 80; ++i) EXPECT_EQ(names[i], expected[i]) << i;
  EXPECT_EQ(cocoAnimal(15), "Cat");
  EXPECT_EQ(cocoAnimal(16), "Dog");
  EXPECT_EQ(cocoAnimal(14), "Bird");
  EXPECT_EQ(cocoAnimal(23), "Giraffe");
  EXPECT_FALSE(cocoAnimal(13));  // bench
  EXPECT_FALSE(cocoAnimal(24));  // backpack
  EXPECT_FALSE(cocoAnimal(kCocoPerson));
}
