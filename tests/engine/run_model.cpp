// Runs an ONNX model on the executor, for the tests that check it against
// NumPy: run_model MODEL OUTDIR [INPUT.f32...]. Each input file holds the
// input's floats in row-major order; each output is written to
// OUTDIR/<index>.f32 and its name and shape printed as one line.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/vision/engine/network.h"

using kestrel::vision::engine::Network;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: run_model MODEL OUTDIR [INPUT.f32...]\n");
    return 2;
  }
  try {
    auto net = Network::load(argv[1], argv[1]);
    for (size_t k = 0; k < net->inputCount(); ++k) {
      size_t count = 1;
      for (auto d : net->inputDims(k)) count *= static_cast<size_t>(d);
      if (3 + k >= static_cast<size_t>(argc)) {
        std::fprintf(stderr, "missing input %zu\n", k);
        return 2;
      }
      std::ifstream in(argv[3 + k], std::ios::binary);
      std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (bytes.size() != count * sizeof(float)) {
        std::fprintf(stderr, "input %zu: %zu bytes for %zu floats\n", k, bytes.size(), count);
        return 2;
      }
      std::copy(bytes.begin(), bytes.end(), reinterpret_cast<char*>(net->input(k)));
    }
    net->run();
    for (size_t k = 0; k < net->outputCount(); ++k) {
      const std::string& name = net->outputName(k);
      size_t count = 1;
      std::printf("%s", name.c_str());
      for (auto d : net->outputDims(name)) {
        count *= static_cast<size_t>(d);
        std::printf(" %lld", static_cast<long long>(d));
      }
      std::printf("\n");
      std::ofstream out(std::string(argv[2]) + "/" + std::to_string(k) + ".f32", std::ios::binary);
      out.write(reinterpret_cast<const char*>(net->output(name)), static_cast<std::streamsize>(count * sizeof(float)));
    }
    std::fprintf(stderr, "%s\n", net->summary().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
