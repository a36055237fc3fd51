// A video's bytes in memory read exactly as its file is: the entry the fuzz
// target uses must not be a reader of its own.
#include <gtest/gtest.h>

#include <cstring>
#include <span>

#include "platform/media/video_source.h"
#include "tests/support/clips.h"
#include "tests/support/scratch.h"

using namespace kestrel::test;
using namespace kestrel::media;

namespace {

struct Decoded {
  OpenStatus status = OpenStatus::CantOpen;
  std::string error;
  int64_t width = 0, height = 0;
  std::vector<int64_t> times;
  std::vector<std::vector<uint8_t>> pixels;  // packed BGRA rows
  bool failed = false;
};

Decoded decode(OpenResult opened) {
  Decoded d{opened.status, opened.error};
  if (!opened.source) return d;
  d.width = opened.source->track().width;
  d.height = opened.source->track().height;
  FrameConverter converter;
  while (opened.source->next()) {
    d.times.push_back(opened.source->time().value);
    const kestrel::Picture p = converter.bgra(opened.source->frame());
    std::vector<uint8_t> rows;
    for (int64_t y = 0; p.data && y < p.height; ++y)
      rows.insert(rows.end(), p.data + y * p.stride, p.data + y * p.stride + 4 * p.width);
    d.pixels.push_back(std::move(rows));
  }
  d.failed = opened.source->failed();
  return d;
}

std::span<const uint8_t> bytesOf(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

}  // namespace

TEST(VideoFromMemory, SameFramesAsTheFile) {
  Scratch s;
  // The index at the end of an MP4 makes the reader seek in the bytes.
  makeClip(s, "clip.mp4",
           "-f lavfi -i testsrc=size=64x48:rate=10 -frames:v 12 -c:v libx264 -pix_fmt yuv420p -bf 2");
  const std::string bytes = readFile(s.path("clip.mp4"));
  ASSERT_NE(bytes.find("moov"), std::string::npos);
  ASSERT_GT(bytes.find("moov"), bytes.find("mdat"));

  const Decoded file = decode(openVideo(s.path("clip.mp4")));
  const Decoded memory = decode(openVideo(bytesOf(bytes)));
  ASSERT_EQ(file.status, OpenStatus::Ok) << file.error;
  ASSERT_EQ(memory.status, OpenStatus::Ok) << memory.error;
  EXPECT_EQ(memory.width, 64);
  EXPECT_EQ(memory.height, 48);
  EXPECT_EQ(file.times.size(), 12u);
  EXPECT_EQ(memory.times, file.times);
  EXPECT_TRUE(memory.pixels == file.pixels);
  EXPECT_FALSE(memory.failed);

  // Cut short, empty or not media at all: the same outcome either way.
  for (const std::string& broken : {bytes.substr(0, bytes.size() / 2), std::string(), std::string(5000, 'x')}) {
    writeFile(s.path("broken.mp4"), broken);
    const Decoded fromFile = decode(openVideo(s.path("broken.mp4")));
    const Decoded fromMemory = decode(openVideo(bytesOf(broken)));
    EXPECT_EQ(fromMemory.status, fromFile.status) << broken.size() << " bytes";
    EXPECT_EQ(fromMemory.times, fromFile.times) << broken.size() << " bytes";
  }
}
