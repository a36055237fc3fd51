// The largest decoded frame the readers take.
#include <gtest/gtest.h>

#include "platform/media/ffmpeg_decoding.h"

using namespace kestrel;

namespace {

std::optional<std::string> oversizedAt(int64_t w, int64_t h) {
  AVCodecParameters p{};
  p.width = static_cast<int>(w);
  p.height = static_cast<int>(h);
  return media::oversized(p);
}

}  // namespace

TEST(FrameBound, RefusesDeclaredSidesPast16384) {
  EXPECT_FALSE(oversizedAt(16384, 16384));
  EXPECT_EQ(oversizedAt(65535, 16),  // the limit is per side, not a pixel count
            "frames of 65535x16 pixels are too large (at most 16384x16384 pixels)");
  EXPECT_FALSE(oversizedAt(0, 0));         // unknown until decoded; the decoder's bound holds
  EXPECT_EQ(oversizedAt(16385, 16384),
            "frames of 16385x16384 pixels are too large (at most 16384x16384 pixels)");
  EXPECT_TRUE(oversizedAt(2147483647, 2));
  EXPECT_TRUE(oversizedAt(-1, 16));
}
