// Calibration for int8: runs a float model over input tensors and writes the
// side file that lets the executor run its convolutions in int8. Each
// convolution input is quantized by its range over the runs: unsigned where
// it never goes below zero (after ReLU-like ops), signed elsewhere. Then, for
// the check inputs, it writes the outputs of the float and the int8 model,
// for the model step to judge whether int8 keeps the model's accuracy.
//   calibrate MODEL OUT.int8 CHECKDIR CALIBRATION.f32... -- CHECK.f32...
// Each input file holds one run's picture input, row-major float32; outputs go
// to CHECKDIR/float-<check>-<output>.f32 and, for side file OUT.int8.<j>
// (the j-th share of inputs kept in float), CHECKDIR/int8<j>-<check>-<output>.f32.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/vision/engine/network.h"

using kestrel::vision::engine::Network;

namespace {

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("can't read " + path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The input a file fills: "src" where the model has one (a video matting
// model, whose other inputs are its recurrent states), else the first.
size_t pictureInput(const Network& net) {
  for (size_t k = 0; k < net.inputCount(); ++k)
    if (net.inputName(k) == "src") return k;
  return 0;
}

// The output that feeds an input on the next frame: rNo for rNi.
std::string stateOutput(const Network& net, size_t k) {
  std::string name = net.inputName(k);
  if (name.size() < 2 || name.back() != 'i') return "";
  name.back() = 'o';
  for (size_t j = 0; j < net.outputCount(); ++j)
    if (net.outputName(j) == name) return name;
  return "";
}

// One run per file; a recurrent model sees the file as a still stream of
// three frames from zero states, as a stream's first frames are.
void feed(Network& net, const std::string& path) {
  const size_t picture = pictureInput(net);
  const size_t count = static_cast<size_t>(kestrel::vision::engine::elementCount(net.inputDims(picture)));
  const std::string data = readAll(path);
  if (data.size() != count * sizeof(float))
    throw std::runtime_error(path + " holds " + std::to_string(data.size()) + " bytes, not " +
                             std::to_string(count) + " floats");
  std::copy(data.begin(), data.end(), reinterpret_cast<char*>(net.input(picture)));
  bool recurrent = false;
  for (size_t k = 0; k < net.inputCount(); ++k) {
    if (k == picture) continue;
    float* in = net.input(k);
    std::fill(in, in + kestrel::vision::engine::elementCount(net.inputDims(k)), 0.0f);
    recurrent = recurrent || !stateOutput(net, k).empty();
  }
  for (int frame = 0; frame < (recurrent ? 3 : 1); ++frame) {
    if (frame > 0)
      for (size_t k = 0; k < net.inputCount(); ++k)
        if (const std::string out = stateOutput(net, k); !out.empty())
          std::copy_n(net.output(out), kestrel::vision::engine::elementCount(net.inputDims(k)), net.input(k));
    net.run();
  }
}

void writeOutputs(const Network& net, const std::string& prefix) {
  for (size_t k = 0; k < net.outputCount(); ++k) {
    const std::string& name = net.outputName(k);
    const size_t count = static_cast<size_t>(kestrel::vision::engine::elementCount(net.outputDims(name)));
    std::ofstream out(prefix + "-" + std::to_string(k) + ".f32", std::ios::binary);
    out.write(reinterpret_cast<const char*>(net.output(name)), static_cast<std::streamsize>(count * sizeof(float)));
    if (!out) throw std::runtime_error("can't write " + prefix);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: calibrate MODEL OUT.int8 CHECKDIR CALIBRATION.f32... -- CHECK.f32...\n");
    return 2;
  }
  std::vector<std::string> calibration, checks;
  bool checking = false;
  for (int k = 4; k < argc; ++k) {
    if (std::string(argv[k]) == "--") checking = true;
    else (checking ? checks : calibration).push_back(argv[k]);
  }
  try {
    const std::string bytes = readAll(argv[1]);
    auto net = Network::fromBytes(bytes.data(), bytes.size(), argv[1]);
    net->recordRanges();
    for (const std::string& path : calibration) feed(*net, path);
    // Each input's scale, and its signal-to-quantization-noise ratio: the
    // inputs with the least keep float first.
    struct Entry {
      std::string line;
      double snr;
    };
    std::vector<Entry> entries;
    for (const auto& [name, r] : net->ranges()) {
      if (!(r.hi > r.lo)) continue;
      const bool isUnsigned = r.lo >= 0;
      const double scale = isUnsigned ? r.hi / 255.0 : std::max(std::fabs(r.lo), std::fabs(r.hi)) / 127.0;
      std::ostringstream line;
      line << (isUnsigned ? "u8 " : "s8 ") << scale << " " << name << "\n";
      entries.push_back({line.str(), r.meanSquare / (scale * scale / 12)});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.snr > b.snr; });
    // One side file a share of inputs kept in float: the model step keeps the first that agrees.
    const double floatShares[] = {0, 0.1, 0.2, 0.35, 0.5};
    for (size_t j = 0; j < std::size(floatShares); ++j) {
      std::ostringstream side;
      side << "# int8 scales of the convolution inputs: type, scale, value\n";
      const size_t kept = entries.size() - static_cast<size_t>(std::lround(floatShares[j] * entries.size()));
      for (size_t k = 0; k < kept; ++k) side << entries[k].line;
      auto quantized = Network::fromBytes(bytes.data(), bytes.size(), argv[1], side.str());
      const auto floating = Network::fromBytes(bytes.data(), bytes.size(), argv[1]);
      for (size_t k = 0; k < checks.size(); ++k) {
        if (j == 0) {
          feed(*floating, checks[k]);
          writeOutputs(*floating, std::string(argv[3]) + "/float-" + std::to_string(k));
        }
        feed(*quantized, checks[k]);
        writeOutputs(*quantized, std::string(argv[3]) + "/int8" + std::to_string(j) + "-" + std::to_string(k));
      }
      const std::string path = std::string(argv[2]) + "." + std::to_string(j);
      std::ofstream out(path);
      out << side.str();
      if (!out) throw std::runtime_error("can't write " + path);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "calibrate: %s\n", e.what());
    return 1;
  }
  return 0;
}
