#pragma once
// A compiled network as it runs: its values placed in one block of memory
// (the arena), its steps (oneDNN primitives and kernels of our own)
// executed in order. Compiling (compiler.h) makes it; binding places it.
#include <dnnl.hpp>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>

#include "platform/vision/engine/arena_memory.h"
#include "platform/vision/engine/host_tensor.h"

namespace kestrel::vision::engine {

using dnnl::memory;

struct ValueRec {
  Dims dims;
  memory::desc desc;
  int buffer = -1;                      // in the arena; -1 for a constant
  size_t offset = 0;                    // bytes into the buffer, for views
  std::optional<memory> fixed;          // a constant's own memory
};

struct BufferRec {
  size_t bytes = 0;
  int first = -1, last = -1;
  bool pinned = false;  // inputs and outputs: alive for the whole run
  int values = 0;       // how many values see this buffer
};

struct StepRec {
  std::string kind;
  std::optional<dnnl::primitive> primitive;
  std::optional<dnnl::primitive_desc_base> pd;    // the primitive's, while compiling
  std::vector<std::pair<int, int>> valueArgs;     // (oneDNN argument, value)
  std::vector<std::pair<int, memory>> fixedArgs;  // weights, biases, post-op operands
  bool scratchpad = false;
  // A kernel of our own: called with the data pointers of kernelValues.
  std::function<void(const std::vector<float*>&)> kernel;
  std::vector<int> kernelValues;
  // Filled when binding.
  std::unordered_map<int, memory> bound;
  std::vector<float*> pointers;
  // For calibration: the convolution input (by name and value) this step reads.
  std::string calibrates;
  int calibratesValue = -1;
};

// The most one run's values may take: the shipped models need a few hundred
// megabytes at most.
constexpr size_t kArenaLimit = size_t{2} << 30;

struct Program;

// Watches a run step by step: calibration reads a step's input before it
// runs; profiling times each step.
class RunObserver {
 public:
  virtual ~RunObserver() = default;
  virtual void beforeStep(const Program&, const StepRec&) {}
  // When timed: each step waited for and its milliseconds given to afterStep.
  virtual bool timed() const { return false; }
  virtual void afterStep(const StepRec&, double) {}
};

struct Program {
  dnnl::engine eng{dnnl::engine::kind::cpu, 0};
  dnnl::stream strm{eng};
  std::vector<ValueRec> values;
  std::vector<BufferRec> buffers;
  std::vector<StepRec> steps;
  std::vector<std::string> inputNames, outputNames;
  std::vector<int> inputValues;
  std::map<std::string, int> outputValues;
  size_t scratchpadBytes = 0;
  // Made by bind().
  size_t arenaBytes = 0;
  ArenaMemory arena;
  std::optional<memory> scratchpad;

  void bind();  // places the buffers and makes every step's memories
  void run(RunObserver* observer = nullptr);
  float* data(int value) const;
};

}  // namespace kestrel::vision::engine
