// Every mode that reads files, on every item of the broken-media corpus:
// each run ends in time with the outcome the table gives for it, a valid
// result or exactly one line on standard error and status 1; never a crash, a
// hang, a partial output file or a huge allocation.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/scratch.h"

using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

#ifdef KESTREL_SANITIZED
// Sanitized programs run a few times slower.
constexpr double kSeconds = 40;
#else
// A hang guard, not a speed target: the models load on a machine that may be
// busy with other builds.
constexpr double kSeconds = 30;
#endif
constexpr int64_t kMostRssKb = 2 << 20;  // 2 GiB

enum class Mode { Video, Photo, ToneFrame, ToneLut };

// How a run ends: its status, and its last line (of standard output on
// success, the error line on failure); {} stands for the item's path.
struct Outcome {
  int status;
  const char* line;
};

struct Item {
  const char* name;
  Outcome video, photo, toneFrame, toneLut;
};

// Each item's outcome in every mode. A change here is a change of behaviour:
// a broken file that a mode reads or refuses differently than before.
const Item kItems[] = {
    {"valid.mp4",
     {0, R"({"type":"done","frames":2})"},
     {1, "can't read the picture {}"},
     {0, "320 180"},
     {1, "read 20 of 2 frames: nil"}},
    {"empty.mp4",
     {1, "can't open the video: Invalid data found when processing input"},
     {1, "can't read the picture {}"},
     {1, "no picture in {}"},
     {1, "no picture in {}"}},
    {"empty.jpg",
     {1, "can't open the video: Invalid data found when processing input"},
     {1, "can't read the picture {}"},
     {1, "no picture in {}"},
     {1, "no picture in {}"}},
    {"random.mp4",
     {1, "can't open the video: Invalid data found when processing input"},
     {1, "can't read the picture {}"},
     {1, "no picture in {}"},
     {1, "no picture in {}"}},
    {"random.png",
     {1, "decoding stopped: Invalid data found when processing input"},
     {1, "can't read the picture {}"},
     {1, "no frame at 0.5 s"},
     {1, "read 0 of 2 frames: Optional(Invalid data found when processing input)"}},
    {"truncated-front-index.mp4",
     {1, "decoding stopped: Invalid data found when processing input"},
     {1, "can't read the picture {}"},
     {1, "no frame at 0.5 s"},
     {1, "read 3 of 2 frames: Optional(Invalid data found when processing input)"}},
    {"truncated-end-index.mp4",
     {1, "can't open the video: Invalid data found when processing input"},
     {1, "can't read the picture {}"},
     {1, "no picture in {}"},
     {1, "no picture in {}"}},
    {"index-past-end.mp4",
     {0, R"({"type":"done","frames":2})"},
     {1, "can't read the picture {}"},
     {0, "320 180"},
     {1, "read 20 of 2 frames: nil"}},
    {"corrupt-middle-frame.mp4",
     {1, "decoding stopped: Invalid data found when processing input"},
     {1, "can't read the picture {}"},
     {1, "no frame at 0.5 s"},
     {1, "read 5 of 2 frames: Optional(Invalid data found when processing input)"}},
    {"one-pixel.mp4",
     {0, R"({"type":"done","frames":2})"},
     {1, "can't read the picture {}"},
     {0, "1 1"},
     {1, "lut: a grid of 2 x 2 patches of 2 pixels does not fit in a 1 x 1 frame"}},
    {"huge-frames.y4m",
     {1, "can't decode the video: frames of 100000x100000 pixels are too large"
         " (at most 16384x16384 pixels)"},
     {1, "can't read the picture {}"},
     {1, "reading: Optional(frames of 100000x100000 pixels are too large"
         " (at most 16384x16384 pixels))"},
     {1, "reading: Optional(frames of 100000x100000 pixels are too large"
         " (at most 16384x16384 pixels))"}},
    {"valid.png",
     {0, R"({"type":"done","frames":1})"},
     {0, R"({"width":64,"height":48,"alpha":false,"orientation":1,"profile":"","frames":1})"},
     {1, "no frame at 0.5 s"},
     {1, "read 1 of 2 frames: nil"}},
    {"bad-crc.png",
     {0, R"({"type":"done","frames":1})"},
     {1, "can't read the picture {}"},
     {1, "no frame at 0.5 s"},
     {1, "read 1 of 2 frames: nil"}},
    {"half.jpg",
     {0, R"({"type":"done","frames":1})"},
     {1, "can't decode the picture {}"},
     {1, "no frame at 0.5 s"},
     {1, "read 1 of 2 frames: nil"}},
    {"no-frames.gif",
     {0, R"({"type":"done","frames":0})"},
     {1, "can't read the picture {}"},
     {1, "no frame at 0.5 s"},
     {1, "read 0 of 2 frames: nil"}},
    {"huge.png",
     {1, "decoding stopped: Invalid data found when processing input"},
     {1, "can't decode a 100000×100000 picture {}"},
     {1, "no frame at 0.5 s"},
     {1, "read 0 of 2 frames: Optional(Invalid data found when processing input)"}},
    {"huge.jpg",
     {1, "decoding stopped: Invalid data found when processing input"},
     {1, "can't decode a 65500×65500 picture {}"},
     {1, "no frame at 0.5 s"},
     {1, "read 0 of 2 frames: Optional(Invalid data found when processing input)"}},
    {"noisy.jxl",
     {1, "decoding stopped: Invalid data found when processing input"},
     {1, "can't read the picture {}"},
     {1, "no frame at 0.5 s"},
     {1, "read 0 of 2 frames: Optional(Invalid data found when processing input)"}},
};

struct Case {
  std::string item;
  Mode mode;
  Outcome expected;
};

std::string modeName(Mode m) {
  switch (m) {
    case Mode::Video: return "video";
    case Mode::Photo: return "photo";
    case Mode::ToneFrame: return "tone_frame";
    case Mode::ToneLut: return "tone_lut";
  }
  return "";
}

void PrintTo(const Case& c, std::ostream* os) { *os << c.item << " " << modeName(c.mode); }

std::vector<Case> allCases() {
  std::vector<Case> cases;
  for (const Item& item : kItems) {
    cases.push_back({item.name, Mode::Video, item.video});
    cases.push_back({item.name, Mode::Photo, item.photo});
    cases.push_back({item.name, Mode::ToneFrame, item.toneFrame});
    cases.push_back({item.name, Mode::ToneLut, item.toneLut});
  }
  return cases;
}

// The corpus, made once per build folder (CTest makes it first, as a fixture).
std::string corpus() {
  static const std::string dir = [] {
    const std::string d = KESTREL_BROKEN_MEDIA_DIR;
    if (!fileExists(d + "/complete")) {
      std::string log;
      if (!shell(std::string(KESTREL_PYTHON) + " " + KESTREL_SOURCE_DIR +
                     "/tests/broken_media/make_broken_media.py " + d,
                 &log))
        ADD_FAILURE() << log;
    }
    return d;
  }();
  return dir;
}

// The output file's name for a mode, in a folder of its own.
std::string outputName(Mode m) {
  switch (m) {
    case Mode::Photo: return "out.png";
    case Mode::ToneFrame: return "out.rgb";
    case Mode::ToneLut: return "out.cube";
    case Mode::Video: return "";
  }
  return "";
}

std::vector<std::string> command(Mode m, const std::string& media, const std::string& out) {
  switch (m) {
    case Mode::Video: return {KESTREL_PROBE, media, "1"};
    case Mode::Photo: return {KESTREL_PROBE, "--photo", media, out, "256"};
    case Mode::ToneFrame: return {KESTREL_TONE, "frame", media, "0.5", out};
    case Mode::ToneLut: return {KESTREL_TONE, "lut", media, "2", "2", out};
  }
  return {};
}

// Whether a successful run's output is what the mode promises.
void expectValid(Mode m, const ProcessResult& r, const std::string& out) {
  const std::vector<std::string> l = lines(r.out);
  switch (m) {
    case Mode::Video: {
      ASSERT_GE(l.size(), 2u) << r.out;
      EXPECT_EQ(l.front().rfind("{\"type\":\"info\"", 0), 0u);
      EXPECT_EQ(l.back(), "{\"type\":\"done\",\"frames\":" + std::to_string(l.size() - 2) + "}");
      break;
    }
    case Mode::Photo:
      ASSERT_EQ(l.size(), 1u) << r.out;
      EXPECT_EQ(readFile(out).substr(0, 8), "\x89PNG\r\n\x1a\n");
      break;
    case Mode::ToneFrame: {
      long long w = 0, h = 0;
      ASSERT_EQ(std::sscanf(r.out.c_str(), "%lld %lld", &w, &h), 2) << r.out;
      EXPECT_EQ(fs::file_size(out), static_cast<uintmax_t>(w * h * 3));
      break;
    }
    case Mode::ToneLut:
      EXPECT_EQ(lines(readFile(out)).size(), 3u + 8u);
      break;
  }
}

std::string lastLine(const std::string& text) {
  const std::vector<std::string> l = lines(text);
  return l.empty() ? "" : l.back();
}

std::string withPath(std::string line, const std::string& path) {
  if (const size_t at = line.find("{}"); at != std::string::npos) line.replace(at, 2, path);
  return line;
}

class BrokenMedia : public ::testing::TestWithParam<Case> {};

TEST_P(BrokenMedia, EndsWithAResultOrOneLine) {
  const Case& c = GetParam();
  const std::string media = corpus() + "/" + c.item;
  Scratch scratch;
  const std::string out = outputName(c.mode).empty() ? "" : scratch.path(outputName(c.mode));
  ProcessOptions options;
  options.timeoutSeconds = kSeconds;
  options.addressSpaceLimit = kAddressSpaceGuard;
  options.cwd = scratch.dir();
  const ProcessResult r = runProcess(command(c.mode, media, out), options);

  ASSERT_FALSE(r.timedOut) << "still running after " << kSeconds << " s";
  ASSERT_TRUE(r.status == 0 || r.status == 1) << "status " << r.status << "\n" << r.err;
  EXPECT_LT(r.maxRssKb, kMostRssKb);
  EXPECT_EQ(r.status, c.expected.status) << r.err;
  EXPECT_EQ(lastLine(r.status == 0 ? r.out : r.err), withPath(c.expected.line, media));
  if (r.status == 0) {
    EXPECT_EQ(r.err, "");
    expectValid(c.mode, r, out);
    return;
  }
  // One line, and nothing left behind: no output file, no temporary file.
  ASSERT_FALSE(r.err.empty());
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
  EXPECT_TRUE(fs::is_empty(scratch.dir())) << r.err;
  if (c.mode == Mode::Video) {
    EXPECT_EQ(r.out.find("\"type\":\"done\""), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, BrokenMedia, ::testing::ValuesIn(allCases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           std::string name = info.param.item + "_" + modeName(info.param.mode);
                           for (char& ch : name)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return name;
                         });

}  // namespace
