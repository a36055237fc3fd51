// Where the palm detector looks closely for the hands of people at room
// distance, on plain boxes.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/vision/dnn/hand_windows.h"

using namespace kestrel::vision::dnn;

namespace {

bool covers(const std::vector<Tile>& windows, const Corners& a) {
  for (const Tile& w : windows)
    if (a.x0 >= w.x && a.y0 >= w.y && a.x1 <= w.x + w.side && a.y1 <= w.y + w.side) return true;
  return false;
}

}  // namespace

TEST(HandWindows, APersonAtRoomDistanceIsSeenWhereTheirPalmsShowLargeEnough) {
  // A man 400 pixels high in a 640 x 480 frame (the whole view shows it at
  // 3.33 picture pixels per detector pixel): palms of about 19 pixels.
  const Corners man{30, 78, 170, 475};
  const double palm = palmSide(man);
  EXPECT_NEAR(palm, 19, 1);
  const auto windows = handWindows({man}, 640, 480, 192);
  ASSERT_FALSE(windows.empty());
  for (const Tile& w : windows) {
    EXPECT_NEAR(w.side / 192, std::max(palm / kPalmInView, kFinestWindow), 0.01);
    EXPECT_GE(w.x, 0);
    EXPECT_GE(w.y, 0);
    EXPECT_LE(w.x + w.side, 640);
    EXPECT_LE(w.y + w.side, 480);
  }
  // Every palm centred in his reach lies whole in a window; his feet are out
  // of reach and need none.
  const Corners reach = handReach(man);
  for (double y = reach.y0; y < reach.y1; y += 7)
    for (double x = reach.x0; x < reach.x1; x += 7) {
      if (x < 0 || y < 0) continue;
      EXPECT_TRUE(covers(windows, {x - palm / 2, y - palm / 2, x + palm / 2, y + palm / 2})) << x << "," << y;
      EXPECT_TRUE(inReach({man}, {x, y}));
    }
  EXPECT_FALSE(inReach({man}, {100, 470}));
  EXPECT_FALSE(inReach({man}, {300, 200}));
}

TEST(HandWindows, NoneForPeopleTooSmallAndTheFinestForSmallOnes) {
  // A crowd's far walker (palms of 8 pixels) and boxes of no area.
  EXPECT_TRUE(handWindows({{100, 100, 140, 220}, {50, 50, 50, 300}, {80, 90, 10, 20}}, 1920, 1080, 192).empty());
  // A small seated person at the picture's corner: windows at the finest
  // scale, kept inside the picture.
  const Corners seated{0, 280, 120, 480};
  const auto windows = handWindows({seated}, 640, 480, 192);
  ASSERT_FALSE(windows.empty());
  for (const Tile& w : windows) {
    EXPECT_EQ(w.side, std::floor(192 * kFinestWindow));
    EXPECT_GE(w.x, 0);
    EXPECT_LE(w.y + w.side, 480);
  }
}

TEST(HandWindows, TheMainPersonHoldsTheMainFaceElseIsTheLargest) {
  const std::vector<Corners> people{{0, 0, 100, 300}, {200, 0, 500, 400}, {50, 20, 120, 200}};
  EXPECT_EQ(mainPerson(people, PixelPoint{60, 40}).x0, 0);  // the larger of the two holding it
  EXPECT_EQ(mainPerson(people, PixelPoint{600, 40}).x0, 200);
  EXPECT_EQ(mainPerson(people, std::nullopt).x0, 200);
}
