#pragma once
// Inside the executor: the values, steps and buffers that compiling a plan
// into oneDNN primitives makes, and the builder that makes them.
#include <dnnl.hpp>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <unordered_map>

#include "platform/vision/engine/graph_plan.h"
#include "platform/vision/engine/network.h"

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
  std::vector<std::pair<int, int>> valueArgs;     // (oneDNN argument, value)
  std::vector<std::pair<int, memory>> fixedArgs;  // weights, biases, post-op operands
  bool scratchpad = false;
  // A kernel of our own: called with the data pointers of kernelValues.
  std::function<void(const std::vector<float*>&)> kernel;
  std::vector<int> kernelValues;
  // Filled when binding.
  std::unordered_map<int, memory> bound;
  std::vector<float*> pointers;
  // Calibration: the convolution input whose range this step records.
  std::string calibrates;
  int calibratesValue = -1;
};

// How a convolution input is quantized: unsigned after ReLU-like ops, signed
// elsewhere; value = round(x / scale), saturated.
struct Int8Input {
  bool isUnsigned = true;
  float scale = 1;
};

struct Compiled {
  std::string label;
  std::map<std::string, Int8Input> int8;  // from the model's side file: empty runs float
  // Calibration: the float inputs of the convolutions that int8 could run, by
  // name, and the range each took over the runs so far.
  bool recording = false;
  std::map<std::string, ValueRange> ranges;
  dnnl::engine eng{dnnl::engine::kind::cpu, 0};
  dnnl::stream strm{eng};
  std::vector<ValueRec> values;
  std::vector<BufferRec> buffers;
  std::vector<StepRec> steps;
  std::vector<std::string> inputNames, outputNames;
  std::vector<int> inputValues;
  std::map<std::string, int> outputValues;
  std::map<std::string, int> stepCounts;  // by kind, for the summary
  double macs = 0;
  size_t scratchpadBytes = 0;
  size_t arenaBytes = 0;
  std::unique_ptr<uint8_t[], void (*)(void*)> arena{nullptr, nullptr};
  std::optional<memory> scratchpad;

  void bind();  // places the buffers and makes every step's memories
  void run(std::map<std::string, double>* msByKind = nullptr);
  void runSteps(std::map<std::string, double>* msByKind);
  void record(const StepRec& step);
  float* data(int value) const;
};

// The most one run's values may take: the shipped models need a few hundred
// megabytes at most.
constexpr size_t ARENA_LIMIT = size_t{2} << 30;
// The longest axis a Resize may make (four times the longest picture side).
constexpr int64_t MAX_RESIZED_AXIS = 65536;

// The builder: walks the plan's nodes in order and lowers each.
class Builder {
 public:
  Builder(const Plan& plan, Compiled& out);
  void build();

  // Values.
  int newValue(const Dims& dims, const memory::desc& desc);
  int viewValue(int of, const Dims& dims, const memory::desc& desc, size_t offset = 0);
  int constantValue(const HostTensor& t, const Dims& dims);
  int valueOf(const std::string& name);  // runtime value or constant, by name
  bool known(const std::string& name) const { return names_.count(name) || constant(name); }
  void name(const std::string& name, int value) { names_[name] = value; }
  // The record moves when values are added: keep copies of its dims, not references.
  const ValueRec& value(int v) const { return out_.values[v]; }
  static memory::desc plainDesc(const Dims& dims);
  bool isPlain(int v) const;
  int plain(int v);                                 // reorders once when needed
  int inLayout(int v, memory::desc desc);           // reorders when needed
  int quantized(int v, const memory::desc& desc, float scale);  // f32 to int8 once
  const Int8Input* int8Input(const std::string& name) const;

  // Steps.
  dnnl::primitive_attr attributes() const;
  void addStep(StepRec step, const dnnl::primitive_desc_base& pd);
  // A primitive that reads `inputs` (oneDNN argument, value) and writes a new
  // value of `dims` in its descriptor's destination layout, which it returns.
  int addSimpleStep(const std::string& kind, dnnl::primitive primitive, const dnnl::primitive_desc_base& pd,
                    const Dims& dims, std::vector<std::pair<int, int>> inputs);
  void addKernel(const std::string& kind, std::function<void(const std::vector<float*>&)> kernel,
                 std::vector<int> values);
  memory constantMemory(const HostTensor& t, const memory::desc& source, const memory::desc& wanted);

  // Graph facts.
  const Plan& plan() const { return plan_; }
  const HostTensor* constant(const std::string& name) const;
  int readers(const std::string& name) const;  // node inputs reading it, and 1 if a graph output
  const Node* onlyReader(const std::string& name) const;
  bool isGraphOutput(const std::string& name) const;
  bool isGraphInput(const std::string& name) const;
  void absorb(const Node* node) { absorbed_.insert(node); }
  dnnl::engine& eng() { return out_.eng; }
  Compiled& out() { return out_; }

  // A Pad whose only reader is a convolution is folded into its pads.
  struct PendingPad {
    std::string source;
    std::vector<int64_t> pads;  // begin then end, spatial axes only
  };
  std::map<std::string, PendingPad> pendingPads;

 private:
  void lower(const Node& node);
  const Plan& plan_;
  Compiled& out_;
  std::map<std::string, int> names_;
  std::map<int, int> plainOf_;
  std::map<int, int> quantizedOf_;
  std::map<std::string, int> readers_;
  std::map<std::string, std::vector<const Node*>> readerNodes_;
  std::set<std::string> outputs_;
  std::set<const Node*> absorbed_;
};

// Lowering, by op family. Each adds steps and names its outputs.
void lowerConvolution(Builder& b, const Node& node);
void lowerTransposedConvolution(Builder& b, const Node& node);
void lowerGemm(Builder& b, const Node& node);
void lowerMatMul(Builder& b, const Node& node);
bool deferPad(Builder& b, const Node& node);
void lowerElementwise(Builder& b, const Node& node);
void lowerBinary(Builder& b, const Node& node);
void lowerPooling(Builder& b, const Node& node);
void lowerResize(Builder& b, const Node& node);
void lowerConcat(Builder& b, const Node& node);
void lowerShapeOp(Builder& b, const Node& node);  // Reshape, Flatten, Squeeze, Unsqueeze, Identity, Transpose
void lowerSlicing(Builder& b, const Node& node);  // Slice, Split
void lowerPad(Builder& b, const Node& node);
void lowerSoftmax(Builder& b, const Node& node);
void lowerReduce(Builder& b, const Node& node);

// Eltwise algorithm of a unary op, when oneDNN has one: alg, alpha, beta.
struct EltwiseSpec {
  dnnl::algorithm alg;
  float alpha = 0, beta = 0;
};
std::optional<EltwiseSpec> eltwiseOf(Builder& b, const Node& node);

// Copies a constant into the layout a primitive wants, once, at load.
// (Memories are handles: copies share the data.)
void placeConstant(memory from, memory to, dnnl::stream& strm);

// Wraps oneDNN's failure to make a primitive into the node's error.
[[noreturn]] void refuseNode(const Node& node, const std::string& why);

}  // namespace kestrel::vision::engine
