#pragma once
// Compiling a plan into a program: the builder walks the plan's nodes in
// order and lowers each by its op's row (ops.h) into oneDNN primitives and
// kernels of our own.
#include <map>
#include <set>

#include "platform/vision/engine/graph_index.h"
#include "platform/vision/engine/graph_plan.h"
#include "platform/vision/engine/program.h"
#include "platform/vision/engine/shape_rules.h"

namespace kestrel::vision::engine {

constexpr auto kF32 = memory::data_type::f32;

// How a convolution input is quantized: unsigned after ReLU-like ops, signed
// elsewhere; value = round(x / scale), saturated.
struct Int8Input {
  bool isUnsigned = true;
  float scale = 1;
};

// What compiling gives: the program, unbound, and the multiply-accumulates
// of its convolutions and matrix products in one run.
struct Compiled {
  Program program;
  double macs = 0;
};

// How a float convolution reads a channel join that it alone reads: split
// into one convolution per part, or from the join made whole (calibration
// watches each convolution's whole input).
enum class FloatJoins { Split, Whole };

// int8: the convolution inputs to quantize, by name (from the model's side
// file); empty runs float.
Compiled compile(const Plan& plan, const std::map<std::string, Int8Input>& int8,
                 FloatJoins joins = FloatJoins::Split);

// The longest axis a Resize may make (four times the longest picture side).
constexpr int64_t kMaxResizedAxis = 65536;

class Builder {
 public:
  Builder(const Plan& plan, const std::map<std::string, Int8Input>& int8, FloatJoins joins, Compiled& out);
  void build();

  // Values.
  int newValue(const Dims& dims, const memory::desc& desc);
  int viewValue(int of, const Dims& dims, const memory::desc& desc, size_t offset = 0);
  int constantValue(const HostTensor& t, const Dims& dims);
  int valueOf(const std::string& name);  // runtime value or constant, by name
  bool known(const std::string& name) const { return names_.count(name) || constant(name); }
  void name(const std::string& name, int value) { names_[name] = value; }
  // The record moves when values are added: keep copies of its dims, not references.
  const ValueRec& value(int v) const { return program_.values[v]; }
  // The arena buffer a value lives in; nullptr for a constant.
  const BufferRec* bufferOf(int v) const;
  static memory::desc plainDesc(const Dims& dims);
  bool isPlain(int v) const;
  int plain(int v);                                 // reorders once when needed
  int inLayout(int v, memory::desc desc);           // reorders when needed
  int quantized(int v, const memory::desc& desc, float scale);  // f32 to int8 once
  // Writing a value in place in a larger one (a Concat's output). Whether v
  // has a buffer of its own, fresh, that no other value sees and that is
  // neither input nor output.
  bool ownsBuffer(int v) const;
  // The step that made v remade to write it as `view` (strided), when oneDNN
  // keeps its kernel for that.
  std::optional<dnnl::primitive_desc_base> redirectable(int v, const memory::desc& view) const;
  // v moved into `into` at byte offset `at`, seen as `desc`; with pd, the
  // step that makes v remade by it.
  void moveInto(int v, int into, size_t at, const memory::desc& desc,
                const std::optional<dnnl::primitive_desc_base>& pd = std::nullopt);
  // A reorder into an existing value; with a scale, quantizing (round(x / scale)).
  void copyInto(const std::string& kind, int from, int to, std::optional<float> scale = std::nullopt);
  const Int8Input* int8Input(const std::string& name) const;
  bool splitsFloatJoins() const { return joins_ == FloatJoins::Split; }

  // Steps.
  dnnl::primitive_attr attributes() const;
  void addStep(StepRec step, const dnnl::primitive_desc_base& pd);
  // The step runs pd's primitive: its scratchpad is noted, pd kept while compiling.
  void usePrimitive(StepRec& step, const dnnl::primitive_desc_base& pd);
  // A primitive that reads `inputs` (oneDNN argument, value) and writes a new
  // value of `dims` in its descriptor's destination layout, which it returns.
  int addSimpleStep(const std::string& kind, dnnl::primitive primitive, const dnnl::primitive_desc_base& pd,
                    const Dims& dims, std::vector<std::pair<int, int>> inputs);
  void addKernel(const std::string& kind, std::function<void(const std::vector<float*>&)> kernel,
                 std::vector<int> values);
  memory constantMemory(const HostTensor& t, const memory::desc& source, const memory::desc& wanted);
  void addMacs(double macs) { out_.macs += macs; }

  // Graph facts.
  const Plan& plan() const { return plan_; }
  const HostTensor* constant(const std::string& name) const;
  InputFacts facts(const Node& node) const;
  int readers(const std::string& name) const { return index_.readers(name); }
  const Node* onlyReader(const std::string& name) const;
  bool isGraphInput(const std::string& name) const;
  bool isGraphOutput(const std::string& name) const { return index_.isGraphOutput(name); }
  void absorb(const Node* node) { absorbed_.insert(node); }
  dnnl::engine& eng() { return program_.eng; }
  dnnl::stream& stream() { return program_.strm; }

  // A Pad whose only reader is a convolution is folded into its pads.
  struct PendingPad {
    std::string source;
    std::vector<int64_t> pads;  // begin then end, spatial axes only
  };
  std::map<std::string, PendingPad> pendingPads;
  // A Concat whose only reader is a convolution is left for it: in int8 its
  // inputs are quantized straight into their places in the joined input
  // (joinQuantized), with no float join between; in float the convolution
  // may read the parts one by one, else the join is lowered there (lowerJoin).
  std::map<std::string, const Node*> pendingJoins;

 private:
  const Plan& plan_;
  const std::map<std::string, Int8Input>& int8_;
  FloatJoins joins_;
  Compiled& out_;
  Program& program_;
  const GraphIndex index_;
  std::map<std::string, int> names_;
  std::map<int, std::vector<int>> copiesOf_;  // each value's reordered copies
  std::map<int, int> quantizedOf_;
  std::set<const Node*> absorbed_;
};

// Eltwise algorithm of a unary op, when oneDNN has one: alg, alpha, beta.
struct EltwiseSpec {
  dnnl::algorithm alg;
  float alpha = 0, beta = 0;
};
std::optional<EltwiseSpec> eltwiseOf(Builder& b, const Node& node);

// How good oneDNN's kernel for a primitive descriptor is: its own JIT
// kernels, then the GEMM-based fallback, then the reference and "simple"
// loops.
int kernelRank(const dnnl::primitive_desc_base& pd);

memory::desc anyDesc(const Dims& d, memory::data_type t = kF32);
// Channels last: oneDNN's brgemm convolution kernels on AVX-512 read and
// write it for any channel count, and so do its element-wise, pooling and
// resampling kernels, so a whole network can stay in it without reorders.
// Pictures (four dimensions) only; anyDesc for others.
memory::desc channelsLast(const Dims& d, memory::data_type t = kF32);
// ONNX counts dilations from 1, oneDNN from 0.
memory::dims oneDnnDilations(const Dims& dilations);

// A Concat lowered where it stands.
void lowerJoin(Builder& b, const Node& concat);
// The value of `desc` (int8) holding the Concat's inputs quantized by
// `scale`; -1, with nothing added, where desc cannot be cut at the inputs.
int joinQuantized(Builder& b, const Node& concat, const memory::desc& desc, float scale);

// Copies a constant into the layout a primitive wants, once, at load.
// (Memories are handles: copies share the data.)
void placeConstant(memory from, memory to, dnnl::stream& strm);

}  // namespace kestrel::vision::engine
