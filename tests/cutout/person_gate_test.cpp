// personGate: the matte rendered into both maps in the caller's buffers, lined
// up with the mask, and the gate applied by them.
#include "probe/cutout/person_gate.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tests/support/gate_maps.h"

namespace kestrel {
namespace {

struct Buffers {
  int64_t width, height;
  std::vector<uint8_t> mask, instance, wide, person;
  std::vector<int32_t> ids;
  Buffers(int64_t w, int64_t h, uint8_t maskValue)
      : width(w),
        height(h),
        mask(static_cast<size_t>(w * h), maskValue),
        instance(mask),
        wide(mask.size(), 1),
        person(mask.size(), 1),
        ids(mask.size(), -1) {}
  int64_t gate(const vision::Matte& matte, double radius, int64_t chin = 0) {
    return personGate(test::gateMaps(width, height, mask.data(), instance.data(), wide.data(), person.data(), ids.data()),
                      matte, radius, chin);
  }
};

TEST(PersonGate, WidensThePersonByADiskAndGatesTheMaskByIt) {
  // A one-pixel person at (5, 3) in a 12 x 9 frame, matte at frame size.
  vision::Matte matte{12, 9, std::vector<uint8_t>(12 * 9, 0)};
  matte.pixels[3 * 12 + 5] = 255;
  Buffers b(12, 9, 255);
  const int64_t cut = b.gate(matte, 3.0);
  EXPECT_EQ(b.person, matte.pixels);
  int64_t inside = 0;
  for (int64_t y = 0; y < 9; ++y) {
    for (int64_t x = 0; x < 12; ++x) {
      const bool disk = (x - 5) * (x - 5) + (y - 3) * (y - 3) <= 9;
      inside += disk;
      const auto k = static_cast<size_t>(y * 12 + x);
      EXPECT_EQ(b.wide[k], disk ? 255 : 0) << x << "," << y;
      EXPECT_EQ(b.mask[k], disk ? 255 : 0) << x << "," << y;
    }
  }
  EXPECT_EQ(cut, 12 * 9 - inside);
}

TEST(PersonGate, SmallMatteCoversTheFrameTopRowFirst) {
  // Person in the upper half of a 2 x 2 matte; the frame is 8 x 8.
  const vision::Matte matte{2, 2, {255, 255, 0, 0}};
  Buffers b(8, 8, 255);
  b.gate(matte, 0, 8);  // chin below the frame: nothing is restored
  EXPECT_EQ(b.wide, b.person) << "radius 0 leaves the map as it is";
  for (int64_t x = 0; x < 8; ++x) {
    EXPECT_EQ(b.person[static_cast<size_t>(x)], 255);
    EXPECT_EQ(b.person[static_cast<size_t>(7 * 8 + x)], 0);
    EXPECT_EQ(b.mask[static_cast<size_t>(x)], 255);
    EXPECT_EQ(b.mask[static_cast<size_t>(7 * 8 + x)], 0);
  }
}

TEST(PersonGate, MissingOrShortMatteClosesTheGate) {
  for (const vision::Matte& matte :
       {vision::Matte{}, vision::Matte{4, 4, std::vector<uint8_t>(15, 255)},
        vision::Matte{int64_t{1} << 40, int64_t{1} << 40, std::vector<uint8_t>(16, 255)}}) {
    Buffers b(6, 5, 255);
    EXPECT_EQ(b.gate(matte, 12.0), 30);
    EXPECT_EQ(b.person, std::vector<uint8_t>(30, 0));
    EXPECT_EQ(b.wide, std::vector<uint8_t>(30, 0));
    EXPECT_EQ(b.mask, std::vector<uint8_t>(30, 0));
  }
}

}  // namespace
}  // namespace kestrel
