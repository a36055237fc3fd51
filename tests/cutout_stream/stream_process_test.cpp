// The cutout and person streams as processes: framing, pieces, ends and sizes.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/support/live_process.h"
#include "tests/support/process.h"

using namespace kestrel::test;

namespace {

std::string frames(int64_t width, int64_t height, double count) {
  return std::string(static_cast<size_t>(4 * width * height * count), '\x40');
}

void pause(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

const std::vector<std::vector<std::string>> STREAMS = {{"--cutout", "32", "24"},
                                                       {"--person", "32", "24", "fast"}};

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

// A parent that stalls for seconds between the pieces of a frame gets its
// answer once the frame is whole; one that ends its input halfway through
// the next frame gets nothing more, and the stream ends cleanly.
TEST(StreamProcess, StallsBetweenPiecesAndAnInputEndingMidFrame) {
  const size_t frame = 4 * 32 * 24, answer = 32 + 32 * 24;
  for (const auto& args : STREAMS) {
    std::vector<std::string> all{KESTREL_PROBE};
    all.insert(all.end(), args.begin(), args.end());
    LiveProcess p(all, {});
    ASSERT_TRUE(p.started());
    const std::string bytes = frames(32, 24, 1.5);
    ASSERT_TRUE(p.send(bytes.substr(0, 1000)));
    pause(2);
    ASSERT_TRUE(p.send(bytes.substr(1000, frame - 1000)));
    EXPECT_TRUE(p.gatherUntil(answer, 60)) << args[0] << " did not answer a whole frame; " << p.err();
    pause(1.5);
    ASSERT_TRUE(p.send(bytes.substr(frame)));
    pause(1.5);
    p.closeInput();
    ASSERT_TRUE(p.finish(30)) << args[0];
    EXPECT_EQ(p.status(), 0) << args[0] << ": " << p.err();
    EXPECT_EQ(p.err(), "");
    EXPECT_EQ(p.out().size(), answer) << args[0];
  }
}

// A reader that goes away while a frame's answer is being written ends the
// stream with status 0 and no message, even with more frames still coming.
TEST(StreamProcess, ReaderLeavingInTheMiddleOfAnAnswer) {
  for (const std::string mode : {"--cutout", "--person"}) {
    // A mask four times what a pipe holds, so the answer is cut inside it.
    std::vector<std::string> all{KESTREL_PROBE, mode, "640", "400"};
    if (mode == "--person") all.push_back("fast");
    LiveProcess p(all, {});
    ASSERT_TRUE(p.started());
    const std::string frame = frames(640, 400, 1);
    ASSERT_TRUE(p.send(frame));
    ASSERT_TRUE(p.gatherUntil(1000, 60)) << mode << ": " << p.err();
    ASSERT_LT(p.out().size(), 32u + 640 * 400);
    p.closeOutput();
    p.send(frame, 5);  // it may already have gone
    ASSERT_TRUE(p.finish(60)) << mode << " kept running after its reader left";
    EXPECT_EQ(p.status(), 0) << mode;
    EXPECT_EQ(p.err(), "") << mode;
  }
}
