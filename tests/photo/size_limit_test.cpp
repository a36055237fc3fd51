// The size limit rule and the size bounds of the photo mode.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "probe/photo/size_limit.h"

using namespace kestrel;

TEST(SizeLimit, ScalesDownToNButNeverUp) {
  EXPECT_EQ(sizeLimit(4000, 3000, 1024), 1024);
  EXPECT_EQ(sizeLimit(3000, 4000, 1024), 1024);  // the longer side decides, whichever it is
  EXPECT_EQ(sizeLimit(300, 200, 1024), 300);
  EXPECT_EQ(sizeLimit(200, 300, 1024), 300);
  EXPECT_EQ(sizeLimit(1024, 10, 1024), 1024);  // exactly n: n
  EXPECT_EQ(sizeLimit(300, 200, std::numeric_limits<int64_t>::max()), 300);
}

TEST(SizeLimit, UnknownSizeGivesN) {
  EXPECT_EQ(sizeLimit(0, 0, 1024), 1024);
  EXPECT_EQ(sizeLimit(0, 500, 1024), 500);  // one known side is still the longer one
}

TEST(SizeBounds, CountsPixelsWithoutOverflow) {
  EXPECT_FALSE(exceeds(10000, 10000, 100'000'000));
  EXPECT_TRUE(exceeds(10001, 10000, 100'000'000));
  EXPECT_FALSE(exceeds(0, std::numeric_limits<int64_t>::max(), 1));
  const int64_t big = int64_t(1) << 40;  // big x big wraps around in 64 bits
  EXPECT_TRUE(exceeds(big, big, kMaxSourcePixels));
  EXPECT_TRUE(exceeds(-1, 10, kMaxSourcePixels));
}
