// The two frame streams driven in process: bytes in pieces from a scripted
// source, header and mask out to a collecting sink.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "probe/cutout/cutout_stream.h"
#include "probe/cutout/person_stream.h"
#include "tests/support/scripted_vision.h"

using namespace kestrel;
using namespace kestrel::test;

namespace {

// Hands out `bytes` in pieces of the given sizes (cycled); a zero piece is an
// interrupted read.
struct Pieces {
  std::vector<uint8_t> bytes;
  std::vector<size_t> sizes;
  size_t at = 0, turn = 0;
  ByteSource source() {
    return [this](uint8_t* dst, size_t want) -> ssize_t {
      const size_t piece = sizes[turn++ % sizes.size()];
      if (piece == 0 && at < bytes.size()) return errno = EINTR, -1;
      const size_t n = std::min({piece, want, bytes.size() - at});
      if (n > 0) std::memcpy(dst, bytes.data() + at, n);
      at += n;
      return static_cast<ssize_t>(n);
    };
  }
};

struct Collected {
  std::vector<uint8_t> bytes;
  size_t limit = SIZE_MAX;
  ByteSink sink() {
    return [this](const uint8_t* data, size_t n) {
      if (bytes.size() + n > limit) return false;
      bytes.insert(bytes.end(), data, data + n);
      return true;
    };
  }
};

std::vector<uint8_t> counting(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + 1);
  return v;
}

vision::Matte full(int64_t w, int64_t h) {
  return vision::Matte{w, h, std::vector<uint8_t>(static_cast<size_t>(w * h), 255)};
}

}  // namespace

TEST(CutoutStep, EveryWholeFrameInPiecesGetsOneAnswer) {
  constexpr int64_t W = 5, H = 3, frame = 4 * W * H;
  ScriptedService service;
  service.script.cutout.persons = {full(W, H)};
  CutoutStream stream = makeCutoutStream(W, H, true);
  Pieces in{counting(2 * frame + 17), {3, 0, 1, 11, 64}};
  Collected out;
  std::vector<uint8_t> pending;
  int frames = 0;
  while (cutoutStep(stream, pending, service, in.source(), out.sink())) {
    // The analysed frame is the frame read, row by row into the padded buffer.
    for (int64_t y = 0; y < H; ++y)
      EXPECT_EQ(std::memcmp(stream.frame.data() + y * stream.stride,
                            in.bytes.data() + frames * frame + y * 4 * W, 4 * W),
                0);
    ++frames;
  }
  EXPECT_EQ(frames, 2);
  EXPECT_EQ(in.at, in.bytes.size());  // the partial third frame was read, then dropped
  ASSERT_EQ(out.bytes.size(), 2u * (32 + W * H));
  // No face: -1 in the face fields; the person matte is the mask.
  EXPECT_EQ(std::vector<uint8_t>(out.bytes.begin(), out.bytes.begin() + 4),
            (std::vector<uint8_t>{0x00, 0x00, 0x80, 0xBF}));
  EXPECT_EQ(out.bytes[32], 255);
  EXPECT_EQ(service.log.handlers, 2);
}

TEST(PersonStep, ZeroHeaderMatteAndAReaderThatGoes) {
  constexpr int64_t W = 4, H = 2, frame = 4 * W * H;
  ScriptedService service;
  service.script.cutout.persons = {full(2, 1)};  // scaled up to the frame
  PersonStream stream = makePersonStream(W, H, vision::PersonQuality::Fast);
  Pieces in{counting(3 * frame), {frame}};
  Collected out;
  out.limit = 32 + W * H + 10;  // the reader goes during the second answer
  std::vector<uint8_t> pending;
  EXPECT_TRUE(personStep(stream, pending, service, in.source(), out.sink()));
  EXPECT_FALSE(personStep(stream, pending, service, in.source(), out.sink()));
  ASSERT_EQ(out.bytes.size(), 32u + W * H);
  EXPECT_EQ(std::vector<uint8_t>(out.bytes.begin(), out.bytes.begin() + 32), std::vector<uint8_t>(32, 0));
  EXPECT_EQ(std::vector<uint8_t>(out.bytes.begin() + 32, out.bytes.end()), std::vector<uint8_t>(W * H, 255));
}

TEST(PersonStep, NoMatteGivesAnEmptyMaskAndNoInputNoAnswer) {
  ScriptedService service;
  PersonStream stream = makePersonStream(2, 2, vision::PersonQuality::Balanced);
  std::fill(stream.mask.begin(), stream.mask.end(), 9);
  Pieces in{counting(16 + 5), {7}};
  Collected out;
  std::vector<uint8_t> pending;
  EXPECT_TRUE(personStep(stream, pending, service, in.source(), out.sink()));
  EXPECT_FALSE(personStep(stream, pending, service, in.source(), out.sink()));
  EXPECT_EQ(out.bytes, std::vector<uint8_t>(32 + 4, 0));
}
