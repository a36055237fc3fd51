#pragma once
// A neural network read from an ONNX file and compiled once into oneDNN
// primitives; each run executes them in order on one block of memory.
// Inputs and outputs are plain row-major float tensors in the model's own
// shapes (NCHW for pictures).
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/vision/engine/host_tensor.h"

namespace kestrel::vision::engine {

// What calibration saw of one convolution input over its runs.
struct ValueRange {
  float lo = 0, hi = 0;
  double meanSquare = 0;
  int runs = 0;
};

class Network {
 public:
  // Reads and compiles the model file at path. Throws ModelError with one
  // line that names `label` and says what is wrong: unreadable, not ONNX, an
  // op, attribute or shape the executor does not take (naming the node).
  // Convolutions run in int8 where the side file beside the model (its name
  // with .int8 for .onnx) gives their input a scale, unless KESTREL_FLOAT=1.
  static std::unique_ptr<Network> load(const std::string& path, const std::string& label);
  // The same from bytes in memory, with the side file's text (or none).
  // For calibration, each convolution reads its whole input (see
  // recordRanges), where a run may split a join among the steps reading it.
  static std::unique_ptr<Network> fromBytes(const void* bytes, size_t size, const std::string& label,
                                            const std::string& int8 = "", bool forCalibration = false);
  // The side file's path for a model path.
  static std::string int8Path(const std::string& modelPath);
  // Whether this network runs any convolution in int8.
  bool int8() const;

  // Calibration: from now on each run widens the range of every float
  // convolution input that int8 could take; ranges() gives them by name.
  void recordRanges();
  std::map<std::string, ValueRange> ranges() const;
  ~Network();
  Network(const Network&) = delete;
  Network& operator=(const Network&) = delete;

  const std::string& label() const;
  size_t inputCount() const;
  const std::string& inputName(size_t k) const;
  const Dims& inputDims(size_t k) const;
  // The buffer of input k, to be filled before run(); its contents are kept.
  float* input(size_t k = 0);
  float* input(const std::string& name);

  void run();

  // An output by name: throws ModelError when the model has no such output,
  // or (with expected dims) when its shape differs, saying to run ./setup.
  size_t outputCount() const;
  const std::string& outputName(size_t k) const;
  const float* output(const std::string& name) const;
  const Dims& outputDims(const std::string& name) const;
  void expectOutput(const std::string& name, const Dims& dims) const;
  void expectInput(size_t k, const Dims& dims) const;

  // The steps compiled, for the benchmark: convolutions fused, reorders...
  std::string summary() const;
  // One run timed step by step: milliseconds by kind of step, largest first.
  std::vector<std::pair<std::string, double>> profile();
  // Multiply-accumulates of the convolutions and matrix products in one run.
  double macs() const;
  // The bytes one run's values take (the arena all of them are placed in).
  size_t arenaBytes() const;

 private:
  struct State;
  explicit Network(std::unique_ptr<State> s);
  std::unique_ptr<State> s_;
};

}  // namespace kestrel::vision::engine
