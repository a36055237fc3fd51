// What the programs leave on their outputs when standard output refuses
// bytes, when the analysis is killed, and when a path holds control
// characters.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/clips.h"
#include "tests/support/live_process.h"
#include "tests/support/process.h"
#include "tests/support/scratch.h"

using namespace kestrel::test;

namespace {

// The program with standard output on /dev/full, where every write fails
// with ENOSPC.
ProcessResult runIntoFullDisk(const std::vector<std::string>& args, const std::string& input) {
  std::vector<std::string> all{"/bin/sh", "-c", "exec \"$@\" >/dev/full", "sh"};
  all.insert(all.end(), args.begin(), args.end());
  return runProcess(all, {.input = input, .timeoutSeconds = 120});
}

// The program with standard output on a pipe whose reader has already gone,
// SIGPIPE ignored as many hosts leave it: every write fails with EPIPE.
ProcessResult runIntoGoneReader(const std::vector<std::string>& args, const std::string& input) {
  std::vector<std::string> all{"/usr/bin/python3", "-c",
                               "import os, signal, sys\n"
                               "r, w = os.pipe()\n"
                               "os.close(r)\n"
                               "os.dup2(w, 1)\n"
                               "signal.signal(signal.SIGPIPE, signal.SIG_IGN)\n"
                               "os.execv(sys.argv[1], sys.argv[1:])\n"};
  all.insert(all.end(), args.begin(), args.end());
  return runProcess(all, {.input = input, .timeoutSeconds = 120});
}

struct Mode {
  std::string name;
  std::vector<std::string> args;
  std::string input;
  int statusWhenReaderGone;  // 0, quietly, but the gate test's one answer fails as it always has
};

}  // namespace

TEST(Outputs, EveryModeFailsOnAFullOutputAndEndsQuietlyWhenTheReaderLeaves) {
  Scratch s;
  const std::string clip =
      makeClip(s, "clip.mp4", "-f lavfi -i testsrc=size=96x64:rate=5:duration=1 -pix_fmt yuv420p");
  const std::string picture = makeClip(s, "in.png", "-f lavfi -i testsrc=size=96x64 -frames:v 1");
  const std::string frames(2 * 4 * 16 * 12, '\x40');
  const std::string planes = std::string("\x06\0\0\0", 4) + std::string(3 * 16 * 12, '\x80');
  const std::vector<Mode> modes = {
      {"analysis", {KESTREL_PROBE, clip, "5"}, "", 0},
      {"photo", {KESTREL_PROBE, "--photo", picture, s.path("out.png"), "64"}, "", 0},
      {"audio inputs", {KESTREL_PROBE, "--audio-inputs"}, "", 0},
      {"cutout", {KESTREL_PROBE, "--cutout", "16", "12"}, frames, 0},
      {"person", {KESTREL_PROBE, "--person", "16", "12", "fast"}, frames, 0},
      {"gate test", {KESTREL_PROBE, "--gate-test", "16", "12"}, planes, 1},
      {"tone frame", {KESTREL_TONE, "frame", clip, "0.5", s.path("out.rgb")}, "", 0},
  };
  for (const Mode& m : modes) {
    const ProcessResult full = runIntoFullDisk(m.args, m.input);
    EXPECT_EQ(full.status, 1) << m.name << ": " << full.err;
    EXPECT_EQ(full.err, "can't write standard output: " + std::string(std::strerror(ENOSPC)) + "\n")
        << m.name;

    const ProcessResult gone = runIntoGoneReader(m.args, m.input);
    EXPECT_EQ(gone.status, m.statusWhenReaderGone) << m.name << ": " << gone.err;
    if (m.statusWhenReaderGone == 0) {
      EXPECT_EQ(gone.err, "") << m.name;
    } else {
      EXPECT_EQ(gone.err, "can't write standard output: " + std::string(std::strerror(EPIPE)) + "\n")
          << m.name;
    }
  }
}

// Killed in the middle of its run, the analysis leaves whole lines only.
TEST(Outputs, AnAnalysisEndedBySigtermLeavesWholeLines) {
  Scratch s;
  const std::string clip = makeClip(
      s, "long.mp4", "-f lavfi -i testsrc=size=320x240:rate=25:duration=30 -pix_fmt yuv420p");
  const std::string out = s.path("lines.jsonl");
  LiveProcess p({"/bin/sh", "-c", "exec \"$@\" >'" + out + "'", "sh", KESTREL_PROBE, clip, "25"},
                {});
  ASSERT_TRUE(p.started());
  // Past the first block of a 4096-byte buffer, well before the end.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
  struct stat st {};
  while ((::stat(out.c_str(), &st) != 0 || st.st_size <= 4096) &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_GT(st.st_size, 4096) << "no output within 90 s; " << p.err();
  ::kill(p.pid(), SIGTERM);
  ASSERT_TRUE(p.finish(30));
  EXPECT_EQ(p.status(), 128 + SIGTERM) << "the analysis ended before the signal came";

  const std::string text = readFile(out);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n') << "the last line is torn: ..." << text.substr(text.size() - 80);
  std::string log;
  EXPECT_TRUE(shell("/usr/bin/python3 -c 'import json, sys\n"
                    "for line in open(sys.argv[1]): json.loads(line)' '" + out + "'",
                    &log))
      << log;
  EXPECT_EQ(text.find("\"type\":\"done\""), std::string::npos);
}

// A path with control characters in it gives a failure of one line.
TEST(Outputs, ControlCharactersInAPathAreEscapedInTheMessage) {
  Scratch s;
  const std::string newline = s.path("a\nb.mp4");
  const ProcessResult video = runProbe({newline});
  EXPECT_EQ(video.status, 1);
  EXPECT_EQ(video.err, "can't read " + s.dir() + "/a\\nb.mp4\n");

  const ProcessResult photo = runProbe({"--photo", s.path("x\x01y\x7f.png"), s.path("o.png"), "8"});
  EXPECT_EQ(photo.status, 1);
  EXPECT_EQ(photo.err, "can't read the picture " + s.dir() + "/x\\x01y\\x7F.png\n");

  const ProcessResult tone =
      runProcess({KESTREL_TONE, "frame", s.path("c\r\td.mp4"), "1", s.path("o.rgb")});
  EXPECT_EQ(tone.status, 1);
  EXPECT_EQ(tone.err, "no picture in " + s.dir() + "/c\\r\\td.mp4\n");
}
