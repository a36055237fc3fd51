// The probe's front as a process: usage, failure framing, fall-through.
#include <gtest/gtest.h>

#include <unistd.h>

#include "platform/base/fail.h"
#include "tests/support/process.h"
#include "tests/support/scratch.h"

using namespace kestrel::test;

TEST(FrontProcess, NoArgumentsPrintsUsage) {
  auto r = runProbe({});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "usage: kestrel-probe <media path> [hz] | kestrel-probe --cutout <width> <height>\n");
}

TEST(FrontProcess, MissingFileNamesTheAbsolutePath) {
  Scratch s;
  auto r = runProbe({"missing.mp4"}, {.cwd = s.dir()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "can't read " + s.dir() + "/missing.mp4\n");
}

TEST(FrontProcess, ModeWordFallsThroughToVideo) {
  Scratch s;
  for (auto words : {std::vector<std::string>{"--record"},
                     std::vector<std::string>{"--cutout", "640", "0"},
                     std::vector<std::string>{"--photo", "a", "b", "0"}}) {
    auto r = runProbe(words, {.cwd = s.dir()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "can't read " + s.dir() + "/" + words[0] + "\n");
  }
}

TEST(FrontProcess, RateAboveTimescaleRangeIsRefused) {
  Scratch s;
  writeFile(s.path("clip.mp4"), "x");
  auto r = runProbe({s.path("clip.mp4"), "2147483648"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
  EXPECT_NE(r.err.find("2147483647"), std::string::npos);
}

TEST(FrontProcess, FailWritesTheMessageAndOneLineFeed) {
  EXPECT_EXIT(kestrel::fail("x"), ::testing::ExitedWithCode(1), "^x\n$");
}
