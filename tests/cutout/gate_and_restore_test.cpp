// gateAndRestore on small hand-drawn planes: the cap, the size floor, the
// region tests and the restore, each at its boundaries.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "probe/cutout/gate_and_restore.h"
#include "tests/support/gate_maps.h"

namespace kestrel {
namespace {

using Art = std::vector<std::string>;

// Drawn planes: '#' 255, 'o' 100 (a soft edge), '.' 0.
uint8_t value(char c) { return c == '#' ? 255 : c == 'o' ? 100 : 0; }
char symbol(uint8_t v) { return v == 255 ? '#' : v == 100 ? 'o' : v == 0 ? '.' : '?'; }

std::vector<uint8_t> plane(const Art& art) {
  std::vector<uint8_t> out;
  for (const auto& row : art)
    for (char c : row) out.push_back(value(c));
  return out;
}

Art draw(const std::vector<uint8_t>& bytes, int64_t width) {
  Art art;
  for (size_t i = 0; i < bytes.size(); i += static_cast<size_t>(width)) {
    std::string row;
    for (int64_t x = 0; x < width; ++x) row.push_back(symbol(bytes[i + static_cast<size_t>(x)]));
    art.push_back(row);
  }
  return art;
}

// One call on drawn planes; `mask` starts as a copy of the instance plane.
struct Drawn {
  int64_t width, height;
  std::vector<uint8_t> mask, instance, wide, person;
  std::vector<int32_t> ids;
  int64_t cut = 0;

  Drawn(const Art& instanceArt, const Art& personArt, const Art& gateArt)
      : width(static_cast<int64_t>(instanceArt[0].size())),
        height(static_cast<int64_t>(instanceArt.size())),
        mask(plane(instanceArt)),
        instance(mask),
        wide(plane(gateArt)),
        person(plane(personArt)),
        ids(mask.size(), 7) {}
  Drawn& go(int64_t chin) {
    cut = gateAndRestore(test::gateMaps(width, height, mask.data(), instance.data(), wide.data(), person.data(),
                                  ids.data()),
                         chin);
    return *this;
  }
  Art out() const { return draw(mask, width); }
};

Art filled(int64_t width, int64_t height, char c) {
  return Art(static_cast<size_t>(height), std::string(static_cast<size_t>(width), c));
}

TEST(GateAndRestore, CapsByEightTimesTheGateAndCountsOnlyForegroundTurnedBackground) {
  struct Case {
    uint8_t mask, gate, out;
    int64_t cut;
  };
  const Case cases[] = {
      {255, 15, 120, 1}, {128, 15, 120, 1}, {127, 15, 120, 0},  // below 16: cut
      {255, 16, 128, 0}, {130, 16, 128, 0},                      // 16 caps at exactly 128
      {255, 31, 248, 0}, {255, 32, 255, 0}, {200, 255, 200, 0},  // 32 and up never change it
      {120, 15, 120, 0}, {100, 15, 100, 0},                      // at or under the cap: kept
      {255, 0, 0, 1},    {0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    uint8_t mask = c.mask, gate = c.gate, person = 0;
    const uint8_t instance = c.mask;
    int32_t id = -1;
    EXPECT_EQ(gateAndRestore(test::gateMaps(1, 1, &mask, &instance, &gate, &person, &id), 0), c.cut)
        << int(c.mask) << " under " << int(c.gate);
    EXPECT_EQ(mask, c.out) << int(c.mask) << " under " << int(c.gate);
  }
}

TEST(GateAndRestore, SizeFloorDecidesWhetherRegionsAreLabelled) {
  struct Case {
    int64_t width, height, cutPixels;
    bool labelled;
  };
  const Case cases[] = {
      {1920, 1080, 2073, true},  {1920, 1080, 2072, false},  // floor 2073 at 1920 x 1080
      {37, 27, 0, true},                                     // 999 pixels: floor 0
      {40, 25, 0, false},        {40, 25, 1, true},          // 1000 pixels: floor 1
  };
  for (const Case& c : cases) {
    const auto n = static_cast<size_t>(c.width * c.height);
    std::vector<uint8_t> mask(n, 0), wide(n, 0), person(n, 0);
    std::fill(mask.begin(), mask.begin() + c.cutPixels, 255);
    const std::vector<uint8_t> instance = mask;
    std::vector<int32_t> ids(n, 7);
    const int64_t cut = gateAndRestore(
        test::gateMaps(c.width, c.height, mask.data(), instance.data(), wide.data(), person.data(), ids.data()), 0);
    EXPECT_EQ(cut, c.cutPixels);
    EXPECT_EQ(mask, std::vector<uint8_t>(n, 0)) << "no person, so nothing comes back";
    if (c.labelled) {
      EXPECT_EQ(ids[n - 1], -1) << c.width << "x" << c.height;
      if (c.cutPixels > 0) {
        EXPECT_EQ(ids[0], 0);
      }
    } else {
      EXPECT_EQ(ids, std::vector<int32_t>(n, 7)) << "untouched on early return";
    }
  }
}

TEST(GateAndRestore, RegionsBelowTheFloorAreNotRestoredInLargeFrames) {
  const int64_t width = 1920, height = 1080;
  const auto n = static_cast<size_t>(width * height);
  std::vector<uint8_t> mask(n, 0), wide(n, 0), person(n, 0);
  std::fill(person.begin(), person.begin() + width, 255);  // top at row 0 in every column
  const auto rect = [&](int64_t x0, int64_t y0, int64_t w, int64_t h) {
    for (int64_t y = y0; y < y0 + h; ++y)
      for (int64_t x = x0; x < x0 + w; ++x) mask[static_cast<size_t>(y * width + x)] = 255;
  };
  rect(0, 100, 691, 3);     // 2073 pixels: accepted
  rect(1000, 500, 259, 8);  // 2072 pixels: too small
  const std::vector<uint8_t> instance = mask;
  std::vector<int32_t> ids(n, -1);
  EXPECT_EQ(gateAndRestore(test::gateMaps(width, height, mask.data(), instance.data(), wide.data(), person.data(),
                                    ids.data()),
                           0),
            2073 + 2072);
  EXPECT_EQ(std::count(mask.begin(), mask.end(), 255), 2073);
  EXPECT_EQ(mask[static_cast<size_t>(102 * width + 690)], 255);
  EXPECT_EQ(mask[static_cast<size_t>(500 * width + 1000)], 0);
}

TEST(GateAndRestore, RegionMustStartAtOrBelowTheChin) {
  // The cut region covers rows 4 and 5; the person's top is row 0 everywhere.
  const Art instance = {"......", "......", "......", "......",
                        ".##...", ".##...", "......", "......"};
  const Art person = {"######", "......", "......", "......",
                      "......", "......", "......", "......"};
  struct Case {
    int64_t chin;
    bool restored;
  };
  const Case cases[] = {{4, true},  {5, false}, {3, true},  {0, true},
                        {-9, true}, {7, false}, {8, false}, {4294967295, false},
                        {std::numeric_limits<int64_t>::max(), false}};
  for (const Case& c : cases) {
    Drawn run(instance, person, filled(6, 8, '.'));
    run.go(c.chin);
    EXPECT_EQ(run.cut, 4);
    EXPECT_EQ(run.out(), c.restored ? instance : filled(6, 8, '.')) << "chin " << c.chin;
  }
}

TEST(GateAndRestore, AThirdOfTheRegionMustLieBelowThePersonsTop) {
  // A cut run of `length` pixels on row 3; in the columns listed the person's
  // top is at the given row (it must be strictly above row 3 to count).
  struct Case {
    int length;
    std::vector<std::pair<int, int>> tops;  // column, top row
    bool restored;
  };
  const Case cases[] = {
      {3, {{0, 2}}, true},                   // exactly a third
      {3, {{0, 3}}, false},                  // on the top row itself: not in front
      {3, {{0, 4}}, false},                  // person only below the region
      {3, {}, false},                        // no person in these columns
      {3, {{5, 0}}, false},                  // person in other columns only
      {6, {{0, 0}, {5, 1}}, true},           // 2 of 6
      {6, {{0, 0}}, false},                  // 1 of 6
      {7, {{0, 0}, {1, 0}}, false},          // 2 of 7
      {7, {{0, 0}, {1, 0}, {6, 2}}, true},   // 3 of 7
  };
  for (const Case& c : cases) {
    Art instance = filled(8, 6, '.'), person = filled(8, 6, '.');
    for (int x = 0; x < c.length; ++x) instance[3][static_cast<size_t>(x)] = '#';
    for (auto [column, top] : c.tops) {
      for (size_t y = static_cast<size_t>(top); y < 6; ++y)
        person[y][static_cast<size_t>(column)] = '#';
    }
    Drawn run(instance, person, filled(8, 6, '.'));
    run.go(0);
    EXPECT_EQ(run.out(), c.restored ? instance : filled(8, 6, '.'))
        << c.length << " pixels, " << c.tops.size() << " person columns";
  }
}

TEST(GateAndRestore, RegionsAreFourConnectedAndNumberedInScanOrder) {
  const Art instance = {"#..#..#...#",
                        ".#.#..#.#.#",
                        "...#..#...#",
                        "##....#####"};
  Drawn run(instance, filled(11, 4, '.'), filled(11, 4, '.'));
  run.go(0);
  const std::vector<int32_t> expected = {
      0,  -1, -1, 1,  -1, -1, 2,  -1, -1, -1, 2,   //
      -1, 3,  -1, 1,  -1, -1, 2,  -1, 4,  -1, 2,   //
      -1, -1, -1, 1,  -1, -1, 2,  -1, -1, -1, 2,   //
      5,  5,  -1, -1, -1, -1, 2,  2,  2,  2,  2};
  EXPECT_EQ(run.ids, expected);
  EXPECT_EQ(run.cut, 19);
}

// A cut 2 x 2 block with soft instance values around it at Chebyshev distances
// 1, 2 and 3; the person's top is row 0, so the block is in front.
TEST(GateAndRestore, RestoreReachesTwoPixelsOutIncludingSoftEdges) {
  for (int corner = 0; corner < 3; ++corner) {
    const int64_t size = 12;
    // Block at the middle, the top-left corner, or the bottom-right corner.
    const int64_t bx = corner == 0 ? 5 : corner == 1 ? 0 : size - 2;
    Art instance = filled(size, size, '.'), expected = filled(size, size, '.');
    for (int64_t y = 0; y < size; ++y) {
      for (int64_t x = 0; x < size; ++x) {
        const int64_t d = std::max({bx - x, x - (bx + 1), bx - y, y - (bx + 1), int64_t{0}});
        const char c = d == 0 ? '#' : d <= 3 ? 'o' : '.';
        instance[static_cast<size_t>(y)][static_cast<size_t>(x)] = c;
        expected[static_cast<size_t>(y)][static_cast<size_t>(x)] = d <= 2 ? c : '.';
      }
    }
    Art person = filled(size, size, '.');
    person[0] = std::string(static_cast<size_t>(size), '#');
    Drawn run(instance, person, filled(size, size, '.'));
    run.go(0);
    EXPECT_EQ(run.cut, 4) << "restoring does not lower the count";
    EXPECT_EQ(run.out(), expected) << "block at " << bx;
  }
}

TEST(GateAndRestore, RestoreNeverLowersAPixelAndLooksOnlyNearAcceptedRegions) {
  // Two accepted blocks far apart: soft pixels between them (columns 4 and 6)
  // are in the union box but not within 2 of either, the one in column 10 is.
  // Column 2 is near the left block but already above its instance value.
  Art instance = {"..............",
                  "##..o.o...o.##",
                  "##..........##",
                  ".............."};
  Art person = filled(14, 4, '.');
  person[0] = std::string(14, '#');
  Art gate = filled(14, 4, '.');
  gate[1][2] = '#';
  Drawn run(instance, person, gate);
  run.mask[14 + 2] = 200;  // gate 255 keeps it
  run.go(0);
  EXPECT_EQ(run.mask[14 + 2], 200);
  EXPECT_EQ(run.out(), (Art{"..............",
                            "##?.......o.##",
                            "##..........##",
                            ".............."}));
}

TEST(GateAndRestore, PixelsOfRejectedRegionsNearAnAcceptedOneComeBack) {
  // The right-hand pixel column is a separate region with no person above it,
  // but it lies within 2 of the accepted block.
  const Art instance = {"......", ".##.#.", ".##.#.", "......"};
  const Art person = {"###...", "......", "......", "......"};
  Drawn run(instance, person, filled(6, 4, '.'));
  run.go(0);
  EXPECT_EQ(run.ids[1 * 6 + 4], 1);
  EXPECT_EQ(run.out(), instance);
}

}  // namespace
}  // namespace kestrel
