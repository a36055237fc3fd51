// "frame" as a process on videos the tests make: exact bytes from lossless
// sources, the time rules, seeking against a full scan, colour, failures.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "platform/media/sdr_renderer.h"
#include "tests/tone/tone_media.h"
#include "tone/rgb_pack.h"

using namespace kestrel::test;

namespace {

// Frames that differ everywhere from each other, with detail in every channel.
std::vector<Rgb> patternFrames(int count, int w, int h) {
  std::vector<Rgb> frames;
  for (int f = 0; f < count; ++f) {
    Rgb p(w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        p.set(x, y, static_cast<uint8_t>(x * 5 + f * 40), static_cast<uint8_t>(y * 7 + f * 30),
              static_cast<uint8_t>((x * y + f * 50) & 0xff));
    frames.push_back(p);
  }
  return frames;
}

struct Extracted {
  ProcessResult run;
  std::string bytes;
};

Extracted extract(const Scratch& s, const std::string& video, const std::string& time) {
  const std::string out = s.path("frame.rgb");
  std::filesystem::remove(out);
  Extracted e{runTone({"frame", video, time, out}), ""};
  if (fileExists(out)) e.bytes = readFile(out);
  return e;
}

// Which of the frames the bytes are (within 1), or -1.
int whichFrame(const std::string& bytes, const std::vector<Rgb>& frames) {
  for (size_t i = 0; i < frames.size(); ++i)
    if (maxDifference(bytes, frames[i].bytes) <= 1) return static_cast<int>(i);
  return -1;
}

// The frames a plain scan from the start chooses for ascending times, rendered
// and packed in-process in one pass.
std::vector<std::string> scanned(const std::string& video, const std::vector<double>& times) {
  std::vector<std::string> chosen(times.size());
  auto opened = kestrel::media::openVideo(video);
  if (!opened.source) return chosen;
  kestrel::media::SdrRenderer renderer;
  size_t next = 0;
  while (next < times.size() && opened.source->next()) {
    std::string rgb;
    const double pts = kestrel::media::seconds(opened.source->time());
    for (; next < times.size() && !(times[next] > pts + 0.0001); ++next) {
      if (rgb.empty()) {
        auto p = renderer.render(*opened.source, kestrel::PixelFormat::Bgra8);
        if (!p.data) return chosen;
        rgb.resize(static_cast<size_t>(p.width * p.height * 3));
        kestrel::tone::packRgb(p, reinterpret_cast<uint8_t*>(rgb.data()));
      }
      chosen[next] = rgb;
    }
  }
  return chosen;
}

}  // namespace

TEST(ToneFrame, LosslessSourcesComeOutByteForByte) {
  Scratch s;
  const auto frames = patternFrames(3, 48, 32);
  for (const char* codec : {"-c:v ffv1", "-c:v png"}) {
    const std::string video = encode(s, "lossless.mkv", frames, "8", codec);
    for (int i = 0; i < 3; ++i) {
      Extracted e = extract(s, video, std::to_string(i * 0.125));
      ASSERT_EQ(e.run.status, 0) << codec << ": " << e.run.err;
      EXPECT_EQ(e.run.out, "48 32\n");
      EXPECT_EQ(e.run.err, "");
      EXPECT_LE(maxDifference(e.bytes, frames[i].bytes), 1) << codec << " frame " << i;
    }
  }
}

TEST(ToneFrame, TimeRules) {
  Scratch s;
  // 8 frames a second: times 0, 0.125, ... 0.625, exact in binary.
  const auto frames = patternFrames(6, 16, 16);
  const std::string video = encode(s, "timed.mkv", frames, "8", "-c:v ffv1");
  struct Case { const char* time; int frame; };
  for (auto c : {Case{"0", 0}, Case{"-3", 0}, Case{"0.1", 1}, Case{"0.25", 2}, Case{"0.2501", 2},
                 Case{"0.2502", 3}, Case{"0.249", 2}, Case{"6.25e-1", 5}, Case{"0x1p-2", 2}}) {
    Extracted e = extract(s, video, c.time);
    ASSERT_EQ(e.run.status, 0) << c.time << ": " << e.run.err;
    EXPECT_EQ(whichFrame(e.bytes, frames), c.frame) << c.time;
  }
  struct Refusal { const char* time; const char* message; };
  for (auto c : {Refusal{"1e1", "no frame at 10.0 s\n"}, Refusal{"99", "no frame at 99.0 s\n"},
                 Refusal{"0.6252", "no frame at 0.6252 s\n"}, Refusal{"inf", "no frame at inf s\n"},
                 Refusal{"1.5abc", "frame: bad time\n"}, Refusal{" 1", "frame: bad time\n"},
                 Refusal{"", "frame: bad time\n"}, Refusal{"1 ", "frame: bad time\n"}}) {
    Extracted e = extract(s, video, c.time);
    EXPECT_EQ(e.run.status, 1) << c.time;
    EXPECT_EQ(e.run.err, c.message);
    EXPECT_EQ(e.run.out, "");
    EXPECT_FALSE(fileExists(s.path("frame.rgb"))) << c.time;
  }
}

TEST(ToneFrame, SeekingChoosesWhatAFullScanChooses) {
  Scratch s;
  // Key frames every 2 s at 10 frames a second, with B-frames: closed groups
  // in MP4 (indexed), open groups whose leading pictures precede their key
  // frame's time in Matroska, and MPEG-TS, which has no index (and starts at 1.4 s).
  const std::string source =
      "-f lavfi -i testsrc2=size=96x64:rate=10 -t 8 -pix_fmt yuv420p -c:v libx264 -g 20 "
      "-keyint_min 20 -sc_threshold 0 -bf 2 ";
  const std::vector<std::string> videos{makeClip(s, "gop.mp4", source),
                                        makeClip(s, "open.mkv", source + "-x264-params open-gop=1"),
                                        makeClip(s, "gop.ts", source)};
  const std::vector<double> times{0.05, 1.9, 1.95, 2.0, 2.00005, 3.6, 4.0, 6.0001, 7.9};
  for (const std::string& video : videos) {
    const auto expected = scanned(video, times);
    for (size_t i = 0; i < times.size(); ++i) {
      ASSERT_FALSE(expected[i].empty()) << video << " at " << times[i];
      Extracted e = extract(s, video, std::to_string(times[i]));
      ASSERT_EQ(e.run.status, 0) << video << " at " << times[i] << ": " << e.run.err;
      EXPECT_TRUE(e.bytes == expected[i]) << video << " at " << times[i] << ": differs by up to "
                                          << maxDifference(e.bytes, expected[i]);
    }
  }
}

TEST(ToneFrame, H264Bt709ColoursHoldWithinThree) {
  Scratch s;
  Rgb p(64, 64);
  struct Patch { uint8_t r, g, b; };
  const Patch patches[4] = {{200, 30, 40}, {20, 180, 60}, {40, 60, 220}, {128, 128, 128}};
  for (int i = 0; i < 4; ++i) p.fill(32 * (i % 2), 32 * (i / 2), 32, 32, patches[i].r, patches[i].g, patches[i].b);
  const std::string video =
      encode(s, "bt709.mp4", {p, p, p}, "10",
             "-vf scale=out_color_matrix=bt709:out_range=tv -pix_fmt yuv420p -c:v libx264 -qp 4 "
             "-colorspace bt709 -color_primaries bt709 -color_trc bt709 -color_range tv");
  Extracted e = extract(s, video, "0.1");
  ASSERT_EQ(e.run.status, 0) << e.run.err;
  Rgb out(64, 64);
  out.bytes = e.bytes;
  ASSERT_EQ(e.bytes.size(), 64u * 64 * 3);
  for (int i = 0; i < 4; ++i) {
    const int x = 32 * (i % 2) + 16, y = 32 * (i / 2) + 16;
    EXPECT_NEAR(out.at(x, y, 0), patches[i].r, 3) << i;
    EXPECT_NEAR(out.at(x, y, 1), patches[i].g, 3) << i;
    EXPECT_NEAR(out.at(x, y, 2), patches[i].b, 3) << i;
  }
}

// Video that names no colour: both programs read it with one matrix, BT.601
// below 720 lines and BT.709 from there. The analysis's BGRA and this frame
// agree, and both are the colour the clip was made from.
TEST(ToneFrame, UntaggedVideoHasTheColourTheAnalysisSees) {
  Scratch s;
  const uint8_t colour[3] = {200, 60, 40};
  struct Case { const char* size; const char* matrix; };
  for (const Case c : {Case{"640x480", "bt601"}, Case{"1280x720", "bt709"}}) {
    SCOPED_TRACE(c.size);
    const std::string video = makeClip(
        s, std::string("untagged-") + c.size + ".mp4",
        std::string("-f lavfi -i color=c=0xC83C28:rate=10:size=") + c.size +
            " -frames:v 2 -vf scale=out_color_matrix=" + c.matrix +
            ":out_range=tv -pix_fmt yuv420p -c:v libx264 -qp 0");
    std::string tags;
    ASSERT_TRUE(shell("ffprobe -v error -show_entries stream=color_space,color_primaries "
                      "-of csv=p=0 '" + video + "' | grep -x unknown,unknown", &tags))
        << "the clip names a colour: " << tags;

    const Extracted e = extract(s, video, "0");
    ASSERT_EQ(e.run.status, 0) << e.run.err;
    auto opened = kestrel::media::openVideo(video);
    ASSERT_TRUE(opened.source && opened.source->next()) << opened.error;
    kestrel::media::FrameConverter converter;
    const kestrel::Picture bgra = converter.bgra(opened.source->frame());
    ASSERT_TRUE(bgra.data);
    ASSERT_EQ(e.bytes.size(), static_cast<size_t>(bgra.width * bgra.height * 3));
    const int64_t x = bgra.width / 2, y = bgra.height / 2;
    const uint8_t* analysis = bgra.data + y * bgra.stride + 4 * x;
    const auto* tone = reinterpret_cast<const uint8_t*>(e.bytes.data()) + 3 * (y * bgra.width + x);
    // Read with the other matrix, red and green would be off by about 12.
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(tone[k], analysis[2 - k], 3) << "channel " << k;
      EXPECT_NEAR(tone[k], colour[k], 3) << "channel " << k;
    }
  }
}

TEST(ToneFrame, PqAndHlgComeOutAsPlausibleSdr) {
  Scratch s;
  // Grey patches from dark to white, and a saturated red one, as SDR.
  Rgb p(80, 16);
  const uint8_t greys[4] = {30, 100, 180, 255};
  for (int i = 0; i < 4; ++i) p.fill(16 * i, 0, 16, 16, greys[i], greys[i], greys[i]);
  p.fill(64, 0, 16, 16, 220, 20, 20);
  for (const char* transfer : {"smpte2084", "arib-std-b67"}) {
    const std::string video = encode(
        s, std::string(transfer) + ".mkv", {p, p}, "10",
        std::string("-vf zscale=tin=bt709:pin=bt709:min=gbr:rin=pc:t=") + transfer +
            ":p=bt2020:m=bt2020nc:r=tv:npl=100,format=yuv420p10le -c:v ffv1 -color_trc " +
            transfer + " -color_primaries bt2020 -colorspace bt2020nc -color_range tv");
    Extracted e = extract(s, video, "0");
    ASSERT_EQ(e.run.status, 0) << transfer << ": " << e.run.err;
    ASSERT_EQ(e.bytes.size(), 80u * 16 * 3);
    Rgb out(80, 16);
    out.bytes = e.bytes;
    int previous = -1;
    for (int i = 0; i < 4; ++i) {
      const int r = out.at(16 * i + 8, 8, 0), g = out.at(16 * i + 8, 8, 1), b = out.at(16 * i + 8, 8, 2);
      EXPECT_NEAR(r, g, 6) << transfer << " grey " << i;  // greys stay grey
      EXPECT_NEAR(b, g, 6) << transfer << " grey " << i;
      EXPECT_GT(g, previous + 10) << transfer << " grey " << i;  // order kept, steps visible
      previous = g;
    }
    EXPECT_GT(out.at(8, 8, 1), 0) << transfer;     // dark grey is not crushed to black
    EXPECT_LT(previous, 255) << transfer;          // white is not clipped
    EXPECT_GT(previous, 100) << transfer;          // nor a dim frame
    EXPECT_GT(out.at(72, 8, 0), out.at(72, 8, 1) + 60) << transfer;  // red stays red
  }
}

TEST(ToneFrame, UnwritableOutputLeavesNoFile) {
  Scratch s;
  const std::string video = encode(s, "v.mkv", patternFrames(2, 8, 8), "8", "-c:v ffv1");
  const std::string missing = s.path("no/dir/out.rgb");
  ProcessResult r = runTone({"frame", video, "0", missing});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "writing " + missing + ": No such file or directory\n");
  EXPECT_EQ(r.out, "");

  std::filesystem::create_directory(s.path("taken.rgb"));
  r = runTone({"frame", video, "0", s.path("taken.rgb")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "writing " + s.path("taken.rgb") + ": Is a directory\n");

  // A file in place stays as it was when the run fails, and is replaced when it succeeds.
  writeFile(s.path("kept.rgb"), "old");
  EXPECT_EQ(runTone({"frame", video, "5", s.path("kept.rgb")}).status, 1);
  EXPECT_EQ(readFile(s.path("kept.rgb")), "old");
  EXPECT_EQ(runTone({"frame", video, "0", s.path("kept.rgb"), "extra", "words"}).status, 0);
  EXPECT_EQ(readFile(s.path("kept.rgb")).size(), 8u * 8 * 3);
  size_t entries = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(s.dir())) ++entries;
  EXPECT_EQ(entries, 4u);  // v.mkv, v.mkv.raw, taken.rgb, kept.rgb: no temporary files
}
