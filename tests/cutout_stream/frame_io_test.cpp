#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <thread>

#include "probe/cutout/frame_io.h"
#include "probe/cutout/person_stream.h"

using namespace kestrel;

TEST(StreamSize, RefusesOverflowAndHugeFrames) {
  EXPECT_EQ(streamSize(1, 1)->frameBytes, 4);
  EXPECT_EQ(streamSize(640, 360)->pixels, 230400);
  EXPECT_EQ(streamSize(16384, 16384)->frameBytes, int64_t{16384} * 16384 * 4);
  EXPECT_FALSE(streamSize(16385, 16384));
  EXPECT_FALSE(streamSize(INT64_MAX, INT64_MAX));
  EXPECT_FALSE(streamSize(int64_t{1} << 62, 4));
}

TEST(FrameIo, HeaderIsLittleEndianFloats) {
  auto h = headerBytes(FrameHeader{{-1, 0.5f, 1, 0}, {0.25f, -1, 2, 0}});
  ASSERT_EQ(h.size(), 32u);
  EXPECT_EQ(std::vector<uint8_t>(h.begin(), h.begin() + 8),
            (std::vector<uint8_t>{0x00, 0x00, 0x80, 0xBF, 0x00, 0x00, 0x00, 0x3F}));
}

TEST(FrameIo, CopyRowsHonoursTheDestinationStride) {
  std::vector<uint8_t> src(2 * 3 * 4);
  for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i + 1);
  std::vector<uint8_t> dst(2 * 16, 0);
  copyRows(src.data(), 2, dst.data(), 16, 3);
  EXPECT_EQ(dst[0], 1);
  EXPECT_EQ(dst[11], 12);
  EXPECT_EQ(dst[12], 0);  // padding untouched
  EXPECT_EQ(dst[16], 13);
}

TEST(FrameIo, ReadsExactlyOneFrameFromPieces) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::thread writer([&] {
    const char bytes[] = "abcdefghij";  // one frame of 8 and 2 bytes of the next
    for (int i = 0; i < 10; i += 3) {
      (void)!write(fds[1], bytes + i, std::min(3, 10 - i));
      usleep(1000);
    }
    close(fds[1]);
  });
  std::vector<uint8_t> pending;
  ASSERT_TRUE(readFrame(fds[0], pending, 8));
  EXPECT_EQ(std::string(pending.begin(), pending.end()), "abcdefgh");
  pending.clear();
  EXPECT_FALSE(readFrame(fds[0], pending, 8));  // a partial frame, then the end
  EXPECT_EQ(std::string(pending.begin(), pending.end()), "ij");
  writer.join();
  close(fds[0]);
}

TEST(PersonQuality, ExactWords) {
  EXPECT_EQ(personQuality("fast"), vision::PersonQuality::Fast);
  EXPECT_EQ(personQuality("accurate"), vision::PersonQuality::Accurate);
  for (const char* w : {"Fast", "ACCURATE", "balanced", "", "fast "})
    EXPECT_EQ(personQuality(w), vision::PersonQuality::Balanced) << w;
}
