// PQ and HLG rendered to SDR, as processes on clips made with ffmpeg's zscale:
// an SDR photo carried at reference white comes back as it was, a grey ramp
// rolls off up to the peak, BT.2020 primaries keep their hue, and a LUT from
// an HDR grid matches the SDR grid's.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "tests/support/fixture_photos.h"
#include "tests/tone/tone_media.h"

using namespace kestrel::test;

namespace {

const char* kTransfers[] = {"smpte2084", "arib-std-b67"};

// SDR pictures carried in HDR, SDR white at reference white (203 nits): as
// 10-bit 4:2:0 video, or as 16-bit RGB when a test measures the rendering
// rather than the rounding of a 10-bit carrier.
std::string sdrInHdr(const Scratch& s, const std::string& transfer, const std::vector<Rgb>& frames,
                     bool rgb16) {
  const std::string carrier =
      rgb16 ? "m=gbr:r=pc,format=gbrp16le" : "m=bt2020nc:r=tv,format=yuv420p10le";
  const std::string tags =
      rgb16 ? " -colorspace rgb -color_range pc" : " -colorspace bt2020nc -color_range tv";
  return encode(s, transfer + ".mkv", frames, "5",
                "-vf zscale=tin=bt709:pin=bt709:min=gbr:rin=pc:npl=203:t=" + transfer +
                    ":p=bt2020:" + carrier + " -c:v ffv1 -color_trc " + transfer +
                    " -color_primaries bt2020" + tags);
}

// Frames of flat patches of linear BT.2020 light (1 is reference white), in
// `rows` equal rows of `side`-pixel squares, as a 10-bit 4:4:4 PQ clip.
std::string linearPatches(const Scratch& s, const std::string& name,
                          const std::vector<std::array<float, 3>>& patches, int side, int rows,
                          int frames, const std::string& codec = "-c:v ffv1") {
  const int w = side * static_cast<int>(patches.size()), h = side * rows;
  std::string raw;
  for (int f = 0; f < frames; ++f)
    for (int plane : {1, 2, 0})  // planar G, B, R
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const float v = patches[static_cast<size_t>(x / side)][static_cast<size_t>(plane)];
          raw.append(reinterpret_cast<const char*>(&v), sizeof v);
        }
  writeFile(s.path(name + ".raw"), raw);
  return makeClip(s, name,
                  "-f rawvideo -pix_fmt gbrpf32le -s " + std::to_string(w) + "x" + std::to_string(h) +
                      " -r 5 -i '" + s.path(name + ".raw") +
                      "' -vf zscale=tin=linear:pin=bt2020:min=gbr:rin=pc:npl=203:t=smpte2084:"
                      "p=bt2020:m=bt2020nc:r=tv,format=yuv444p10le " +
                      codec +
                      " -color_trc smpte2084 -color_primaries bt2020 -colorspace bt2020nc"
                      " -color_range tv");
}

Rgb frameAt(const Scratch& s, const std::string& video, int w, int h) {
  const std::string out = s.path("frame.rgb");
  ProcessResult r = runTone({"frame", video, "0", out});
  EXPECT_EQ(r.status, 0) << r.err;
  Rgb picture(w, h);
  if (r.status == 0) picture.bytes = readFile(out);
  EXPECT_EQ(picture.bytes.size(), static_cast<size_t>(w * h * 3));
  return picture;
}

// The entries of a .cube table written by "lut", as values 0 to 1.
std::vector<std::array<double, 3>> lutEntries(const std::string& video, int n, int p,
                                              const std::string& out) {
  ProcessResult r = runTone({"lut", video, std::to_string(n), std::to_string(p), out});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::array<double, 3>> entries;
  const auto l = lines(r.status == 0 ? readFile(out) : "");
  for (size_t i = 3; i < l.size(); ++i) {
    std::array<double, 3> e{};
    EXPECT_EQ(std::sscanf(l[i].c_str(), "%lf %lf %lf", &e[0], &e[1], &e[2]), 3);
    entries.push_back(e);
  }
  return entries;
}

// BT.1886 decoding of the 8-bit output to linear BT.709 light.
double linear(uint8_t code) { return std::pow(code / 255.0, 2.4); }

// The hue angle around D65 in the CIE 1976 u'v' diagram (CIELUV's h_uv) of
// linear BT.709 or BT.2020 RGB.
double hueDegrees(double r, double g, double b, bool bt2020) {
  const double m709[3][3] = {
      {0.4124, 0.3576, 0.1805}, {0.2126, 0.7152, 0.0722}, {0.0193, 0.1192, 0.9505}};
  const double m2020[3][3] = {
      {0.6370, 0.1446, 0.1689}, {0.2627, 0.6780, 0.0593}, {0, 0.0281, 1.0610}};
  const auto& m = bt2020 ? m2020 : m709;
  const double x = m[0][0] * r + m[0][1] * g + m[0][2] * b;
  const double y = m[1][0] * r + m[1][1] * g + m[1][2] * b;
  const double z = m[2][0] * r + m[2][1] * g + m[2][2] * b;
  const double d = x + 15 * y + 3 * z;
  return std::atan2(9 * y / d - 0.4683, 4 * x / d - 0.1978) * 180 / M_PI;
}

}  // namespace

TEST(ToneHdr, SdrPhotoAtReferenceWhiteComesBackAsItWas) {
  Scratch s;
  const std::string ref =
      makeClip(s, "photo.rgb", "-i " + std::string(kFruits) + " -vf scale=320:240 -f rawvideo -pix_fmt rgb24");
  Rgb photo(320, 240);
  photo.bytes = readFile(ref);
  ASSERT_EQ(photo.bytes.size(), 320u * 240 * 3);
  double photoSum = 0;
  for (char c : photo.bytes) photoSum += static_cast<uint8_t>(c);
  for (const char* transfer : kTransfers) {
    const Rgb out = frameAt(s, sdrInHdr(s, transfer, {photo, photo}, false), 320, 240);
    double squares = 0, sum = 0;
    for (size_t i = 0; i < out.bytes.size(); ++i) {
      const double v = static_cast<uint8_t>(out.bytes[i]);
      squares += std::pow(v - static_cast<uint8_t>(photo.bytes[i]), 2);
      sum += v;
    }
    const double psnr =
        10 * std::log10(255.0 * 255 / (squares / static_cast<double>(out.bytes.size())));
    EXPECT_GT(psnr, 30) << transfer;  // 10-bit 4:2:0 carriage allows about 34 dB
    EXPECT_NEAR(sum / photoSum, 1.0, 0.02) << transfer;
  }
}

TEST(ToneHdr, GreyRampRollsOffUpToThePeakFromMetadata) {
  Scratch s;
  const std::vector<double> nits{0,   1,   10,   50,   100,  150,  203, 300,
                                 450, 650, 1000, 1400, 2000, 2800, 4000};
  std::vector<std::array<float, 3>> greys;
  for (double level : nits) {
    const float v = static_cast<float>(level / 203);
    greys.push_back({v, v, v});
  }
  const int side = 8, n = static_cast<int>(nits.size());
  // As a grid for the LUT builder: n frames of n rows of the ramp.
  const std::string plain = linearPatches(s, "ramp.mkv", greys, side, n, n);
  // The same ramp saying it peaks at 4000 nits; without that 1000 is assumed.
  const std::string tagged = linearPatches(
      s, "ramp4000.mkv", greys, side, n, n,
      "-c:v libx265 -x265-params 'log-level=error:lossless=1:max-cll=4000,400:"
      "master-display=G(13250,34500)B(7500,3000)R(34000,16000)WP(15635,16450)L(10000000,50)'");
  struct Case {
    std::string video;
    double peak;
  };
  for (const Case& c : {Case{plain, 1000}, Case{tagged, 4000}}) {
    // The LUT builder renders at half precision: every level stays distinct up
    // to the peak, which alone reaches white.
    const auto entries = lutEntries(c.video, n, side, s.path("ramp.cube"));
    ASSERT_EQ(entries.size(), static_cast<size_t>(n * n * n));
    double previous = -1;
    for (int i = 0; i < n; ++i) {
      const auto& e = entries[static_cast<size_t>(i)];
      EXPECT_NEAR(e[0], e[1], 0.002) << nits[i];  // grey stays grey
      EXPECT_NEAR(e[2], e[1], 0.002) << nits[i];
      if (nits[i] <= 203) {  // the SDR range as SDR shows it (BT.1886)
        EXPECT_NEAR(e[1], std::pow(nits[i] / 203, 1 / 2.4), 2.0 / 255) << nits[i];
      } else if (nits[i] < c.peak) {
        EXPECT_GT(e[1], previous) << nits[i] << " peak " << c.peak;
        EXPECT_LT(e[1], 1.0) << nits[i] << " peak " << c.peak;
      } else {
        EXPECT_EQ(e[1], 1.0) << nits[i] << " peak " << c.peak;
      }
      previous = e[1];
    }
    // In 8 bits the levels keep their order and reference white is within
    // two steps of white.
    const Rgb frame = frameAt(s, c.video, n * side, n * side);
    for (int i = 1; i < n; ++i)
      EXPECT_GE(frame.at(i * side + 4, 4, 1), frame.at(i * side - 4, 4, 1)) << nits[i];
    const int white = static_cast<int>(std::find(nits.begin(), nits.end(), 203) - nits.begin());
    EXPECT_GE(frame.at(white * side + 4, 4, 1), 253);
  }
}

TEST(ToneHdr, Bt2020PrimariesKeepTheirHue) {
  Scratch s;
  // Each primary at half and at four times reference white.
  std::vector<std::array<float, 3>> patches;
  for (float level : {0.5f, 4.0f})
    for (int c = 0; c < 3; ++c) {
      std::array<float, 3> p{0, 0, 0};
      p[static_cast<size_t>(c)] = level;
      patches.push_back(p);
    }
  const int side = 16;
  const std::string video = linearPatches(s, "primaries.mkv", patches, side, 1, 2);
  const Rgb out = frameAt(s, video, side * static_cast<int>(patches.size()), side);
  for (size_t i = 0; i < patches.size(); ++i) {
    const int x = static_cast<int>(i) * side + side / 2;
    const double r = linear(out.at(x, side / 2, 0)), g = linear(out.at(x, side / 2, 1)),
                 b = linear(out.at(x, side / 2, 2));
    const auto& p = patches[i];
    const double turn =
        std::remainder(hueDegrees(r, g, b, false) - hueDegrees(p[0], p[1], p[2], true), 360.0);
    EXPECT_LE(std::abs(turn), 5) << "patch " << i;
    // Brought just inside the gamut, not washed out: one channel at 0.
    EXPECT_LE(std::min({out.at(x, side / 2, 0), out.at(x, side / 2, 1), out.at(x, side / 2, 2)}), 2)
        << "patch " << i;
  }
}

TEST(ToneHdr, LutFromHdrGridMatchesTheSdrGrid) {
  Scratch s;
  const int n = 5, p = 8;
  std::vector<Rgb> frames;
  for (int f = 0; f < n; ++f) {
    Rgb grid(n * p, n * p);
    auto level = [](int i) { return static_cast<uint8_t>(i * 255 / (n - 1)); };
    for (int j = 0; j < n; ++j)
      for (int k = 0; k < n; ++k) grid.fill(k * p, j * p, p, p, level(k), level(j), level(f));
    frames.push_back(grid);
  }
  const auto sdr =
      lutEntries(encode(s, "sdr.mkv", frames, "5", "-c:v ffv1"), n, p, s.path("sdr.cube"));
  ASSERT_EQ(sdr.size(), static_cast<size_t>(n * n * n));
  for (const char* transfer : kTransfers) {
    // 10-bit rounding, which BT.1886 magnifies near black, would hide the rendering.
    const auto hdr = lutEntries(sdrInHdr(s, transfer, frames, true), n, p, s.path("hdr.cube"));
    ASSERT_EQ(hdr.size(), sdr.size()) << transfer;
    for (size_t i = 0; i < sdr.size(); ++i)
      for (int c = 0; c < 3; ++c) {
        // A channel at black moves most for the least light: there the
        // carrier's rounding through the BT.2020 matrices is allowed for.
        const double tolerance = sdr[i][c] == 0 ? 10.0 / 255 : 3.0 / 255;
        EXPECT_NEAR(hdr[i][c], sdr[i][c], tolerance)
            << transfer << " entry " << i << " channel " << c;
      }
  }
}
