// The video analysis as a process, on videos the tests make with the ffmpeg CLI.
#include <gtest/gtest.h>

#include <regex>

#include "probe/analysis/thumbnail.h"
#include "tests/media/display_matrix.h"
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

std::string make(const Scratch& s, const std::string& name, const std::string& ffmpegArgs) {
  std::string path = s.path(name), log;
  EXPECT_TRUE(shell("ffmpeg -nostdin -v error -y " + ffmpegArgs + " '" + path + "'", &log)) << log;
  return path;
}

// A small test pattern video at the given rate and length.
std::string pattern(const Scratch& s, const std::string& name, const std::string& rate,
                    double seconds, const std::string& extra) {
  return make(s, name,
              "-f lavfi -i testsrc2=size=64x36:rate=" + rate + " -t " + std::to_string(seconds) +
                  " -pix_fmt yuv420p " + extra);
}

}  // namespace

TEST(VideoSampling, ThirtyFpsAtFiveHzInBothTimescales) {
  Scratch s;
  for (const char* scale : {"30", "600"}) {
    std::string clip = pattern(s, std::string("c") + scale + ".mp4", "30", 10,
                               std::string("-c:v libx264 -video_track_timescale ") + scale);
    Analysis a = analyse({clip, "5"});
    ASSERT_EQ(a.run.status, 0) << a.run.err;
    EXPECT_EQ(a.run.err, "");
    ASSERT_EQ(a.pts.size(), 50u);
    EXPECT_EQ(a.lines.front().rfind(R"({"type":"info","width":64,"height":36,"orientation":1,"hz":5,)", 0), 0u);
    EXPECT_EQ(a.lines.back(), R"({"type":"done","frames":50})");
    const int64_t ts = std::stoll(scale);
    for (size_t i = 0; i < a.pts.size(); ++i) {
      EXPECT_EQ(a.pts[i].second, ts);
      EXPECT_EQ(a.pts[i].first * 5, static_cast<int64_t>(i) * ts) << "frame line " << i;
    }
  }
}

TEST(VideoSampling, RatesOneAndSixty) {
  Scratch s;
  std::string clip = pattern(s, "c.mp4", "30", 4, "-c:v libx264 -video_track_timescale 30");
  Analysis one = analyse({clip, "1"});
  ASSERT_EQ(one.run.status, 0);
  ASSERT_EQ(one.pts.size(), 4u);
  EXPECT_EQ(one.pts[3].first, 90);
  Analysis sixty = analyse({clip, "60"});
  EXPECT_EQ(sixty.pts.size(), 120u);
  EXPECT_EQ(sixty.lines.back(), R"({"type":"done","frames":120})");
  Analysis zero = analyse({clip, "0"});  // rates below 1 become 1
  EXPECT_EQ(zero.pts.size(), 4u);
  EXPECT_NE(zero.lines.front().find(R"("hz":1,)"), std::string::npos);
}

TEST(VideoSampling, NtscRateWithBFrames) {
  Scratch s;
  std::string clip = pattern(s, "ntsc.mp4", "30000/1001", 3,
                             "-c:v libx264 -bf 3 -video_track_timescale 30000");
  Analysis a = analyse({clip});
  ASSERT_EQ(a.run.status, 0) << a.run.err;
  ASSERT_GE(a.pts.size(), 14u);
  for (size_t i = 0; i < a.pts.size(); ++i) {
    EXPECT_EQ(a.pts[i].second, 30000);
    EXPECT_EQ(a.pts[i].first, static_cast<int64_t>(i) * 6006) << "frame line " << i;
  }
}

TEST(VideoOrientation, FromTheDisplayMatrix) {
  Scratch s;
  std::string plain = pattern(s, "plain.mp4", "10", 0.5, "-c:v libx264");
  struct Case {
    std::array<int32_t, 9> matrix;
    int orientation;
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
    Analysis a = analyse({out});
    ASSERT_EQ(a.run.status, 0) << a.run.err;
    EXPECT_NE(a.lines.front().find("\"orientation\":" + std::to_string(c.orientation) + ","),
              std::string::npos)
        << a.lines.front();
    // The stored size is reported, not the rotated one.
    EXPECT_NE(a.lines.front().find(R"("width":64,"height":36)"), std::string::npos);
  }
}

TEST(VideoOrientation, RotateMetadataOfTheCli) {
  Scratch s;
  std::string plain = pattern(s, "plain.mp4", "10", 0.5, "-c:v libx264");
  // FFmpeg's rotate=R stores a counter-clockwise turn: 90 reads as angle -90.
  for (auto [rotate, orientation] : {std::pair{90, 8}, std::pair{180, 3}, std::pair{270, 6}}) {
    std::string out = make(s, "r" + std::to_string(rotate) + ".mp4",
                           "-i '" + plain + "' -c copy -metadata:s:v:0 rotate=" + std::to_string(rotate));
    Analysis a = analyse({out});
    ASSERT_EQ(a.run.status, 0);
    EXPECT_NE(a.lines.front().find("\"orientation\":" + std::to_string(orientation) + ","),
              std::string::npos)
        << rotate << ": " << a.lines.front();
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
  std::string clip = make(s, "lossless.mkv",
                          "-f rawvideo -pix_fmt bgra -s 50x30 -r 10 -i '" + s.path("frames.bgra") +
                              "' -c:v ffv1");
  Analysis a = analyse({clip, "100"});
  ASSERT_EQ(a.run.status, 0) << a.run.err;
  ASSERT_EQ(a.pts.size(), 3u);
  for (int f = 0; f < frames; ++f) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(raw.data()) + f * W * H * 4;
    auto expected = kestrel::thumbnail(kestrel::Picture{bytes, W, H, W * 4});
    std::string list;
    for (uint8_t v : expected) list += (list.empty() ? "" : ",") + std::to_string(v);
    EXPECT_NE(a.lines[1 + f].find("\"thumb\":[" + list + "]}"), std::string::npos) << "frame " << f;
  }
}

TEST(VideoBadInput, OneLineAndNoDone) {
  Scratch s;
  std::string good = pattern(s, "good.mp4", "30", 2, "-c:v libx264");
  std::string front = make(s, "front.mp4", "-i '" + good + "' -c copy -movflags +faststart");
  std::string data = readFile(good), frontData = readFile(front);
  writeFile(s.path("empty.mp4"), "");
  writeFile(s.path("half-end.mp4"), data.substr(0, data.size() / 2));
  writeFile(s.path("half-front.mp4"), frontData.substr(0, frontData.size() / 2));
  std::string noise;
  for (int i = 0; i < 100000; ++i) noise.push_back(static_cast<char>((i * 7919) ^ (i >> 3)));
  writeFile(s.path("noise.mp4"), noise);
  std::string audio = make(s, "audio.m4a", "-f lavfi -i sine=frequency=440 -t 1 -c:a aac");

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
  // Cut with its index in front: the frames that are there, then either the
  // end of the track or one failure line; never a crash.
  Analysis a = analyse({s.path("half-front.mp4"), "30"});
  EXPECT_TRUE(a.run.status == 0 || a.run.status == 1) << a.run.status;
  if (a.run.status == 0) {
    EXPECT_EQ(a.run.err, "");
    EXPECT_LT(a.pts.size(), 60u);
    EXPECT_EQ(a.lines.back(), "{\"type\":\"done\",\"frames\":" + std::to_string(a.pts.size()) + "}");
  } else {
    EXPECT_EQ(a.run.err.rfind("decoding stopped: ", 0), 0u) << a.run.err;
    EXPECT_EQ(a.run.out.find("\"done\""), std::string::npos);
  }
}
