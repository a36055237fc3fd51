// Every mode that reads files, on every item of the broken-media corpus:
// each run ends in time with a valid result or exactly one line on standard
// error and status 1; never a crash, a hang, a partial output file or a huge
// allocation.
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
// Sanitized programs run a few times slower and reserve terabytes of address
// space for their shadow memory, so neither limit applies as it stands.
constexpr double kSeconds = 40;
const std::optional<uint64_t> kAddressSpace;
#else
constexpr double kSeconds = 10;
const std::optional<uint64_t> kAddressSpace = uint64_t{4} << 30;
#endif
constexpr int64_t kMostRssKb = 2 << 20;  // 2 GiB

const char* const kItems[] = {
    "valid.mp4",          "empty.mp4",
    "empty.jpg",          "random.mp4",
    "random.png",         "truncated-front-index.mp4",
    "truncated-end-index.mp4", "index-past-end.mp4",
    "corrupt-middle-frame.mp4", "one-pixel.mp4",
    "huge-frames.y4m",    "valid.png",
    "bad-crc.png",        "half.jpg",
    "no-frames.gif",      "huge.png",
    "huge.jpg",           "noisy.jxl",
};

enum class Mode { Video, Photo, ToneFrame, ToneLut };

struct Case {
  std::string item;
  Mode mode;
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
  for (const char* item : kItems)
    for (Mode m : {Mode::Video, Mode::Photo, Mode::ToneFrame, Mode::ToneLut})
      cases.push_back({item, m});
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

class BrokenMedia : public ::testing::TestWithParam<Case> {};

TEST_P(BrokenMedia, EndsWithAResultOrOneLine) {
  const Case& c = GetParam();
  const std::string media = corpus() + "/" + c.item;
  Scratch scratch;
  const std::string out = outputName(c.mode).empty() ? "" : scratch.path(outputName(c.mode));
  ProcessOptions options;
  options.timeoutSeconds = kSeconds;
  options.addressSpaceLimit = kAddressSpace;
  options.cwd = scratch.dir();
  const ProcessResult r = runProcess(command(c.mode, media, out), options);

  ASSERT_FALSE(r.timedOut) << "still running after " << kSeconds << " s";
  ASSERT_TRUE(r.status == 0 || r.status == 1) << "status " << r.status << "\n" << r.err;
  EXPECT_LT(r.maxRssKb, kMostRssKb);
  // The outcome, for the table of the corpus.
  std::printf("outcome %s %s: status %d, %lld MB: %s\n", c.item.c_str(), modeName(c.mode).c_str(),
              r.status, static_cast<long long>(r.maxRssKb / 1024),
              r.status == 0 ? lastLine(r.out).substr(0, 60).c_str()
                            : r.err.substr(0, r.err.size() - 1).c_str());
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
