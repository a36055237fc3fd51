// The front of kestrel-tone as a process: argument count, opening the video
// before the command word, and its messages.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/tone/tone_media.h"

using namespace kestrel::test;

namespace {

const char* USAGE =
    "usage: kestrel-tone lut <grid.mov> <N> <P> <out.cube> | frame <video> <seconds> <out.rgb>\n";

// A small clip every test of the front can open.
std::string clip(const Scratch& s) {
  return makeClip(s, "clip.mkv", "-f lavfi -i testsrc2=size=32x24:rate=5 -t 1 -c:v ffv1");
}

void expectFailure(const ProcessResult& r, const std::string& line) {
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, line + "\n");
  EXPECT_EQ(r.out, "");
}

}  // namespace

TEST(ToneFront, TooFewWordsGiveTheUsageBeforeAnyFileIsTouched) {
  Scratch s;
  const std::string out = s.path("out.rgb");
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"frame"}, {"frame", "/no/such.mov"}, {"frame", "/no/such.mov", "1"}, {"lut", "x", "2"}}) {
    ProcessResult r = runTone(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, USAGE);
  }
  EXPECT_FALSE(fileExists(out));
}

TEST(ToneFront, TheVideoIsCheckedBeforeTheCommandWord) {
  Scratch s;
  const std::string video = clip(s);
  const std::string audio =
      makeClip(s, "tone.m4a", "-f lavfi -i sine=frequency=440:duration=1 -c:a aac");
  std::string corrupt = s.path("corrupt.mp4");
  std::string noise;
  for (int i = 0; i < 50000; ++i) noise += static_cast<char>((i * 7919 + i / 13) & 0xff);
  writeFile(corrupt, noise);
  std::filesystem::create_directory(s.path("folder.mov"));

  for (const std::string& bad : {s.path("missing.mov"), audio, corrupt, s.path("folder.mov")}) {
    expectFailure(runTone({"frame", bad, "0", s.path("o.rgb")}), "no picture in " + bad);
    expectFailure(runTone({"nonsense", bad, "0", s.path("o.rgb")}), "no picture in " + bad);
  }
  for (const char* word : {"LUT", "Frame", "frames", ""})
    expectFailure(runTone({word, video, "0", s.path("o.rgb")}), std::string("unknown command ") + word);
  EXPECT_FALSE(fileExists(s.path("o.rgb")));
}

TEST(ToneFront, PathsArePlainFilesEvenWithProtocolLookingNames) {
  Scratch s;
  const std::string video = clip(s);
  std::filesystem::create_directory(s.path("file:x"));
  std::filesystem::copy_file(video, s.path("file:x/clip.mkv"));
  ProcessResult r = runProcess({KESTREL_TONE, "frame", "file:x/clip.mkv", "0", "out.rgb"},
                               {.cwd = s.dir()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "32 24\n");
  EXPECT_EQ(readFile(s.path("out.rgb")).size(), 32u * 24 * 3);
  expectFailure(runTone({"frame", "pipe:0", "0", s.path("o.rgb")}), "no picture in pipe:0");
}
