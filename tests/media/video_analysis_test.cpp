// The video analysis as a process, on videos the tests make with the ffmpeg CLI.
#include <gtest/gtest.h>

#include <regex>

#include "platform/media/video_source.h"
#include "probe/analysis/frame_loop.h"
#include "probe/analysis/orientation.h"
#include "probe/analysis/thumbnail.h"
#include "tests/media/display_matrix.h"
#include "tests/support/clips.h"
#include "tests/support/process.h"
#include "tests/support/scratch.h"

using namespace kestrel::test;

namespace {

struct Analysis {
  ProcessResult run;
  std::vector<std::string> lines;
  std::vector<std::pair<int64_t, int64_t>> pts;  // of the frame lines
};

Analysis analyse(const std::vector<std::string>& args) {
  Analysis a;
  a.run = runProbe(args);
  a.lines = lines(a.run.out);
  static const std::regex ptsPattern(R"("pts":\[(-?\d+),(\d+)\])");
  for (const auto& l : a.lines) {
    std::smatch m;
    if (std::regex_search(l, m, ptsPattern)) a.pts.emplace_back(std::stoll(m[1]), std::stoll(m[2]));
  }
  return a;
}

// The sampling run in-process, without vision: the picked times and thumbnails.
struct Sampled {
  std::vector<std::pair<int64_t, int64_t>> pts;
  std::vector<std::vector<uint8_t>> thumbs;
};

Sampled sample(const std::string& path, int64_t hz) {
  Sampled out;
  auto opened = kestrel::media::openVideo(path);
  EXPECT_TRUE(opened.source) << path << ": " << opened.error;
  if (!opened.source) return out;
  kestrel::media::FrameConverter converter;
  kestrel::sampleFrames(*opened.source, hz, [&](const kestrel::media::VideoFrame& f, const kestrel::media::MediaTime& t) {
    out.pts.emplace_back(t.value, t.timescale);
    out.thumbs.push_back(kestrel::thumbnail(converter.bgraRows(f, kestrel::thumbnailRows(f.height()))));
  });
  EXPECT_FALSE(opened.source->failed()) << opened.source->error();
  return out;
}

uint32_t orientationOfFile(const std::string& path) {
  auto opened = kestrel::media::openVideo(path);
  EXPECT_TRUE(opened.source) << path;
  if (!opened.source) return 0;
  const kestrel::media::Track& track = opened.source->track();
  return kestrel::orientationOf(track.displayCos, track.displaySin);
}

// A small test pattern video at the given rate and length.
std::string pattern(const Scratch& s, const std::string& name, const std::string& rate,
                    double seconds, const std::string& extra) {
  return makeClip(s, name,
                  "-f lavfi -i testsrc2=size=64x36:rate=" + rate + " -t " + std::to_string(seconds) +
                      " -pix_fmt yuv420p " + extra);
}

}  // namespace

// Sampling decisions on real decoder output, in-process (no vision work).
TEST(VideoSampling, ThirtyFpsAtFiveHzInBothTimescales) {
  Scratch s;
  for (const char* scale : {"30", "600"}) {
    std::string clip = pattern(s, std::string("c") + scale + ".mp4", "30", 10,
                               std::string("-c:v libx264 -video_track_timescale ") + scale);
    Sampled a = sample(clip, 5);
    ASSERT_EQ(a.pts.size(), 50u);
    const int64_t ts = std::stoll(scale);
    for (size_t i = 0; i < a.pts.size(); ++i) {
      EXPECT_EQ(a.pts[i].second, ts);
      EXPECT_EQ(a.pts[i].first * 5, static_cast<int64_t>(i) * ts) << "pick " << i;
    }
  }
}

TEST(VideoSampling, RatesOneAndSixty) {
  Scratch s;
  std::string clip = pattern(s, "c.mp4", "30", 4, "-c:v libx264 -video_track_timescale 30");
  Sampled one = sample(clip, 1);
  ASSERT_EQ(one.pts.size(), 4u);
  EXPECT_EQ(one.pts[3].first, 90);
  EXPECT_EQ(sample(clip, 60).pts.size(), 120u);
}

TEST(VideoSampling, NtscRateWithBFrames) {
  Scratch s;
  std::string clip = pattern(s, "ntsc.mp4", "30000/1001", 3,
                             "-c:v libx264 -bf 3 -video_track_timescale 30000");
  Sampled a = sample(clip, 5);
  ASSERT_GE(a.pts.size(), 14u);
  for (size_t i = 0; i < a.pts.size(); ++i) {
    EXPECT_EQ(a.pts[i].second, 30000);
    EXPECT_EQ(a.pts[i].first, static_cast<int64_t>(i) * 6006) << "pick " << i;
  }
}

// The whole run as a process: the info line, the frame lines, the done line.
TEST(VideoAnalysis, InfoFramesAndDone) {
  Scratch s;
  std::string clip = pattern(s, "c.mp4", "10", 1, "-c:v libx264 -video_track_timescale 600");
  Analysis a = analyse({clip, "5"});
  ASSERT_EQ(a.run.status, 0) << a.run.err;
  EXPECT_EQ(a.run.err, "");
  ASSERT_EQ(a.pts.size(), 5u);
  ASSERT_EQ(a.lines.size(), 7u);
  EXPECT_EQ(a.lines.front().rfind(R"({"type":"info","width":64,"height":36,"orientation":1,"hz":5,"vision":")", 0), 0u)
      << a.lines.front();
  EXPECT_EQ(a.lines[1].rfind(R"({"type":"frame","pts":[0,600],"faces":[)", 0), 0u) << a.lines[1];
  EXPECT_EQ(a.pts[4].first, 480);
  EXPECT_EQ(a.lines.back(), R"({"type":"done","frames":5})");
}

TEST(VideoOrientation, FromTheDisplayMatrix) {
  Scratch s;
  std::string plain = pattern(s, "plain.mp4", "10", 0.5, "-c:v libx264");
  struct Case {
    std::array<int32_t, 9> matrix;
    uint32_t orientation;
  };
  const int32_t one = 1 << 16;
  const Case cases[] = {
      {{one, 0, 0, 0, one, 0, 0, 0, 1 << 30}, 1},
      {{0, one, 0, -one, 0, 0, 0, 0, 1 << 30}, 6},
      {{-one, 0, 0, 0, -one, 0, 0, 0, 1 << 30}, 3},
      {{0, -one, 0, one, 0, 0, 0, 0, 1 << 30}, 8},
      {{-one, 0, 0, 0, one, 0, 0, 0, 1 << 30}, 3},  // mirrored: goes by its angle alone
      {{46341, 46341, 0, -46341, 46341, 0, 0, 0, 1 << 30}, 1},  // 45 degrees
  };
  int k = 0;
  for (const auto& c : cases) {
    std::string out = s.path("m" + std::to_string(k++) + ".mp4");
    ASSERT_TRUE(remuxWithMatrix(plain, out, c.matrix));
    EXPECT_EQ(orientationOfFile(out), c.orientation) << k;
  }
  // The info line reports it, with the stored size rather than the turned one.
  Analysis a = analyse({s.path("m1.mp4"), "1"});
  ASSERT_EQ(a.run.status, 0) << a.run.err;
  EXPECT_NE(a.lines.front().find(R"("width":64,"height":36,"orientation":6,)"), std::string::npos)
      << a.lines.front();
}

TEST(VideoOrientation, RotateMetadataOfTheCli) {
  Scratch s;
  std::string plain = pattern(s, "plain.mp4", "10", 0.5, "-c:v libx264");
  // FFmpeg's rotate=R stores a counter-clockwise turn: 90 reads as angle -90.
  for (auto [rotate, orientation] : {std::pair{90u, 8u}, std::pair{180u, 3u}, std::pair{270u, 6u}}) {
    std::string out = makeClip(s, "r" + std::to_string(rotate) + ".mp4",
                               "-i '" + plain + "' -c copy -metadata:s:v:0 rotate=" + std::to_string(rotate));
    EXPECT_EQ(orientationOfFile(out), orientation) << rotate;
  }
}

TEST(VideoThumbnail, ExactOnALosslessBgraVideo) {
  Scratch s;
  const int W = 50, H = 30, frames = 3;
  std::string raw;
  for (int f = 0; f < frames; ++f)
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        raw.push_back(static_cast<char>((x * 5 + f * 40) & 255));  // blue
        raw.push_back(static_cast<char>((y * 8) & 255));           // green
        raw.push_back(static_cast<char>((x * y + f) & 255));       // red
        raw.push_back(static_cast<char>(255));
      }
  writeFile(s.path("frames.bgra"), raw);
  std::string clip = makeClip(s, "lossless.mkv",
                              "-f rawvideo -pix_fmt bgra -s 50x30 -r 10 -i '" + s.path("frames.bgra") +
                                  "' -c:v ffv1");
  Sampled a = sample(clip, 100);
  ASSERT_EQ(a.thumbs.size(), 3u);
  for (int f = 0; f < frames; ++f) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(raw.data()) + f * W * H * 4;
    EXPECT_EQ(a.thumbs[f], kestrel::thumbnail(kestrel::Picture{bytes, W, H, W * 4})) << "frame " << f;
  }
}

// The analysis converts only what it reads of a decoded frame: the rows the
// thumbnail samples, and the parts the models ask for, at their sizes.
TEST(VideoThumbnail, PartialConversionsMatchTheWholeFrame) {
  Scratch s;
  struct Case {
    std::string name, pixelFormat, codec;
  };
  const Case cases[] = {{"p420.mp4", "yuv420p", "libx264"},     {"odd.mkv", "yuv420p", "ffv1"},
                        {"full.mkv", "yuvj420p", "ffv1"},       {"p10.mkv", "yuv422p10le", "ffv1"},
                        {"nv12.nut", "nv12", "rawvideo"},       {"rgb.mkv", "bgr0", "ffv1"},
                        {"grey.mkv", "gray", "ffv1"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string size = c.name == "odd.mkv" ? "98x71" : "96x54";
    const std::string clip = makeClip(s, c.name,
                                      "-f lavfi -i testsrc2=size=" + size + ":rate=10 -t 0.3 -pix_fmt " +
                                          c.pixelFormat + " -c:v " + c.codec);
    auto opened = kestrel::media::openVideo(clip);
    ASSERT_TRUE(opened.source) << opened.error;
    kestrel::media::FrameConverter converter;
    int frames = 0;
    while (opened.source->next()) {
      const kestrel::media::VideoFrame frame = opened.source->frame();
      ASSERT_FALSE(frame.empty());
      const kestrel::Picture whole = converter.bgra(frame);
      ASSERT_TRUE(whole.data);
      const auto rows = kestrel::thumbnailRows(frame.height());
      EXPECT_EQ(kestrel::thumbnail(converter.bgraRows(frame, rows)), kestrel::thumbnail(whole));

      // A part at full size against the whole frame converted alike: the
      // same pixels away from the part's edges, where the chroma filters
      // reach past it; on the sharp colour edges of the pattern a misplaced
      // chroma plane shows at once.
      auto pixels = converter.pixelSource(frame);
      ASSERT_TRUE(pixels);
      const int64_t a = pixels->alignment(), W = frame.width(), H = frame.height();
      std::vector<uint8_t> all(W * H * 3);
      ASSERT_TRUE(pixels->bgr({0, 0, W, H}, static_cast<int>(W), static_cast<int>(H), all.data(), W * 3));
      const kestrel::PixelRegion part{4 * a, 2 * a, 32, 18};
      std::vector<uint8_t> bgr(part.width * part.height * 3);
      ASSERT_TRUE(pixels->bgr(part, 32, 18, bgr.data(), 32 * 3));
      int worst = 0;
      for (int64_t y = 2; y < part.height - 2; ++y)
        for (int64_t x = 2; x < part.width - 2; ++x)
          for (int k = 0; k < 3; ++k)
            worst = std::max(worst, std::abs(bgr[(y * part.width + x) * 3 + k] -
                                             all[((part.y + y) * W + part.x + x) * 3 + k]));
      EXPECT_LE(worst, 1) << "frame " << frames;
      std::vector<uint8_t> small(8 * 6 * 3);
      ASSERT_TRUE(pixels->bgr({0, 0, W, H}, 8, 6, small.data(), 8 * 3));
      EXPECT_FALSE(pixels->bgr({1, 0, 8, 8}, 8, 8, bgr.data(), 8 * 3) && a > 1) << "unaligned";
      ++frames;
    }
    EXPECT_EQ(frames, 3);
  }
}

TEST(VideoBadInput, OneLineAndNoDone) {
  Scratch s;
  std::string good = pattern(s, "good.mp4", "30", 2, "-c:v libx264");
  std::string front = makeClip(s, "front.mp4", "-i '" + good + "' -c copy -movflags +faststart");
  std::string data = readFile(good), frontData = readFile(front);
  writeFile(s.path("empty.mp4"), "");
  writeFile(s.path("half-end.mp4"), data.substr(0, data.size() / 2));
  writeFile(s.path("half-front.mp4"), frontData.substr(0, frontData.size() / 2));
  std::string noise;
  for (int i = 0; i < 100000; ++i) noise.push_back(static_cast<char>((i * 7919) ^ (i >> 3)));
  writeFile(s.path("noise.mp4"), noise);
  std::string audio = makeClip(s, "audio.m4a", "-f lavfi -i sine=frequency=440 -t 1 -c:a aac");

  struct Case {
    std::string path, message;  // message: the start of the one line
  };
  const Case cases[] = {
      {s.path("missing.mp4"), "can't read " + s.path("missing.mp4")},
      {s.dir(), "can't read " + s.dir()},
      {s.path("empty.mp4"), "can't open the video: "},
      {s.path("half-end.mp4"), "can't open the video: "},
      {s.path("noise.mp4"), "can't open the video: "},
      {audio, "no video track"},
  };
  for (const auto& c : cases) {
    Analysis a = analyse({c.path});
    EXPECT_EQ(a.run.status, 1) << c.path;
    EXPECT_EQ(a.run.err.rfind(c.message, 0), 0u) << c.path << ": " << a.run.err;
    EXPECT_EQ(std::count(a.run.err.begin(), a.run.err.end(), '\n'), 1) << a.run.err;
    EXPECT_EQ(a.run.out.find("\"done\""), std::string::npos);
  }
  // Cut with its index in front: the index promises 60 frames, but the cut
  // falls inside the first one (the key frame, which carries x264's settings
  // text: 1.5 kB of a 4.8 kB file, after the index). The reader hands over
  // that frame's first part and the decoder refuses it: the info line, no
  // frame, then one failure line; never a crash or a done line.
  Analysis a = analyse({s.path("half-front.mp4"), "1"});
  EXPECT_EQ(a.run.status, 1);
  EXPECT_EQ(a.run.err, "decoding stopped: Invalid data found when processing input\n");
  ASSERT_EQ(a.lines.size(), 1u) << a.run.out;
  EXPECT_EQ(a.lines[0].rfind("{\"type\":\"info\",\"width\":64,\"height\":36,", 0), 0u) << a.lines[0];
}
