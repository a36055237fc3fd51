// Calibration for int8: runs a float model over input tensors and writes the
// side files that let the executor run its convolutions in int8. Each
// convolution input is quantized by its range over the runs: unsigned where
// it never goes below zero (after ReLU-like ops), signed elsewhere. The
// inputs are ranked, the ones int8 harms least first; each side file keeps a
// share of the last in float. Then, for the check inputs, it writes the
// outputs of the float model and of each side file's int8 model, for the
// model step to judge which keeps the model's accuracy.
//   calibrate MODEL OUT.int8 CHECKDIR [--rank snr|effect] [--float P,P,...]
//             CALIBRATION.f32... -- CHECK.f32...
// Ranks: "snr" (the default) by each input's signal over its quantization
// noise; "effect" by how far quantizing that input alone moves the outputs on
// the calibration inputs (one network per input: slower, and it sees what the
// rest of the network makes of each input's error). --float gives the shares
// kept in float, in percent (default 0,10,20,35,50). Each input file holds one
// run's picture input, row-major float32; outputs go to
// CHECKDIR/float-<check>-<output>.f32 and, for side file OUT.int8.<j> (the
// j-th share), CHECKDIR/int8<j>-<check>-<output>.f32.
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

size_t count(const kestrel::vision::engine::Dims& dims) {
  return static_cast<size_t>(kestrel::vision::engine::elementCount(dims));
}

// One run per file; a recurrent model sees the file as a still stream of
// three frames from zero states, as a stream's first frames are.
void feed(Network& net, const std::string& data) {
  const size_t picture = pictureInput(net);
  if (data.size() != count(net.inputDims(picture)) * sizeof(float))
    throw std::runtime_error("an input file holds " + std::to_string(data.size()) + " bytes, not " +
                             std::to_string(count(net.inputDims(picture))) + " floats");
  std::copy(data.begin(), data.end(), reinterpret_cast<char*>(net.input(picture)));
  bool recurrent = false;
  for (size_t k = 0; k < net.inputCount(); ++k) {
    if (k == picture) continue;
    std::fill_n(net.input(k), count(net.inputDims(k)), 0.0f);
    recurrent = recurrent || !stateOutput(net, k).empty();
  }
  for (int frame = 0; frame < (recurrent ? 3 : 1); ++frame) {
    if (frame > 0)
      for (size_t k = 0; k < net.inputCount(); ++k)
        if (const std::string out = stateOutput(net, k); !out.empty())
          std::copy_n(net.output(out), count(net.inputDims(k)), net.input(k));
    net.run();
  }
}

using Outputs = std::vector<std::vector<float>>;

Outputs outputsOf(const Network& net) {
  Outputs out;
  for (size_t k = 0; k < net.outputCount(); ++k) {
    const float* p = net.output(net.outputName(k));
    out.emplace_back(p, p + count(net.outputDims(net.outputName(k))));
  }
  return out;
}

void writeOutputs(const Network& net, const std::string& prefix) {
  const Outputs outputs = outputsOf(net);
  for (size_t k = 0; k < outputs.size(); ++k) {
    std::ofstream out(prefix + "-" + std::to_string(k) + ".f32", std::ios::binary);
    out.write(reinterpret_cast<const char*>(outputs[k].data()),
              static_cast<std::streamsize>(outputs[k].size() * sizeof(float)));
    if (!out) throw std::runtime_error("can't write " + prefix);
  }
}

// How far `got` strays from `reference`: per output the mean absolute
// difference over the reference's mean absolute value, summed, so that no
// output's units weigh more than another's.
double strayed(const Outputs& reference, const Outputs& got) {
  double sum = 0;
  for (size_t k = 0; k < reference.size(); ++k) {
    double difference = 0, size = 0;
    for (size_t i = 0; i < reference[k].size(); ++i) {
      difference += std::fabs(static_cast<double>(got[k][i]) - reference[k][i]);
      size += std::fabs(static_cast<double>(reference[k][i]));
    }
    sum += difference / std::max(size, 1e-12);
  }
  return sum;
}

// One convolution input's side-file line, and how much int8 harms it: the
// lower, the later it is kept in float.
struct Entry {
  std::string line;
  double harm = 0;
};

constexpr const char* kHeader = "# int8 scales of the convolution inputs: type, scale, value\n";

// Every input's scale; harm is the noise over the signal quantizing adds.
std::vector<Entry> scales(const Network& calibrated) {
  std::vector<Entry> entries;
  for (const auto& [name, r] : calibrated.ranges()) {
    if (!(r.hi > r.lo)) continue;
    const bool isUnsigned = r.lo >= 0;
    const double scale = isUnsigned ? r.hi / 255.0 : std::max(std::fabs(r.lo), std::fabs(r.hi)) / 127.0;
    std::ostringstream line;
    line << (isUnsigned ? "u8 " : "s8 ") << scale << " " << name << "\n";
    entries.push_back({line.str(), (scale * scale / 12) / std::max(r.meanSquare, 1e-30)});
  }
  return entries;
}

// Harm as the effect on the outputs: each input alone in int8, against the
// float outputs of the same calibration inputs.
void measureEffects(const std::string& bytes, const std::string& label, const std::vector<std::string>& inputs,
                    const std::vector<Outputs>& reference, std::vector<Entry>& entries) {
  for (size_t e = 0; e < entries.size(); ++e) {
    auto one = Network::fromBytes(bytes.data(), bytes.size(), label, kHeader + entries[e].line);
    double harm = 0;
    for (size_t k = 0; k < inputs.size(); ++k) {
      feed(*one, inputs[k]);
      harm += strayed(reference[k], outputsOf(*one));
    }
    entries[e].harm = harm / static_cast<double>(inputs.size());
  }
}

std::vector<double> percents(const std::string& list) {
  std::vector<double> out;
  std::istringstream items(list);
  for (std::string item; std::getline(items, item, ',');) {
    size_t used = 0;
    const double p = std::stod(item, &used);
    if (used != item.size() || !(p >= 0 && p <= 100)) throw std::runtime_error("bad float share " + item);
    out.push_back(p / 100);
  }
  return out;
}

struct Arguments {
  std::string model, side, checkDir, rank = "snr";
  std::vector<double> floatShares = {0, 0.1, 0.2, 0.35, 0.5};
  std::vector<std::string> calibration, checks;
};

Arguments parse(int argc, char** argv) {
  Arguments a;
  a.model = argv[1], a.side = argv[2], a.checkDir = argv[3];
  bool checking = false;
  for (int k = 4; k < argc; ++k) {
    const std::string word = argv[k];
    if (word == "--rank" && k + 1 < argc) a.rank = argv[++k];
    else if (word == "--float" && k + 1 < argc) a.floatShares = percents(argv[++k]);
    else if (word == "--") checking = true;
    else (checking ? a.checks : a.calibration).push_back(word);
  }
  if (a.rank != "snr" && a.rank != "effect") throw std::runtime_error("unknown rank " + a.rank);
  return a;
}

std::vector<std::string> readEach(const std::vector<std::string>& paths) {
  std::vector<std::string> out;
  for (const std::string& p : paths) out.push_back(readAll(p));
  return out;
}

void calibrate(const Arguments& a) {
  const std::string bytes = readAll(a.model);
  const std::vector<std::string> calibration = readEach(a.calibration), checks = readEach(a.checks);
  auto net = Network::fromBytes(bytes.data(), bytes.size(), a.model, "", true);
  net->recordRanges();
  for (const std::string& input : calibration) feed(*net, input);
  std::vector<Entry> entries = scales(*net);
  if (a.rank == "effect") {
    const auto floating = Network::fromBytes(bytes.data(), bytes.size(), a.model);
    std::vector<Outputs> reference;
    for (const std::string& input : calibration) {
      feed(*floating, input);
      reference.push_back(outputsOf(*floating));
    }
    measureEffects(bytes, a.model, calibration, reference, entries);
  }
  std::stable_sort(entries.begin(), entries.end(), [](const Entry& x, const Entry& y) { return x.harm < y.harm; });

  const auto floating = Network::fromBytes(bytes.data(), bytes.size(), a.model);
  for (size_t k = 0; k < checks.size(); ++k) {
    feed(*floating, checks[k]);
    writeOutputs(*floating, a.checkDir + "/float-" + std::to_string(k));
  }
  for (size_t j = 0; j < a.floatShares.size(); ++j) {
    std::string side = kHeader;
    const size_t kept = entries.size() - static_cast<size_t>(std::lround(a.floatShares[j] * entries.size()));
    for (size_t k = 0; k < kept; ++k) side += entries[k].line;
    auto quantized = Network::fromBytes(bytes.data(), bytes.size(), a.model, side);
    for (size_t k = 0; k < checks.size(); ++k) {
      feed(*quantized, checks[k]);
      writeOutputs(*quantized, a.checkDir + "/int8" + std::to_string(j) + "-" + std::to_string(k));
    }
    const std::string path = a.side + "." + std::to_string(j);
    std::ofstream out(path);
    out << side;
    if (!out) throw std::runtime_error("can't write " + path);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr,
                 "usage: calibrate MODEL OUT.int8 CHECKDIR [--rank snr|effect] [--float P,P,...] "
                 "CALIBRATION.f32... -- CHECK.f32...\n");
    return 2;
  }
  try {
    calibrate(parse(argc, argv));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "calibrate: %s\n", e.what());
    return 1;
  }
  return 0;
}
