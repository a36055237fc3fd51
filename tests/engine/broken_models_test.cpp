// Broken model files, end to end: kestrel-probe's fast person stream with a
// bad model file (the fast level's RVM) in the models folder (KESTREL_MODELS)
// stops with one line naming the file and saying to run ./setup again,
// status 1, never a crash.
#include <gtest/gtest.h>

#include <onnx/onnx_pb.h>

#include <filesystem>
#include <optional>
#include <random>

#include "tests/support/process.h"
#include "tests/support/scratch.h"

using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

const std::string kModels = KESTREL_MODEL_DIR;
// What `--person W H fast` loads.
const std::string kFastMatte = "rvm_320x180_r65.onnx";

std::string modelBytes(const std::string& name) {
  const std::string path = kModels + "/" + name;
  if (!fileExists(path)) ADD_FAILURE() << path << " is missing: run ./setup";
  return fileExists(path) ? readFile(path) : std::string();
}

// The fast matte's model changed by `edit`, saved again: still a well-formed ONNX file.
template <typename Edit>
std::string editedMatte(Edit edit) {
  onnx::ModelProto model;
  const std::string bytes = modelBytes(kFastMatte);
  EXPECT_TRUE(model.ParseFromString(bytes));
  edit(*model.mutable_graph());
  return model.SerializeAsString();
}

void expectOneLine(const ProcessResult& r, const std::string& name, const std::string& label) {
  EXPECT_EQ(r.status, 1) << label << ": " << r.err;
  const auto errLines = lines(r.err);
  ASSERT_EQ(errLines.size(), 1u) << label << ": " << r.err;
  EXPECT_NE(errLines[0].find(name), std::string::npos) << label << ": " << r.err;
  EXPECT_NE(errLines[0].find("run ./setup"), std::string::npos) << label << ": " << r.err;
}

}  // namespace

TEST(BrokenModels, EndThePersonStreamWithOneLine) {
  Scratch s;
  fs::create_directories(s.path("models"));
  const std::string good = modelBytes(kFastMatte);
  std::string noise(4096, '\0');
  std::mt19937 random(14);
  for (char& c : noise) c = static_cast<char>(random());
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"cut in half", good.substr(0, good.size() / 2)},
      {"random bytes", noise},
      {"empty", ""},
      {"another model under its name", modelBytes("person_selfie.onnx")},
      {"its output renamed", editedMatte([](onnx::GraphProto& g) {
         for (auto& node : *g.mutable_node())
           for (auto& out : *node.mutable_output())
             if (out == g.output(0).name()) out = "mask";
         g.mutable_output(0)->set_name("mask");
       })},
      {"an op the executor does not take", editedMatte([](onnx::GraphProto& g) {
         g.mutable_node(g.node_size() / 2)->set_op_type("Hardmax");
       })},
  };
  const std::string frame(4 * 64 * 36, '\x50');
  const auto personStream = [&] {
    return runProbe({"--person", "64", "36", "fast"}, {.input = frame, .env = {{"KESTREL_MODELS", s.path("models")}}});
  };
  for (const auto& [label, bytes] : cases) {
    writeFile(s.path("models/" + kFastMatte), bytes);
    const auto r = personStream();
    expectOneLine(r, kFastMatte, label);
    EXPECT_EQ(r.out, "") << label;
  }
  // The good file in the same place: the stream runs.
  writeFile(s.path("models/" + kFastMatte), good);
  const auto runs = personStream();
  EXPECT_EQ(runs.status, 0) << runs.err;
  EXPECT_EQ(runs.out.size(), 32u + 64 * 36);
}

TEST(BrokenModels, AMissingFileIsNamedAndAHugeOneRefused) {
  // A missing file, seen through the loader itself.
  Scratch s;
  const auto r = runProcess({RUN_MODEL, s.path("gone.onnx"), s.dir()});
  expectOneLine(r, "gone.onnx", "missing");
  // Resizes to 50 million rows and to 15 million columns are refused before
  // anything is sized by them (their tables would be).
  for (const char* name : {"resize-to-50331655-rows", "resize-to-15663104-columns"}) {
    const std::string path = std::string(KESTREL_SOURCE_DIR "/tests/fuzz/corpus/model_fuzz/") + name;
    const auto huge = runProcess({RUN_MODEL, path, s.dir()});
    EXPECT_EQ(huge.status, 1);
    EXPECT_EQ(huge.err, "model file " + path +
                            " node y (Resize): resizes to more than 65536 along an axis; run ./setup to install it "
                            "again\n");
  }
}
