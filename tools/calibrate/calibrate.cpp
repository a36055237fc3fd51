// Calibration for int8: runs a float model over input tensors and writes the
// side file that lets the executor run its convolutions in int8. Each
// convolution input is quantized by its range over the runs: unsigned where
// it never goes below zero (after ReLU-like ops), signed elsewhere.
//   calibrate MODEL OUT.int8 INPUT.f32...
// Each input file holds one run's first input, row-major float32.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/vision/engine/network.h"

using kestrel::vision::engine::Network;

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: calibrate MODEL OUT.int8 INPUT.f32...\n");
    return 2;
  }
  try {
    std::ifstream model(argv[1], std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(model)), std::istreambuf_iterator<char>());
    auto net = Network::fromBytes(bytes.data(), bytes.size(), argv[1]);
    net->recordRanges();
    const size_t count = static_cast<size_t>(kestrel::vision::engine::elementCount(net->inputDims(0)));
    for (int k = 3; k < argc; ++k) {
      std::ifstream in(argv[k], std::ios::binary);
      const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (data.size() != count * sizeof(float)) {
        std::fprintf(stderr, "calibrate: %s holds %zu bytes, not %zu floats\n", argv[k], data.size(), count);
        return 1;
      }
      std::copy(data.begin(), data.end(), reinterpret_cast<char*>(net->input(0)));
      net->run();
    }
    const std::string part = std::string(argv[2]) + ".part";
    std::ofstream out(part);
    out << "# int8 scales of the convolution inputs: type, scale, value\n";
    for (const auto& [name, range] : net->ranges()) {
      const auto [lo, hi] = range;
      if (!(hi > lo)) continue;
      if (lo >= 0) out << "u8 " << hi / 255 << " " << name << "\n";
      else out << "s8 " << std::max(std::fabs(lo), std::fabs(hi)) / 127 << " " << name << "\n";
    }
    out.close();
    if (!out || std::rename(part.c_str(), argv[2]) != 0) {
      std::fprintf(stderr, "calibrate: can't write %s\n", argv[2]);
      return 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "calibrate: %s\n", e.what());
    return 1;
  }
  return 0;
}
