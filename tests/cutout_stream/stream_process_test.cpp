// The cutout and person streams as processes: framing, pieces, ends and sizes.
#include <gtest/gtest.h>

#include "tests/support/process.h"

using namespace kestrel::test;

namespace {

std::string frames(int64_t width, int64_t height, double count) {
  return std::string(static_cast<size_t>(4 * width * height * count), '\x40');
}

}  // namespace

TEST(StreamProcess, EmptyInputWritesNothing) {
  for (auto args : {std::vector<std::string>{"--cutout", "8", "6"},
                    std::vector<std::string>{"--person", "8", "6", "fast"}}) {
    auto r = runProbe(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
  }
}

TEST(StreamProcess, OneAndAHalfFramesGiveOneRecord) {
  auto r = runProbe({"--cutout", "16", "9"}, {.input = frames(16, 9, 1.5)});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.size(), 32u + 16 * 9);
  auto p = runProbe({"--person", "16", "9", "other"}, {.input = frames(16, 9, 1.5)});
  EXPECT_EQ(p.status, 0) << p.err;
  ASSERT_EQ(p.out.size(), 32u + 16 * 9);
  EXPECT_EQ(p.out.substr(0, 32), std::string(32, '\0'));
}

TEST(StreamProcess, FramesInOddPiecesAreReassembled) {
  auto whole = runProbe({"--cutout", "20", "10"}, {.input = frames(20, 10, 3)});
  auto pieces = runProbe({"--cutout", "20", "10"},
                         {.input = frames(20, 10, 3), .inputPieces = {1, 7, 333, 64, 5}});
  EXPECT_EQ(whole.status, 0) << whole.err;
  EXPECT_EQ(pieces.status, 0) << pieces.err;
  EXPECT_EQ(whole.out.size(), 3u * (32 + 200));
  EXPECT_EQ(pieces.out, whole.out);
}

TEST(StreamProcess, OnePixelFrames) {
  auto r = runProbe({"--cutout", "1", "1"}, {.input = std::string(4, '\x7f')});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.size(), 33u);
  auto p = runProbe({"--person", "1", "1", "accurate"}, {.input = std::string(8, '\x7f')});
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(p.out.size(), 66u);
}

TEST(StreamProcess, HugeSizesAreRefusedBeforeReading) {
  for (auto args : {std::vector<std::string>{"--cutout", "9223372036854775807", "2"},
                    std::vector<std::string>{"--cutout", "100000", "100000"},
                    std::vector<std::string>{"--person", "4611686018427387904", "4", "fast"}}) {
    auto r = runProbe(args, {.input = "abcd"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find("too large"), std::string::npos) << r.err;
  }
}
