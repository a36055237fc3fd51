#include "platform/vision/engine/network.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/vision/engine/calibration.h"
#include "platform/vision/engine/compiler.h"

namespace kestrel::vision::engine {

// What a loaded network holds: the bound program, and while it calibrates
// the observer of its runs.
struct Network::State {
  std::string label;
  Program program;
  double macs = 0;
  std::unique_ptr<Calibration> calibration;
};

namespace {

// Dims in a message: "1x3x256x256".
std::string sizeText(const Dims& d) { return dimsText(d, "x", false); }

// Times each step of a run by its kind, and passes the steps on to another
// observer (calibration) if there is one.
class StepTimes : public RunObserver {
 public:
  explicit StepTimes(RunObserver* inner) : inner_(inner) {}
  void beforeStep(const Program& p, const StepRec& s) override {
    if (inner_) inner_->beforeStep(p, s);
  }
  bool timed() const override { return true; }
  void afterStep(const StepRec& s, double ms) override { msByKind[s.kind] += ms; }
  std::map<std::string, double> msByKind;

 private:
  RunObserver* inner_;
};

// Names read from the file may hold any bytes: the message stays one line.
std::string printable(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  return text;
}

}  // namespace

Network::Network(std::unique_ptr<State> s) : s_(std::move(s)) {}
Network::~Network() = default;

namespace {

std::string readFile(const std::string& path, bool& ok) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  ok = static_cast<bool>(file);
  if (!ok) return {};
  const std::streamoff size = file.tellg();
  ok = size >= 0;
  if (!ok) return {};
  std::string bytes(static_cast<size_t>(size), '\0');
  file.seekg(0);
  ok = static_cast<bool>(file.read(bytes.data(), size));
  return bytes;
}

// A model file mapped read-only: the parser reads the page cache's copy
// instead of a buffer of our own (one copy of the largest model and its
// page faults fewer while the models load).
class MappedFile {
 public:
  explicit MappedFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
      size_ = static_cast<size_t>(st.st_size);
      ok_ = true;
      if (size_ > 0) {
        void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
        if (p == MAP_FAILED) ok_ = false;
        else data_ = p;
      }
    }
    ::close(fd);
  }
  ~MappedFile() {
    if (data_) ::munmap(data_, size_);
  }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  bool ok() const { return ok_; }
  const void* data() const { return data_ ? data_ : ""; }
  size_t size() const { return data_ ? size_ : 0; }

 private:
  void* data_ = nullptr;
  size_t size_ = 0;
  bool ok_ = false;
};

// One line a quantized input: "u8" or "s8", the scale, the value's name.
std::map<std::string, Int8Input> parseInt8(const std::string& text) {
  std::map<std::string, Int8Input> out;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string type, name;
    Int8Input q;
    if (!(words >> type >> q.scale) || (type != "u8" && type != "s8") || !(q.scale > 0) || !(q.scale < 1e30f))
      throw ModelError("has an int8 side file with a bad line");
    words >> std::ws;
    std::getline(words, name);
    if (name.empty()) throw ModelError("has an int8 side file with a bad line");
    q.isUnsigned = type == "u8";
    out[name] = q;
  }
  return out;
}

}  // namespace

std::string Network::int8Path(const std::string& modelPath) {
  const std::string suffix = ".onnx";
  if (modelPath.size() > suffix.size() && modelPath.compare(modelPath.size() - suffix.size(), suffix.size(), suffix) == 0)
    return modelPath.substr(0, modelPath.size() - suffix.size()) + ".int8";
  return modelPath + ".int8";
}

std::unique_ptr<Network> Network::load(const std::string& path, const std::string& label) {
  const MappedFile file(path);
  if (!file.ok()) throw ModelError("model file " + label + " can't be read; run ./setup to install it again");
  std::string int8;
  const char* forceFloat = std::getenv("KESTREL_FLOAT");
  bool ok = false;
  if (!(forceFloat && std::string(forceFloat) == "1")) int8 = readFile(int8Path(path), ok);
  return fromBytes(file.data(), file.size(), label, int8);
}

std::unique_ptr<Network> Network::fromBytes(const void* bytes, size_t size, const std::string& label,
                                            const std::string& int8, bool forCalibration) {
  std::unique_ptr<State> state;
  try {
    const std::map<std::string, Int8Input> quantized = parseInt8(int8);
    Compiled compiled = compile(resolvePlan(parseOnnx(bytes, size)), quantized,
                                forCalibration ? FloatJoins::Whole : FloatJoins::Split);
    compiled.program.bind();
    state = std::make_unique<State>(State{label, std::move(compiled.program), compiled.macs, nullptr});
  } catch (const ModelError& e) {
    throw ModelError("model file " + label + " " + printable(e.what()) + "; run ./setup to install it again");
  } catch (const dnnl::error& e) {
    throw ModelError("model file " + label + " can't be compiled (" + printable(e.what()) +
                     "); run ./setup to install it again");
  } catch (const std::bad_alloc&) {
    throw ModelError("model file " + label + " needs more memory than there is");
  }
  return std::unique_ptr<Network>(new Network(std::move(state)));
}

bool Network::int8() const {
  const auto& steps = s_->program.steps;
  return std::any_of(steps.begin(), steps.end(), [](const StepRec& s) { return s.kind == "Quantize"; });
}

void Network::recordRanges() {
  if (!s_->calibration) s_->calibration = std::make_unique<Calibration>();
}

std::map<std::string, ValueRange> Network::ranges() const {
  return s_->calibration ? s_->calibration->ranges() : std::map<std::string, ValueRange>{};
}

const std::string& Network::label() const { return s_->label; }
size_t Network::inputCount() const { return s_->program.inputValues.size(); }
const std::string& Network::inputName(size_t k) const { return s_->program.inputNames.at(k); }
const Dims& Network::inputDims(size_t k) const { return s_->program.values[s_->program.inputValues.at(k)].dims; }
float* Network::input(size_t k) { return s_->program.data(s_->program.inputValues.at(k)); }

float* Network::input(const std::string& name) {
  for (size_t k = 0; k < s_->program.inputNames.size(); ++k)
    if (s_->program.inputNames[k] == name) return input(k);
  throw ModelError("model file " + s_->label + " has no input " + name + "; run ./setup to install it again");
}

void Network::run() { s_->program.run(s_->calibration.get()); }
size_t Network::outputCount() const { return s_->program.outputNames.size(); }
const std::string& Network::outputName(size_t k) const { return s_->program.outputNames.at(k); }

const float* Network::output(const std::string& name) const {
  auto it = s_->program.outputValues.find(name);
  if (it == s_->program.outputValues.end())
    throw ModelError("model file " + s_->label + " has no output " + name + "; run ./setup to install it again");
  return s_->program.data(it->second);
}

const Dims& Network::outputDims(const std::string& name) const {
  auto it = s_->program.outputValues.find(name);
  if (it == s_->program.outputValues.end())
    throw ModelError("model file " + s_->label + " has no output " + name + "; run ./setup to install it again");
  return s_->program.values[it->second].dims;
}

void Network::expectOutput(const std::string& name, const Dims& dims) const {
  if (outputDims(name) != dims)
    throw ModelError("model file " + s_->label + " gives " + name + " as " + sizeText(outputDims(name)) +
                     " where " + sizeText(dims) + " is expected; run ./setup to install it again");
}

void Network::expectInput(size_t k, const Dims& dims) const {
  if (k >= inputCount() || inputDims(k) != dims)
    throw ModelError("model file " + s_->label + " does not take a " + sizeText(dims) +
                     " input; run ./setup to install it again");
}

std::string Network::summary() const {
  std::map<std::string, int> counts;
  for (const StepRec& step : s_->program.steps) ++counts[step.kind];
  std::ostringstream s;
  for (const auto& [kind, count] : counts) s << kind << " " << count << ", ";
  s << "arena " << s_->program.buffers.size() << " buffers";
  return s.str();
}

double Network::macs() const { return s_->macs; }
size_t Network::arenaBytes() const { return s_->program.arenaBytes; }

std::vector<std::pair<std::string, double>> Network::profile() {
  StepTimes times(s_->calibration.get());
  s_->program.run(&times);
  std::vector<std::pair<std::string, double>> out(times.msByKind.begin(), times.msByKind.end());
  std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
  return out;
}

}  // namespace kestrel::vision::engine
