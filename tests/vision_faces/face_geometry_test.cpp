// Face detection decoding and face geometry on plain data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/vision/dnn/blazeface.h"
#include "platform/vision/dnn/face_geometry.h"
#include "platform/vision/dnn/service_coordinates.h"

using namespace kestrel::vision;
using namespace kestrel::vision::dnn;

namespace {

// Model outputs with every anchor silent but the given ones.
struct Outputs {
  std::vector<float> logits = std::vector<float>(kBlazefaceAnchors, -50.0f);
  std::vector<float> regressors = std::vector<float>(kBlazefaceAnchors * 16, 0.0f);
  void face(int anchor, float logit, float dx, float dy, float w, float h) {
    logits[anchor] = logit;
    float* r = &regressors[anchor * 16];
    r[0] = dx, r[1] = dy, r[2] = w, r[3] = h;
    for (int k = 0; k < 6; ++k) r[4 + 2 * k] = dx + k, r[5 + 2 * k] = dy - k;
  }
};

// The whole picture letterboxed into one square.
Tile wholePicture(int width, int height) {
  const double side = std::max(width, height);
  return {(width - side) / 2, (height - side) / 2, side};
}

}  // namespace

TEST(Blazeface, DecodesBoxesAndKeypointsIntoPicturePixels) {
  Outputs o;
  o.face(518, 3.0f, 4, -2, 20, 30);  // coarse anchor at (48, 16) model pixels
  o.face(7, 0.1f, 0, 0, 10, 10);     // score 0.52: above the threshold
  o.face(9, -0.1f, 0, 0, 10, 10);    // 0.48: below it
  const InputPlacement place{2.0, 2.0, 100, -50};  // a tile scaled by one half, moved
  auto found = decodeSsd<6>(o.logits.data(), o.regressors.data(), blazefaceAnchors(), kBlazefaceSize, place, 0.5f);
  ASSERT_EQ(found.size(), 2u);
  const FaceDetection& d = found[1].score > found[0].score ? found[1] : found[0];
  EXPECT_NEAR(d.score, 1 / (1 + std::exp(-3.0)), 1e-6);
  EXPECT_DOUBLE_EQ(d.x, (48 + 4 - 10) * 2.0 + 100);
  EXPECT_DOUBLE_EQ(d.y, (16 - 2 - 15) * 2.0 - 50);
  EXPECT_DOUBLE_EQ(d.width, 40);
  EXPECT_DOUBLE_EQ(d.height, 60);
  EXPECT_DOUBLE_EQ(d.keypoints[5].x, (48 + 4 + 5) * 2.0 + 100);
  EXPECT_DOUBLE_EQ(d.keypoints[5].y, (16 - 2 - 5) * 2.0 - 50);
}

TEST(Blazeface, HugeLogitsStayFinite) {
  Outputs o;
  o.face(3, 1e30f, 0, 0, 10, 10);
  o.logits[4] = -1e30f;
  auto found = decodeSsd<6>(o.logits.data(), o.regressors.data(), blazefaceAnchors(), kBlazefaceSize, {}, 0.5f);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_TRUE(std::isfinite(found[0].score));
  EXPECT_LE(found[0].score, 1.0f);
}

TEST(Blazeface, TilesCoverLargePicturesWithOverlapAndSkipSmallOnes) {
  EXPECT_TRUE(tilesFor(640, 480, 853, 107).empty());
  EXPECT_TRUE(tilesFor(1000, 1000, 853, 107).empty());
  auto tiles = tilesFor(1920, 1080, 853, 107);
  ASSERT_EQ(tiles.size(), 6u);  // three across, two down
  EXPECT_DOUBLE_EQ(tiles[0].x, 0);
  EXPECT_DOUBLE_EQ(tiles[2].x + tiles[2].side, 1920);
  EXPECT_DOUBLE_EQ(tiles[5].y + tiles[5].side, 1080);
  EXPECT_GE(tiles[0].x + tiles[0].side - tiles[1].x, 107);
  EXPECT_GE(tiles[0].y + tiles[0].side - tiles[3].y, 107);
  // a strip narrower than a tile is centred on it
  auto strip = tilesFor(3000, 400, 853, 107);
  ASSERT_FALSE(strip.empty());
  EXPECT_DOUBLE_EQ(strip[0].y, (400 - 853) / 2.0);
  const Tile whole = wholePicture(1920, 1080);
  EXPECT_DOUBLE_EQ(whole.side, 1920);
  EXPECT_DOUBLE_EQ(whole.y, -420);
}

TEST(Blazeface, HeadWindowsHoldEveryHeadOnceInsideThePicture) {
  // Standing people of a street scene in full HD: two small ones side by side,
  // one far to the right, one tall, one whose head is cut by the top edge.
  const std::vector<Corners> people = {{100, 500, 160, 700},  {170, 520, 230, 700},
                                       {1700, 400, 1760, 600}, {800, 100, 1100, 1000},
                                       {1500, -40, 1560, 150}, {10, 10, 5, 40}};  // the last is empty
  const auto windows = headWindows(people, 1920, 1080, 256, 64, 0, 1000);
  auto holds = [](const Tile& w, const Tile& r) {
    return r.x >= w.x && r.x + r.side <= w.x + w.side && std::max(r.y, 0.0) >= w.y &&
           r.y + r.side <= w.y + w.side;
  };
  for (size_t p = 0; p < 5; ++p) {
    const Tile head = headRegion(people[p]);
    EXPECT_TRUE(std::any_of(windows.begin(), windows.end(), [&](const Tile& w) { return holds(w, head); })) << p;
  }
  // The two neighbours share a window at full resolution; the tall person's
  // head (450 px) is seen at a quarter, in a window of its own.
  ASSERT_EQ(windows.size(), 4u);
  for (const Tile& w : windows) {
    EXPECT_GE(w.x, 0);
    EXPECT_GE(w.y, 0);
    EXPECT_LE(w.x + w.side, 1920);
    EXPECT_LE(w.y + w.side, 1080);
    EXPECT_EQ(w.side, w.side == 256 ? 256 : 1024);
  }
  // The head region sits on top of the box, across its middle.
  const Tile head = headRegion({100, 500, 160, 700});
  EXPECT_DOUBLE_EQ(head.side, 100);
  EXPECT_DOUBLE_EQ(head.x + head.side / 2, 130);
  EXPECT_DOUBLE_EQ(head.y, 490);
  // A picture smaller than a window: the window is centred on it.
  const auto small = headWindows({{20, 20, 60, 120}}, 200, 150, 256, 64, 0, 1000);
  ASSERT_EQ(small.size(), 1u);
  EXPECT_DOUBLE_EQ(small[0].x, -28);
  EXPECT_DOUBLE_EQ(small[0].y, -53);
  // Heads the coarser passes see well enough get no closer look: here the
  // tall person's (450 pixels), leaving three windows.
  EXPECT_EQ(headWindows(people, 1920, 1080, 256, 64, 0, 450).size(), 3u);
  EXPECT_TRUE(headWindows(people, 1920, 1080, 256, 64, 0, 90).empty());
  // Three heads of 150 px across 450 px are seen at half resolution, in one
  // window; a 40 px head beside them still gets a window at full resolution.
  const std::vector<Corners> group = {{600, 300, 750, 700}, {750, 300, 900, 700}, {900, 300, 1050, 700},
                                      {1000, 320, 1040, 400}};
  const auto shared = headWindows(group, 1920, 1080, 256, 64, 0, 1000);
  ASSERT_EQ(shared.size(), 2u);
  EXPECT_DOUBLE_EQ(shared[0].side, 512);
  EXPECT_DOUBLE_EQ(shared[1].side, 256);
  // Heads under the smallest size get no window.
  EXPECT_EQ(headWindows(group, 1920, 1080, 256, 64, 48, 1000).size(), 1u);
}

namespace {

// A mesh whose head axes are turned by yaw then pitch; only the points the
// angles use are placed.
std::vector<MeshPoint> turnedMesh(double yaw, double pitch, bool mirrored = false) {
  std::vector<MeshPoint> mesh(kMeshPoints, MeshPoint{});
  auto place = [&](int i, double x, double y, double z) {
    // camera frame: x right, y up, z toward the viewer; then to picture pixels
    const double x1 = x * std::cos(yaw) + z * std::sin(yaw), z1 = -x * std::sin(yaw) + z * std::cos(yaw);
    const double y2 = y * std::cos(pitch) + z1 * std::sin(pitch), z2 = -y * std::sin(pitch) + z1 * std::cos(pitch);
    mesh[i] = {(mirrored ? -x1 : x1) + 500, 300 - y2, -z2};
  };
  place(kMeshRightEyeOuter, -45, 30, -10);
  place(kMeshLeftEyeOuter, 45, 30, -10);
  place(kMeshChin, 0, -70, -5);
  place(kMeshForehead, 0, 70, -5);
  return mesh;
}

}  // namespace

TEST(FaceGeometry, HeadAnglesFollowTheMesh) {
  auto level = headAngles(turnedMesh(0, 0));
  ASSERT_TRUE(level);
  EXPECT_NEAR(level->yaw, 0, 1e-9);
  EXPECT_NEAR(level->pitch, 0, 1e-9);

  auto turned = headAngles(turnedMesh(0.5, 0));
  ASSERT_TRUE(turned);
  EXPECT_NEAR(turned->yaw, 0.5, 1e-9);  // toward the picture's right: positive
  EXPECT_NEAR(turned->pitch, 0, 1e-9);

  auto up = headAngles(turnedMesh(0, 0.3));
  ASSERT_TRUE(up);
  EXPECT_NEAR(up->pitch, 0.3, 1e-9);

  auto both = headAngles(turnedMesh(0.4, -0.2));
  ASSERT_TRUE(both);
  // the facing direction (sin 0.4, cos 0.4 sin -0.2, cos 0.4 cos -0.2) read back as angles
  EXPECT_NEAR(both->yaw, std::atan2(std::sin(0.4), std::cos(0.4) * std::cos(0.2)), 1e-9);
  EXPECT_NEAR(both->pitch, std::asin(std::cos(0.4) * std::sin(-0.2)), 1e-9);

  // eyes swapped: the mesh would face away from the camera, so no angles
  EXPECT_FALSE(headAngles(turnedMesh(0.1, 0, true)));
  EXPECT_FALSE(headAngles(std::vector<MeshPoint>(kMeshPoints)));  // all points together
  EXPECT_FALSE(headAngles(std::vector<MeshPoint>(10)));
}

TEST(FaceGeometry, LandmarksInTheBoxStartAtItsLowerLeft) {
  const Point top = normalisedInBox({150, 50}, 100, 50, 200, 100);
  EXPECT_DOUBLE_EQ(top.x, 0.25);
  EXPECT_DOUBLE_EQ(top.y, 1.0);  // the box's top row is y 1
  const Point bottom = normalisedInBox({300, 150}, 100, 50, 200, 100);
  EXPECT_DOUBLE_EQ(bottom.x, 1.0);
  EXPECT_DOUBLE_EQ(bottom.y, 0.0);
}
