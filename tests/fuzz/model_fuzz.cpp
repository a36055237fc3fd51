// libFuzzer target: the executor's loader on arbitrary bytes. Every input
// either fails with one ModelError line that names the model and says to run
// ./setup again, or gives a network whose inputs and outputs are the shapes
// it reports and which runs. Small networks are run on inputs filled from the
// bytes, so that a wrong buffer or view shows up under AddressSanitizer.
// The loader allows a 2 GB arena: run with -rss_limit_mb=3072, e.g.
//   tests/fuzz/build-and-run 300 model_fuzz -rss_limit_mb=3072
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/vision/engine/network.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using namespace kestrel::vision::engine;

// Networks larger than this are loaded but not run: the fuzzer looks for
// wrong memory, not for slow arithmetic.
constexpr double kMaxRunMacs = 5e7;
constexpr int64_t kMaxRunElements = int64_t{1} << 22;
constexpr size_t kMaxRunBytes = size_t{64} << 20;  // a Resize to 7 x 458752 took seconds

int64_t elements(const Dims& d) {
  const int64_t n = elementCount(d);
  kestrel::fuzz::check(n > 0);
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<Network> net;
  try {
    net = Network::fromBytes(data, size, "fuzz.onnx");
  } catch (const ModelError& e) {
    const std::string line = e.what();
    kestrel::fuzz::check(line.rfind("model file fuzz.onnx ", 0) == 0);
    kestrel::fuzz::check(line.find('\n') == std::string::npos);
    return 0;
  }
  kestrel::fuzz::check(net->inputCount() > 0 && net->outputCount() > 0);
  int64_t total = 0;
  for (size_t k = 0; k < net->inputCount(); ++k) total += elements(net->inputDims(k));
  for (size_t k = 0; k < net->outputCount(); ++k) total += elements(net->outputDims(net->outputName(k)));
  if (total > kMaxRunElements || net->macs() > kMaxRunMacs || net->arenaBytes() > kMaxRunBytes) return 0;
  for (size_t k = 0; k < net->inputCount(); ++k) {
    float* in = net->input(k);
    const int64_t n = elements(net->inputDims(k));
    for (int64_t i = 0; i < n; ++i) in[i] = size ? static_cast<float>(data[i % size]) / 64.0f - 2.0f : 0.0f;
  }
  net->run();
  // Every output element is readable (AddressSanitizer checks the span).
  float sink = 0;
  for (size_t k = 0; k < net->outputCount(); ++k) {
    const std::string& name = net->outputName(k);
    const float* out = net->output(name);
    const int64_t n = elements(net->outputDims(name));
    sink += out[0] + out[n - 1];
  }
  volatile float keep = sink;
  (void)keep;
  return 0;
}
