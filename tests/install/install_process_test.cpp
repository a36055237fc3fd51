// The programs installed under a prefix, away from the build tree, as a host
// meets them: kestrel-probe starts (or opens) each mode from the prefix's lib/kestrel/,
// reads the models from the prefix's share/kestrel/models or KESTREL_MODELS
// and never from the build tree's, and each mode's program maps only the
// libraries that mode uses.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "tests/support/process.h"
#include "tests/support/scratch.h"

using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

class Installed : public ::testing::Test {
 protected:
  // The programs alone (no models) under a prefix of their own.
  static void SetUpTestSuite() {
    prefix_ = new Scratch;
    std::string log;
    ASSERT_TRUE(shell(std::string(KESTREL_CMAKE " --install " KESTREL_BUILD_DIR " --component programs --prefix ") +
                          prefix_->path("usr"),
                      &log))
        << log;
  }
  static void TearDownTestSuite() { delete prefix_; }

  static std::string path(const std::string& name) { return prefix_->path("usr/" + name); }

  // A 64 x 36 person stream of one frame: the smallest run that reads a model.
  static ProcessResult personStream(const std::string& probe, const std::map<std::string, std::string>& env = {}) {
    return runProcess({probe, "--person", "64", "36", "fast"},
                      {.input = std::string(4 * 64 * 36, '\x50'), .env = env, .unsetEnv = {"KESTREL_MODELS"}});
  }

  // The shared objects a program needs, as the dynamic loader resolves them.
  static std::string libraries(const std::string& program) {
    const ProcessResult r = runProcess({"ldd", path(program)});
    EXPECT_EQ(r.status, 0) << program << ": " << r.err;
    return r.out;
  }

  static Scratch* prefix_;
};
Scratch* Installed::prefix_ = nullptr;

// As today: the person stream reports what the vision service could not do.
const std::string kMissing = "Vision: model file rvm_320x180_r65.onnx is missing; run ./setup to install the models\n";

TEST_F(Installed, ReadsItsOwnModelsOrTheNamedFolderNeverTheBuildTrees) {
  // The build tree has the models; the installed copy must not see them.
  const ProcessResult none = personStream(path("bin/kestrel-probe"));
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.err, kMissing);
  EXPECT_EQ(none.out, "");

  Scratch other;
  const ProcessResult empty = personStream(path("bin/kestrel-probe"), {{"KESTREL_MODELS", other.dir()}});
  EXPECT_EQ(empty.status, 1);
  EXPECT_EQ(empty.err, kMissing);

  const ProcessResult named = personStream(path("bin/kestrel-probe"), {{"KESTREL_MODELS", KESTREL_MODEL_DIR}});
  EXPECT_EQ(named.status, 0) << named.err;
  EXPECT_EQ(named.out.size(), 32u + 64 * 36);

  // The models in their place, the program reached through a link elsewhere
  // (as from a folder on the PATH): it finds its prefix, and its models.
  fs::create_directories(path("share/kestrel"));
  fs::create_directory_symlink(KESTREL_MODEL_DIR, path("share/kestrel/models"));
  fs::create_symlink(path("bin/kestrel-probe"), other.path("kestrel-probe"));
  const ProcessResult own = personStream(other.path("kestrel-probe"));
  EXPECT_EQ(own.status, 0) << own.err;
  EXPECT_EQ(own.out.size(), 32u + 64 * 36);
  fs::remove(path("share/kestrel/models"));
}

TEST_F(Installed, EachModeMapsOnlyTheLibrariesItUses) {
  // The front maps the C library alone (the sanitizers' runtime aside).
  const ProcessResult ldd = runProcess({"ldd", path("bin/kestrel-probe")});
  const std::string front = ldd.out + ldd.err;
  for (const char* library : {"libvips", "libdnnl", "libopencv", "libprotobuf", "libav", "libpulse"})
    EXPECT_EQ(front.find(library), std::string::npos) << "kestrel-probe maps " << library << ":\n" << front;

  const std::map<std::string, std::pair<std::vector<std::string>, std::vector<std::string>>> modes = {
      {"kestrel-probe-photo", {{"libvips"}, {"libdnnl", "libopencv", "libprotobuf", "libav", "libsw", "libpulse"}}},
      {"kestrel-probe-audio-inputs.so",
       {{"libpulse"}, {"libvips", "libdnnl", "libopencv", "libprotobuf", "libav", "libsw"}}},
      {"kestrel-probe-record", {{"libpulse"}, {"libvips", "libdnnl", "libopencv", "libprotobuf", "libavcodec"}}},
      {"kestrel-probe-cutout", {{"libdnnl", "libopencv"}, {"libvips", "libpulse", "libavcodec"}}},
      {"kestrel-probe-analysis", {{"libdnnl", "libavcodec"}, {"libvips", "libpulse"}}},
  };
  for (const auto& [mode, expected] : modes) {
    const std::string mapped = libraries("lib/kestrel/" + mode);
    for (const std::string& library : expected.first)
      EXPECT_NE(mapped.find(library), std::string::npos) << mode << " lacks " << library;
    for (const std::string& library : expected.second)
      EXPECT_EQ(mapped.find(library), std::string::npos) << mode << " maps " << library << ":\n" << mapped;
  }
}

TEST_F(Installed, RoutesAsBeforeAndNamesAModeItCannotStart) {
  const ProcessResult usage = runProcess({path("bin/kestrel-probe")});
  EXPECT_EQ(usage.status, 1);
  EXPECT_EQ(usage.err, "usage: kestrel-probe <media path> [hz] | kestrel-probe --cutout <width> <height>\n");
  const ProcessResult tone = runProcess({path("bin/kestrel-tone")});
  EXPECT_EQ(tone.status, 1);
  EXPECT_EQ(tone.err, "usage: kestrel-tone lut <grid.mov> <N> <P> <out.cube> | frame <video> <seconds> <out.rgb>\n");

  Scratch s;
  fs::rename(path("lib/kestrel/kestrel-probe-photo"), s.path("kestrel-probe-photo"));
  const ProcessResult photo = runProcess({path("bin/kestrel-probe"), "--photo", "in.jpg", "out.png", "64"});
  fs::rename(s.path("kestrel-probe-photo"), path("lib/kestrel/kestrel-probe-photo"));
  EXPECT_EQ(photo.status, 1);
  EXPECT_EQ(photo.err, "can't start " + path("lib/kestrel/kestrel-probe-photo") + ": No such file or directory\n");
  EXPECT_EQ(photo.out, "");

  // The microphones' mode is a module the front opens: one missing, or not a
  // module at all, is named on one line.
  const std::string module = path("lib/kestrel/kestrel-probe-audio-inputs.so");
  fs::rename(module, s.path("module"));
  const ProcessResult missing = runProcess({path("bin/kestrel-probe"), "--audio-inputs"});
  {
    std::ofstream notAModule(module);
    notAModule << "not a module\n";
  }
  const ProcessResult foreign = runProcess({path("bin/kestrel-probe"), "--audio-inputs"});
  fs::rename(s.path("module"), module);
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "can't load " + module + ": cannot open shared object file: No such file or directory\n");
  EXPECT_EQ(foreign.status, 1);
  EXPECT_EQ(foreign.err.rfind("can't load " + module + ": ", 0), 0u) << foreign.err;
  EXPECT_EQ(std::count(foreign.err.begin(), foreign.err.end(), '\n'), 1) << foreign.err;
  EXPECT_EQ(missing.out + foreign.out, "");
}

}  // namespace
