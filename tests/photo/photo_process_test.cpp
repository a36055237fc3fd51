// The --photo mode as a process, on pictures made here with the vips,
// ffmpeg and exiftool command-line tools.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "tests/photo/display_p3.h"
#include "tests/support/clips.h"
#include "tests/support/process.h"
#include "tests/support/scratch.h"

using namespace kestrel::test;

namespace {

std::string q(const std::string& path) { return "'" + path + "'"; }

// The PhotoInfo line a run is expected to print.
std::string line(int w, int h, bool alpha, int orientation, const std::string& profile,
                 int frames) {
  std::ostringstream s;
  s << "{\"width\":" << w << ",\"height\":" << h << ",\"alpha\":" << (alpha ? "true" : "false")
    << ",\"orientation\":" << orientation << ",\"profile\":\"" << profile
    << "\",\"frames\":" << frames << "}\n";
  return s.str();
}

class Photo : public ::testing::Test {
 protected:
  Scratch s;

  // Runs shell commands that make a picture; fails the test when they fail.
  void make(const std::string& commands) {
    std::string log;
    ASSERT_TRUE(shell("cd " + q(s.dir()) + " && " + commands, &log)) << commands << "\n" << log;
  }

  // A flat picture of one colour, any number of bands, in a vips file.
  void flat(const std::string& name, int w, int h, const std::string& values) {
    std::istringstream in(values);
    std::string scale, v;
    int bands = 0;
    while (in >> v) {
      scale += "1 ";
      ++bands;
    }
    make("vips black z.v " + std::to_string(w) + " " + std::to_string(h) + " --bands " +
         std::to_string(bands) + " && vips linear z.v " + name + " '" + scale + "' '" + values +
         "' --uchar");
  }

  std::vector<int> pixel(const std::string& file, int x, int y) {
    auto r = runProcess({"/bin/sh", "-c",
                         "vips getpoint " + q(file) + " " + std::to_string(x) + " " +
                             std::to_string(y)});
    std::istringstream in(r.out);
    std::vector<int> v;
    for (int c; in >> c;) v.push_back(c);
    return v;
  }

  std::string header(const std::string& file, const std::string& field) {
    auto r = runProcess({"/bin/sh", "-c", "vipsheader -f " + field + " " + q(file)});
    return lines(r.out).empty() ? "" : lines(r.out)[0];
  }

  std::vector<std::string> files() {
    std::vector<std::string> v;
    for (const auto& e : std::filesystem::directory_iterator(s.dir()))
      v.push_back(e.path().filename());
    std::sort(v.begin(), v.end());
    return v;
  }

  ProcessResult photo(const std::string& in, const std::string& out, const std::string& n) {
    return runProbe({"--photo", in, out, n});
  }
};

void expectNear(const std::vector<int>& got, const std::vector<int>& want, int tolerance) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i)
    EXPECT_NEAR(got[i], want[i], tolerance) << "component " << i;
}

void expectFailure(const ProcessResult& r, const std::string& message) {
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, message + "\n");
}

}  // namespace

TEST_F(Photo, LargePictureIsScaledToFit) {
  flat("big.v", 4000, 3000, "200 100 50");
  make("vips jpegsave big.v big.jpg");
  auto r = photo(s.path("big.jpg"), s.path("out.png"), "1024");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, line(1024, 768, false, 1, "", 1));
  EXPECT_EQ(header(s.path("out.png"), "width"), "1024");
  EXPECT_EQ(header(s.path("out.png"), "height"), "768");
  EXPECT_EQ(header(s.path("out.png"), "bands"), "3");
  // Untagged pictures are sRGB already: their colours do not move.
  expectNear(pixel(s.path("out.png"), 500, 400), {200, 100, 50}, 2);
}

TEST_F(Photo, SmallPictureIsNeverEnlarged) {
  flat("small.png", 300, 200, "10 20 30");
  for (const char* n : {"1024", "300", "9223372036854775807"}) {
    auto r = photo(s.path("small.png"), s.path("out.png"), n);
    EXPECT_EQ(r.out, line(300, 200, false, 1, "", 1)) << "n " << n;
    EXPECT_EQ(r.err, "");
  }
  auto r = photo(s.path("small.png"), s.path("out.png"), "30");
  EXPECT_EQ(r.out, line(30, 20, false, 1, "", 1));
}

TEST_F(Photo, OrientationSixComesOutUpright) {
  // Stored 60x40, blue with a red block at the stored top left; orientation
  // 6 turns it a quarter clockwise, so the block ends at the top right.
  flat("o.v", 60, 40, "0 0 255");
  make("vips draw_rect o.v '255 0 0' 0 0 20 10 --fill && vips jpegsave o.v turned.jpg && "
       "exiftool -q -overwrite_original -n -Orientation=6 turned.jpg");
  auto r = photo(s.path("turned.jpg"), s.path("out.png"), "1024");
  EXPECT_EQ(r.out, line(40, 60, false, 6, "", 1));
  EXPECT_EQ(r.err, "");
  expectNear(pixel(s.path("out.png"), 35, 5), {255, 0, 0}, 12);
  expectNear(pixel(s.path("out.png"), 5, 5), {0, 0, 255}, 12);
  expectNear(pixel(s.path("out.png"), 35, 50), {0, 0, 255}, 12);
}

TEST_F(Photo, OpaqueAlphaChannelIsDropped) {
  flat("opaque.png", 20, 20, "10 20 30 255");
  ASSERT_EQ(header(s.path("opaque.png"), "bands"), "4");
  auto r = photo(s.path("opaque.png"), s.path("out.png"), "100");
  EXPECT_EQ(r.out, line(20, 20, false, 1, "", 1));
  EXPECT_EQ(header(s.path("out.png"), "bands"), "3");
  expectNear(pixel(s.path("out.png"), 3, 3), {10, 20, 30}, 0);
}

TEST_F(Photo, OneTranslucentPixelKeepsAlpha) {
  flat("one.v", 20, 20, "10 20 30 255");
  make("vips draw_rect one.v '10 20 30 128' 19 19 1 1 && vips pngsave one.v one.png");
  auto r = photo(s.path("one.png"), s.path("out.png"), "100");
  EXPECT_EQ(r.out, line(20, 20, true, 1, "", 1));
  EXPECT_EQ(header(s.path("out.png"), "bands"), "4");
  // Straight alpha: the colour of the translucent pixel is kept as it was.
  expectNear(pixel(s.path("out.png"), 19, 19), {10, 20, 30, 128}, 0);
  expectNear(pixel(s.path("out.png"), 0, 0), {10, 20, 30, 255}, 0);
}

TEST_F(Photo, GreyWithAlphaBecomesRgbWithAlpha) {
  flat("ga.png", 16, 16, "120 128");
  auto r = photo(s.path("ga.png"), s.path("out.png"), "100");
  EXPECT_EQ(r.out, line(16, 16, true, 1, "", 1));
  expectNear(pixel(s.path("out.png"), 1, 1), {120, 120, 120, 128}, 0);
}

TEST_F(Photo, DisplayP3IsConvertedToSrgb) {
  writeFile(s.path("p3.icc"), displayP3Profile());
  flat("p3.v", 64, 64, "200 100 100");
  make("vips jpegsave p3.v p3.jpg --Q 95 --profile p3.icc");
  auto r = photo(s.path("p3.jpg"), s.path("out.png"), "32");
  EXPECT_EQ(r.out, line(32, 32, false, 1, "Display P3", 1));
  EXPECT_EQ(r.err, "");
  const auto want = p3ToSrgb({200, 100, 100});
  ASSERT_GT(want[0], 205);  // the conversion moves this colour well beyond the tolerance
  expectNear(pixel(s.path("out.png"), 16, 16), {want[0], want[1], want[2]}, 3);
}

TEST_F(Photo, GreyJpegBecomesRgb) {
  flat("grey.v", 50, 40, "120");
  make("vips jpegsave grey.v grey.jpg");
  auto r = photo(s.path("grey.jpg"), s.path("out.png"), "100");
  EXPECT_EQ(r.out, line(50, 40, false, 1, "", 1));
  EXPECT_EQ(header(s.path("out.png"), "bands"), "3");
  expectNear(pixel(s.path("out.png"), 10, 10), {120, 120, 120}, 1);
}

// HEIF and JPEG XL are read through libvips modules of their own, which the
// program opens only when a file needs them.
TEST_F(Photo, HeifAndJpegXlAreRead) {
  flat("f.v", 40, 30, "90 160 40");
  make("vips heifsave f.v f.avif --compression av1 && vips jxlsave f.v f.jxl --lossless");
  for (const std::string name : {"f.avif", "f.jxl"}) {
    auto r = photo(s.path(name), s.path("out.png"), "20");
    EXPECT_EQ(r.status, 0) << name;
    EXPECT_EQ(r.err, "") << name;
    EXPECT_EQ(header(s.path("out.png"), "width"), "20") << name;
    expectNear(pixel(s.path("out.png"), 10, 7), {90, 160, 40}, 4);
  }
}

TEST_F(Photo, AnimatedGifWritesItsFirstFrame) {
  makeClip(s, "anim.gif",
           "-f lavfi -i color=c=red:s=32x24:r=5:d=0.2 -f lavfi -i color=c=blue:s=32x24:r=5:d=0.4 "
           "-filter_complex '[0][1]concat=n=2:v=1'");
  auto r = photo(s.path("anim.gif"), s.path("out.png"), "100");
  EXPECT_EQ(r.out, line(32, 24, false, 1, "", 3));
  EXPECT_EQ(r.err, "");
  expectNear(pixel(s.path("out.png"), 5, 5), {255, 0, 0}, 8);
}

TEST_F(Photo, MultiPageTiffWritesItsFirstPage) {
  flat("a.v", 30, 30, "0 255 0");
  flat("b.v", 30, 30, "255 0 0");
  flat("c.v", 30, 30, "0 0 255");
  make("vips join a.v b.v ab.v vertical && vips join ab.v c.v pages.v vertical && "
       "vips tiffsave pages.v pages.tif --page-height 30");
  auto r = photo(s.path("pages.tif"), s.path("out.png"), "100");
  EXPECT_EQ(r.out, line(30, 30, false, 1, "", 3));
  expectNear(pixel(s.path("out.png"), 15, 15), {0, 255, 0}, 0);
}

TEST_F(Photo, UnreadableInputsAreRefused) {
  writeFile(s.path("empty.jpg"), "");
  std::string noise(5000, '\0');
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = char((i * 7919 + 13) % 251);
  writeFile(s.path("noise.jpg"), noise);
  // libvips reads this text as a 2x2 matrix image; it is no picture.
  writeFile(s.path("numbers.mat"), "2 2\n1 2\n3 4\n");
  for (const char* name : {"missing.jpg", "empty.jpg", "noise.jpg", "numbers.mat"}) {
    auto r = photo(s.path(name), s.path("out.png"), "100");
    expectFailure(r, "can't read the picture " + s.path(name));
  }
  auto r = photo(s.dir(), s.path("out.png"), "100");
  expectFailure(r, "can't read the picture " + s.dir());
  EXPECT_FALSE(fileExists(s.path("out.png")));
}

TEST_F(Photo, TruncatedPictureFailsAndKeepsTheOldOutput) {
  flat("whole.v", 600, 400, "90 160 40");
  make("vips gaussnoise n.v 600 400 && vips add whole.v n.v sum.v && vips cast sum.v c.v uchar "
       "&& vips jpegsave c.v whole.jpg && vips pngsave c.v whole.png");
  for (const char* name : {"whole.jpg", "whole.png"}) {
    const std::string whole = readFile(s.path(name));
    const std::string cut = std::string("cut") + std::filesystem::path(name).extension().string();
    writeFile(s.path(cut), whole.substr(0, whole.size() / 2));
    writeFile(s.path("out.png"), "previous");
    auto r = photo(s.path(cut), s.path("out.png"), "100");
    expectFailure(r, "can't decode the picture " + s.path(cut));
    EXPECT_EQ(readFile(s.path("out.png")), "previous") << cut;
  }
  for (const auto& name : files()) EXPECT_EQ(name.find(".part"), std::string::npos) << name;
}

TEST_F(Photo, UnwritableOutputLeavesNothingBehind) {
  flat("in.png", 8, 8, "1 2 3");
  std::filesystem::create_directory(s.path("taken.png"));
  for (const std::string& out : {s.path("no/such/folder/out.png"), s.path("taken.png")}) {
    auto r = photo(s.path("in.png"), out, "100");
    expectFailure(r, "can't write " + out);
  }
  EXPECT_EQ(files(), (std::vector<std::string>{"in.png", "taken.png", "z.v"}));
  EXPECT_TRUE(std::filesystem::is_empty(s.path("taken.png")));
}

// A PNG whose header declares a size but whose pixels are not there: it is
// refused from the header alone, before any decoding.
std::string pngHeaderOnly(uint32_t w, uint32_t h) {
  auto be = [](uint32_t v) {
    return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
  };
  auto crc = [](const std::string& bytes) {
    uint32_t c = 0xFFFFFFFF;
    for (unsigned char b : bytes) {
      c ^= b;
      for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320 & (0 - (c & 1)));
    }
    return ~c;
  };
  auto chunk = [&](const std::string& type, const std::string& data) {
    return be(uint32_t(data.size())) + type + data + be(crc(type + data));
  };
  const std::string ihdr = be(w) + be(h) + std::string{8, 2, 0, 0, 0};
  // An empty zlib stream: a stored final block of no bytes.
  const std::string idat("\x78\x01\x01\x00\x00\xff\xff\x00\x00\x00\x01", 11);
  return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) + chunk("IDAT", idat) +
         chunk("IEND", "");
}

TEST_F(Photo, AbsurdSizesAreRefusedBeforeDecoding) {
  writeFile(s.path("bomb.png"), pngHeaderOnly(50000, 50000));
  auto r = photo(s.path("bomb.png"), s.path("out.png"), "1024");
  expectFailure(r, "can't decode a 50000\xC3\x97" "50000 picture " + s.path("bomb.png"));

  // Allowed as a source, but too large to hold at the size asked for.
  writeFile(s.path("wide.png"), pngHeaderOnly(20000, 10000));
  r = photo(s.path("wide.png"), s.path("out.png"), "20000");
  expectFailure(r, "can't make a 20000\xC3\x97" "10000 picture");
  r = photo(s.path("wide.png"), s.path("out.png"), "1000");
  expectFailure(r, "can't decode the picture " + s.path("wide.png"));
  EXPECT_FALSE(fileExists(s.path("out.png")));
}
