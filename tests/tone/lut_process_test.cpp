// "lut" as a process on grid videos the tests make.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>

#include "tests/tone/tone_media.h"

using namespace kestrel::test;

namespace {

struct Colour { uint8_t r, g, b; };

// The known colour of frame f, patch row j, column k.
Colour patchColour(int n, int f, int j, int k) {
  auto level = [n](int i, int salt) { return static_cast<uint8_t>((255 * i + salt * 17) / (n > 1 ? n - 1 : 1) % 256); };
  return {level(k, 0), level(j, 1), level(f, 2)};
}

// N frames of N x N flat patches of P pixels, on a frame a little larger than the grid.
std::string gridVideo(const Scratch& s, const std::string& name, int n, int p, int frames) {
  std::vector<Rgb> pictures;
  for (int f = 0; f < frames; ++f) {
    Rgb picture(n * p + 6, n * p + 4);
    picture.fill(0, 0, picture.width, picture.height, 255, 0, 255);
    for (int j = 0; j < n; ++j)
      for (int k = 0; k < n; ++k) {
        Colour c = patchColour(n, f % n, j, k);
        picture.fill(k * p, j * p, p, p, c.r, c.g, c.b);
      }
    pictures.push_back(picture);
  }
  return encode(s, name, pictures, "5", "-c:v ffv1");
}

}  // namespace

TEST(ToneLut, GridColoursComeBackWithinHalfPrecision) {
  Scratch s;
  for (auto [n, p] : {std::pair{2, 4}, std::pair{5, 8}}) {
    const std::string video = gridVideo(s, "grid" + std::to_string(n) + ".mkv", n, p, n);
    const std::string out = s.path("out.cube");
    ProcessResult r = runTone({"lut", video, std::to_string(n), std::to_string(p), out});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");

    const std::string text = readFile(out);
    ASSERT_EQ(text.back(), '\n');
    const auto l = lines(text);
    ASSERT_EQ(l.size(), static_cast<size_t>(n * n * n + 3));
    EXPECT_EQ(l[0], "LUT_3D_SIZE " + std::to_string(n));
    EXPECT_EQ(l[1], "DOMAIN_MIN 0 0 0");
    EXPECT_EQ(l[2], "DOMAIN_MAX 1 1 1");
    static const std::regex entry(R"(\d\.\d{6} \d\.\d{6} \d\.\d{6})");
    size_t line = 3;
    for (int f = 0; f < n; ++f)
      for (int j = 0; j < n; ++j)
        for (int k = 0; k < n; ++k, ++line) {
          ASSERT_TRUE(std::regex_match(l[line], entry)) << l[line];
          double r = 0, g = 0, b = 0;
          ASSERT_EQ(std::sscanf(l[line].c_str(), "%lf %lf %lf", &r, &g, &b), 3);
          const Colour c = patchColour(n, f, j, k);
          EXPECT_NEAR(r, c.r / 255.0, 0.002) << "frame " << f << " patch " << j << "," << k;
          EXPECT_NEAR(g, c.g / 255.0, 0.002) << "frame " << f << " patch " << j << "," << k;
          EXPECT_NEAR(b, c.b / 255.0, 0.002) << "frame " << f << " patch " << j << "," << k;
        }
  }
}

TEST(ToneLut, FrameCountMustEqualN) {
  Scratch s;
  const std::string out = s.path("out.cube");
  writeFile(out, "old table");
  ProcessResult r = runTone({"lut", gridVideo(s, "long.mkv", 2, 4, 3), "2", "4", out});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "read 3 of 2 frames: nil\n");
  r = runTone({"lut", gridVideo(s, "short.mkv", 3, 4, 2), "3", "4", out});
  EXPECT_EQ(r.err, "read 2 of 3 frames: nil\n");
  EXPECT_EQ(readFile(out), "old table");
}

TEST(ToneLut, ArgumentsAndGridSize) {
  Scratch s;
  const std::string video = gridVideo(s, "grid.mkv", 2, 4, 2);
  const std::string out = s.path("out.cube");
  struct Case { std::vector<std::string> words; const char* message; };
  for (const auto& c : std::vector<Case>{
           {{"2", "4"}, "lut: bad arguments\n"},
           {{"2x", "4", out}, "lut: bad arguments\n"},
           {{" 2", "4", out}, "lut: bad arguments\n"},
           {{"2", "4.0", out}, "lut: bad arguments\n"},
           {{"99999999999999999999", "4", out}, "lut: bad arguments\n"},
           {{"0", "4", out}, "lut: N must be at least 1\n"},
           {{"-2", "4", out}, "lut: N must be at least 1\n"},
           {{"2", "1", out}, "lut: P must be at least 2\n"},
           {{"2", "8", out}, "lut: a grid of 2 x 2 patches of 8 pixels does not fit in a 14 x 12 frame\n"},
           {{"9223372036854775807", "9223372036854775807", out},
            "lut: a grid of 9223372036854775807 x 9223372036854775807 patches of "
            "9223372036854775807 pixels does not fit in a 14 x 12 frame\n"}}) {
    std::vector<std::string> args{"lut", video};
    args.insert(args.end(), c.words.begin(), c.words.end());
    ProcessResult r = runTone(args);
    EXPECT_EQ(r.status, 1) << c.message;
    EXPECT_EQ(r.err, c.message);
    EXPECT_FALSE(fileExists(out)) << c.message;
  }
  // A sign is allowed, and words after the path are ignored.
  ProcessResult r = runTone({"lut", video, "+2", "+4", out, "and", "more"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(lines(readFile(out)).size(), 11u);

  const std::string missing = s.path("none/out.cube");
  r = runTone({"lut", video, "2", "4", missing});
  EXPECT_EQ(r.err, "writing " + missing + ": No such file or directory\n");
}
