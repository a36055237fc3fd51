// Convolutions, transposed convolutions and matrix products, with what follows
// a convolution fused into it as post-ops: an activation, a per-channel PReLU,
// a residual Add (summed into the residual's own buffer where it dies here).
#include <algorithm>
#include <cfloat>
#include <cmath>

#include "platform/vision/engine/compiler.h"
#include "platform/vision/engine/ops.h"

namespace kestrel::vision::engine {
namespace {

using dnnl::algorithm;


struct PostOp {
  enum Kind { Eltwise, Prelu, Sum, AddOperand } kind = Eltwise;
  const Node* node = nullptr;
  EltwiseSpec eltwise{algorithm::eltwise_relu};
  int operand = -1;             // Sum: the residual value; AddOperand: the value added
  std::optional<memory> fixed;  // PReLU slopes
};

// A per-channel (or single) constant of a C-channel activation, or nothing.
const HostTensor* perChannel(Builder& b, const std::string& name, int64_t channels, size_t rank) {
  const HostTensor* t = b.constant(name);
  if (!t || t->integer) return nullptr;
  return t->size() == 1 || holdsOnePerChannel(*t, channels, rank) ? t : nullptr;
}

// The ops after a convolution's output that can run as its post-ops, in order.
// With `summed`, the convolution sums into its output already: a residual
// is then added as an operand.
std::vector<PostOp> followers(Builder& b, std::string current, const Dims& dims, bool summed = false) {
  std::vector<PostOp> list;
  while (const Node* r = b.onlyReader(current)) {
    PostOp p;
    p.node = r;
    if (r->op == "PRelu" && r->input(0) == current) {
      const HostTensor* slope = perChannel(b, r->input(1), dims[1], dims.size());
      if (!slope) break;
      p.kind = PostOp::Prelu;
      memory::desc d({static_cast<memory::dim>(slope->size())}, kF32, memory::format_tag::x);
      p.fixed = b.constantMemory(*slope, d, d);
      p.eltwise.alpha = slope->size() == 1 ? 0 : 1;  // mask: per channel or one value
    } else if (r->op == "Add") {
      const std::string other = r->input(0) == current ? r->input(1) : r->input(0);
      if (other == current || !b.known(other)) break;
      if (b.constant(other)) {  // a single number: a linear map
        auto e = eltwiseOf(b, *r);
        if (!e) break;
        p.eltwise = *e;
        list.push_back(p);
        current = r->outputs[0];
        continue;
      }
      const int v = b.valueOf(other);
      if (b.value(v).dims != dims) break;
      const BufferRec* buffer = b.bufferOf(v);
      const bool dies = buffer && !buffer->pinned && buffer->values == 1 && b.readers(other) == 1;
      p.kind = (dies && !summed) ? PostOp::Sum : PostOp::AddOperand;
      summed = summed || p.kind == PostOp::Sum;
      p.operand = v;
    } else if (r->input(0) == current) {
      auto e = eltwiseOf(b, *r);
      if (!e) break;
      p.eltwise = *e;
    } else {
      break;
    }
    list.push_back(p);
    current = r->outputs[0];
  }
  return list;
}

struct Fusion {
  dnnl::primitive_attr attr;
  std::optional<memory::desc> dst;  // the residual's layout, when summing into it
  int sumInto = -1;
  std::vector<std::pair<int, int>> valueArgs;
  std::vector<std::pair<int, memory>> fixedArgs;
};

// With `accumulate`, the product is first added to what the output holds.
Fusion fuse(Builder& b, const std::vector<PostOp>& ops, size_t count, const std::vector<float>* scales,
            bool accumulate) {
  Fusion f;
  f.attr = b.attributes();
  if (scales) f.attr.set_output_scales(2, *scales);  // per output channel
  dnnl::post_ops po;
  if (accumulate) po.append_sum(1.0f);
  for (size_t k = 0; k < count; ++k) {
    const PostOp& p = ops[k];
    const int index = po.len();
    switch (p.kind) {
      case PostOp::Eltwise:
        po.append_eltwise(1.0f, p.eltwise.alg, p.eltwise.alpha, p.eltwise.beta);
        break;
      case PostOp::Prelu:
        po.append_prelu(p.eltwise.alpha > 0 ? 2 : 0);
        f.fixedArgs.emplace_back(DNNL_ARG_ATTR_MULTIPLE_POST_OP(index) | DNNL_ARG_WEIGHTS, *p.fixed);
        break;
      case PostOp::Sum:
        po.append_sum(1.0f);
        f.dst = b.value(p.operand).desc;
        f.sumInto = p.operand;
        break;
      case PostOp::AddOperand:
        po.append_binary(algorithm::binary_add, b.value(p.operand).desc);
        f.valueArgs.emplace_back(DNNL_ARG_ATTR_MULTIPLE_POST_OP(index) | DNNL_ARG_SRC_1, p.operand);
        break;
    }
  }
  f.attr.set_post_ops(po);
  return f;
}

template <typename Pd>
struct Choice {
  Pd pd;
  Fusion fusion;
  size_t fused = 0;
  int rank = 0;
  bool better(const Choice& o) const { return rank != o.rank ? rank > o.rank : fused > o.fused; }
};

// Makes the primitive with as many of the followers fused as oneDNN takes
// with its best kernel.
template <typename MakePd>
auto withPostOps(Builder& b, const std::vector<PostOp>& ops, MakePd make, const std::vector<float>* scales = nullptr,
                 bool accumulate = false) {
  using Pd = decltype(make(std::declval<const Fusion&>()));
  std::optional<Choice<Pd>> best;
  for (size_t count = ops.size() + 1; count-- > 0;) {
    Fusion f = fuse(b, ops, count, scales, accumulate);
    try {
      Pd pd = make(f);
      Choice<Pd> c{pd, std::move(f), count, kernelRank(pd)};
      if (!best || c.better(*best)) best = std::move(c);
      if (best->rank == 2) break;
    } catch (const dnnl::error&) {
      if (count == 0 && !best) throw;
    }
  }
  return std::move(*best);
}

// The first of the input's own layout, channels last and oneDNN's own pick
// whose kernel and fusion are best: a chain of convolutions settles in one
// layout instead of reordering between them.
template <typename Make>
auto fastest(Make make, const memory::desc& actual, const Dims& in, const Dims& out, memory::data_type t = kF32) {
  std::optional<decltype(make(actual, actual))> best;
  const std::pair<memory::desc, memory::desc> layouts[] = {
      {actual, channelsLast(out)}, {channelsLast(in, t), channelsLast(out)}, {anyDesc(in, t), anyDesc(out)}};
  for (const auto& [src, dst] : layouts) {
    try {
      auto c = make(src, dst);
      if (!best || c.better(*best)) best = std::move(c);
    } catch (const dnnl::error&) {
      // not for this layout
    }
  }
  if (!best) return make(anyDesc(in), anyDesc(out));  // throws oneDNN's own reason
  return std::move(*best);
}

// Names the last fused op's output as the primitive's and marks the ops as done.
void finishFusion(Builder& b, const Node& node, const std::vector<PostOp>& ops, size_t fused, int dst) {
  std::string last = node.outputs[0];
  for (size_t k = 0; k < fused; ++k) {
    b.absorb(ops[k].node);
    last = ops[k].node->outputs[0];
  }
  b.name(last, dst);
}

// Rounds to the nearest whole number, ties to even, as nearbyint does in the
// default rounding mode, for |v| < 2^22: adding 1.5 x 2^23 leaves no
// fraction bits. Inline, so that quantizing a large model's weights
// vectorizes instead of calling into libm for each.
inline float nearestEven(float v) {
  constexpr float kShift = 12582912.0f;
  return (v + kShift) - kShift;
}

// Weights in signed 8 bits, symmetric per output channel: the scales, and
// the values (as a memory of the plain layout, for a reorder into oneDNN's).
memory int8Weights(Builder& b, const HostTensor& w, const memory::desc& plain, std::vector<float>& scales) {
  const int64_t outputs = w.dims[0];
  const int64_t each = static_cast<int64_t>(w.f.size()) / outputs;
  const memory::dims dims = plain.dims();
  memory m(memory::desc(dims, memory::data_type::s8, rowMajorStrides(dims)), b.eng());
  int8_t* q = static_cast<int8_t*>(m.get_data_handle());
  scales.assign(outputs, 1.0f);
  for (int64_t o = 0; o < outputs; ++o) {
    float top = 0;
    for (int64_t k = 0; k < each; ++k) top = std::max(top, std::abs(w.f[o * each + k]));
    scales[o] = top > 0 ? top / 127 : 1.0f;
    for (int64_t k = 0; k < each; ++k)
      q[o * each + k] = static_cast<int8_t>(nearestEven(std::clamp(w.f[o * each + k] / scales[o], -127.0f, 127.0f)));
  }
  return m;
}

memory::desc weightsDesc(const Dims& w, int64_t group) {
  if (group == 1) return Builder::plainDesc(w);
  Dims g{group, w[0] / group};
  g.insert(g.end(), w.begin() + 1, w.end());
  return Builder::plainDesc(g);
}

// A convolution's constant inputs: its weights, and its bias if it has one.
struct Constants {
  const HostTensor* weights = nullptr;
  const HostTensor* bias = nullptr;
};

Constants constantsOf(Builder& b, const Node& node) {
  const HostTensor* w = b.constant(node.input(1));
  if (!w) refuseNode(node, "weights must be a constant");
  const HostTensor* bias = node.input(2).empty() ? nullptr : b.constant(node.input(2));
  if (!node.input(2).empty() && !bias) refuseNode(node, "bias must be a constant");
  return {w, bias};
}

memory::desc biasDesc(const HostTensor* bias, int64_t channels) {
  return bias ? memory::desc({channels}, kF32, memory::format_tag::x) : memory::desc();
}

// Adds a chosen (transposed) convolution's step from `src` to `dst`, with the
// fused ops' operands, the weights and the bias.
template <typename Pd>
void addFusedStep(Builder& b, StepRec s, const Choice<Pd>& choice, int src, int dst, memory weights,
                  std::optional<memory> bias) {
  s.valueArgs = {{DNNL_ARG_SRC, src}, {DNNL_ARG_DST, dst}};
  s.valueArgs.insert(s.valueArgs.end(), choice.fusion.valueArgs.begin(), choice.fusion.valueArgs.end());
  s.fixedArgs = choice.fusion.fixedArgs;
  s.fixedArgs.emplace_back(DNNL_ARG_WEIGHTS, weights);
  if (bias) s.fixedArgs.emplace_back(DNNL_ARG_BIAS, *bias);
  b.addStep(std::move(s), choice.pd);
}

// Adds the step of a chosen (transposed) convolution whose source is in its
// layout already: the destination made (in the residual's buffer when the
// fusion sums into it), the fused ops' operands, the weights and the bias.
template <typename Pd>
void addConvolutionStep(Builder& b, const Node& node, StepRec s, const Choice<Pd>& choice,
                        const std::vector<PostOp>& ops, int src, memory weights, std::optional<memory> bias) {
  const Dims out = b.plan().dims.at(node.outputs[0]);
  const Fusion& fusion = choice.fusion;
  const int dst = fusion.sumInto >= 0 ? b.viewValue(fusion.sumInto, out, choice.pd.dst_desc())
                                      : b.newValue(out, choice.pd.dst_desc());
  addFusedStep(b, std::move(s), choice, src, dst, weights, bias);
  finishFusion(b, node, ops, choice.fused, dst);
}

// The convolution's source, a Pad left for it to take in its own pads.
std::string paddedSource(Builder& b, const Node& node, Window& win) {
  auto it = b.pendingPads.find(node.input(0));
  if (it == b.pendingPads.end()) return node.input(0);
  const size_t n = win.kernel.size();
  for (size_t k = 0; k < n; ++k) {
    win.padBegin[k] += it->second.pads[k];
    win.padEnd[k] += it->second.pads[k + n];
  }
  return it->second.source;
}

// In int8 where the model's side file gives the input a scale: the input
// quantized once, weights per output channel, the product scaled back to
// float before the post-ops.
struct Int8Plan {
  const Int8Input* input = nullptr;
  std::vector<float> outputScales;
  std::optional<memory> weights;  // plain layout
};

Int8Plan int8Plan(Builder& b, const std::string& source, const Constants& c, const memory::desc& wPlain,
                  int64_t group, const Dims& in, const Dims& out) {
  Int8Plan p;
  // Depthwise convolutions gain nothing in int8. Thin convolutions (the few
  // channels of a model's head, say) stay in float: they cost little and
  // carry the output's precision.
  p.input = group == 1 && out[1] >= 16 && in[1] >= 16 ? b.int8Input(source) : nullptr;
  if (!p.input) return p;
  std::vector<float> weightScales;
  p.weights = int8Weights(b, *c.weights, wPlain, weightScales);
  for (float ws : weightScales) p.outputScales.push_back(p.input->scale * ws);
  return p;
}

// The weights and bias in the primitive's layouts; in int8 the bias divided
// by the output scales, as oneDNN 2 adds it before scaling.
std::pair<memory, std::optional<memory>> placedConstants(Builder& b, const Constants& c, const Int8Plan& q,
                                                         const memory::desc& wPlain,
                                                         const dnnl::convolution_forward::primitive_desc& pd) {
  std::optional<memory> bias;
  if (!q.input) {
    if (c.bias) bias = b.constantMemory(*c.bias, pd.bias_desc(), pd.bias_desc());
    return {b.constantMemory(*c.weights, wPlain, pd.weights_desc()), bias};
  }
  memory placed(pd.weights_desc(), b.eng());
  placeConstant(*q.weights, placed, b.stream());
  if (c.bias) {
    HostTensor scaled = *c.bias;
    for (size_t k = 0; k < scaled.f.size(); ++k) scaled.f[k] /= q.outputScales[k];
    bias = b.constantMemory(scaled, pd.bias_desc(), pd.bias_desc());
  }
  return {placed, bias};
}

// The int8 input: a join left for this convolution quantized in place as it
// is made, or else the float input quantized once.
int quantizedSource(Builder& b, const std::string& source, const Node* join, const memory::desc& desc, float scale) {
  if (join) {
    const int joined = joinQuantized(b, *join, desc, scale);
    if (joined >= 0) return joined;
    lowerJoin(b, *join);
  }
  return b.quantized(b.valueOf(source), desc, scale);
}

// The weights that read input channels [first, first + count).
HostTensor inputChannels(const HostTensor& w, int64_t first, int64_t count) {
  const int64_t outputs = w.dims[0], inputs = w.dims[1];
  const int64_t window = elementCount(Dims(w.dims.begin() + 2, w.dims.end()));
  Dims dims = w.dims;
  dims[1] = count;
  std::vector<float> part;
  part.reserve(static_cast<size_t>(outputs * count * window));
  for (int64_t o = 0; o < outputs; ++o) {
    const float* from = w.f.data() + (o * inputs + first) * window;
    part.insert(part.end(), from, from + count * window);
  }
  return HostTensor::floats(dims, std::move(part));
}

// A float convolution of a channel join that channels last cannot make in
// place, as one convolution per joined part, each adding its product into
// the one output: the parts are read where their steps left them, instead
// of copied into a joined buffer. The bias comes with the first part, the
// fused ops with the last. False, with nothing added, where oneDNN has no
// kernel for a part.
bool splitJoinedConvolution(Builder& b, const Node& node, const Node& join, const Constants& c, const Window& win) {
  const Dims out = b.plan().dims.at(node.outputs[0]);
  if (out.size() != 4 || normaliseAxis(join.integer("axis", 0), 4, join) != 1) return false;
  const bool channelsLastJoin = std::any_of(join.inputs.begin(), join.inputs.end(), [&](const std::string& name) {
    const ValueRec& v = b.value(b.valueOf(name));
    return v.desc == channelsLast(v.dims);
  });
  if (!channelsLastJoin) return false;
  const std::vector<PostOp> ops = followers(b, node.outputs[0], out, true);
  using Pd = dnnl::convolution_forward::primitive_desc;
  struct Part {
    int value;
    HostTensor weights;
    std::optional<Choice<Pd>> choice;
  };
  std::vector<Part> parts;
  int64_t first = 0;
  for (const std::string& name : join.inputs) {
    const int v = b.valueOf(name);
    const Dims in = b.value(v).dims;
    Part part{v, inputChannels(*c.weights, first, in[1]), std::nullopt};
    first += in[1];
    const bool adds = !parts.empty(), last = parts.size() + 1 == join.inputs.size();
    const HostTensor* bias = adds ? nullptr : c.bias;
    const memory::desc dst = adds ? parts.front().choice->pd.dst_desc() : channelsLast(out);
    // A part of few channels (the picture, say) may read faster in another layout.
    for (const memory::desc& src : {channelsLast(in), anyDesc(in)}) {
      try {
        auto made = withPostOps(b, last ? ops : std::vector<PostOp>{}, [&](const Fusion& f) {
          dnnl::convolution_forward::desc d(dnnl::prop_kind::forward_inference, algorithm::convolution_direct, src,
                                            anyDesc(part.weights.dims), biasDesc(bias, out[1]), dst, win.strides,
                                            oneDnnDilations(win.dilations), win.padBegin, win.padEnd);
          return Pd(d, f.attr, b.eng());
        }, nullptr, adds);
        if (!part.choice || made.better(*part.choice)) part.choice = std::move(made);
      } catch (const dnnl::error&) {
        // not in this layout
      }
    }
    if (!part.choice) return false;
    parts.push_back(std::move(part));
  }
  int dst = -1;
  for (const Part& part : parts) {
    const Choice<Pd>& choice = *part.choice;
    const bool adds = dst >= 0;
    StepRec s;
    s.kind = "Conv" + (adds ? "+" + std::to_string(choice.fused + 1) : std::string());
    s.primitive = dnnl::convolution_forward(choice.pd);
    const int into = adds ? b.viewValue(dst, out, choice.pd.dst_desc()) : b.newValue(out, choice.pd.dst_desc());
    const Constants own{&part.weights, adds ? nullptr : c.bias};
    auto [weights, bias] = placedConstants(b, own, Int8Plan{}, Builder::plainDesc(part.weights.dims), choice.pd);
    addFusedStep(b, std::move(s), choice, b.inLayout(part.value, choice.pd.src_desc()), into, weights, bias);
    dst = into;
  }
  finishFusion(b, node, ops, parts.back().choice->fused, dst);
  return true;
}

void lowerConvolution(Builder& b, const Node& node) {
  const Constants c = constantsOf(b, node);
  const HostTensor& w = *c.weights;
  Window win = convolutionWindow(node, b.plan().dims.at(node.input(0)), w.dims);
  const std::string source = paddedSource(b, node, win);
  const int64_t group = node.integer("group", 1);
  const Dims out = b.plan().dims.at(node.outputs[0]);
  const Dims in = b.plan().dims.at(source);
  const double macs = static_cast<double>(elementCount(out)) * static_cast<double>(elementCount(w.dims) / w.dims[0]);
  const memory::desc wPlain = weightsDesc(w.dims, group);
  const std::vector<PostOp> ops = followers(b, node.outputs[0], out);
  const Int8Plan q = int8Plan(b, source, c, wPlain, group, in, out);
  const Node* join = nullptr;
  if (auto it = b.pendingJoins.find(source); it != b.pendingJoins.end()) {
    join = it->second;
    b.pendingJoins.erase(it);
    if (!q.input) {
      if (group == 1 && b.splitsFloatJoins() && splitJoinedConvolution(b, node, *join, c, win)) {
        b.addMacs(macs);
        return;
      }
      lowerJoin(b, *join);
    }
  }
  const memory::data_type srcType = !q.input ? kF32 : q.input->isUnsigned ? memory::data_type::u8 : memory::data_type::s8;
  const memory::data_type weightType = q.input ? memory::data_type::s8 : kF32;
  auto make = [&](const memory::desc& src, const memory::desc& dst) {
    return withPostOps(b, ops, [&](const Fusion& f) {
      dnnl::convolution_forward::desc d(dnnl::prop_kind::forward_inference, algorithm::convolution_direct,
                                        src, memory::desc(wPlain.dims(), weightType, memory::format_tag::any),
                                        biasDesc(c.bias, out[1]), f.dst ? *f.dst : dst, win.strides,
                                        oneDnnDilations(win.dilations), win.padBegin, win.padEnd);
      return dnnl::convolution_forward::primitive_desc(d, f.attr, b.eng());
    }, q.input ? &q.outputScales : nullptr);
  };
  auto choice = q.input ? fastest(make, channelsLast(in, srcType), in, out, srcType)
                        : fastest(make, b.value(b.valueOf(source)).desc, in, out);
  StepRec s;
  s.kind = std::string(q.input ? "Conv8" : "Conv") + (choice.fused ? "+" + std::to_string(choice.fused) : "");
  s.primitive = dnnl::convolution_forward(choice.pd);
  const int src = q.input ? quantizedSource(b, source, join, choice.pd.src_desc(), q.input->scale)
                          : b.inLayout(b.valueOf(source), choice.pd.src_desc());
  if (!q.input && group == 1 && !b.isGraphInput(source)) {
    s.calibrates = source;
    s.calibratesValue = src;
  }
  auto [weights, bias] = placedConstants(b, c, q, wPlain, choice.pd);
  addConvolutionStep(b, node, std::move(s), choice, ops, src, weights, bias);
  b.addMacs(macs);
}

// ONNX keeps a transposed convolution's weights as [in channels, out
// channels / group, kernel...]; oneDNN wants [group, out / group, in / group,
// kernel...]: a strided view of the same numbers, reordered once.
memory::desc transposedWeights(const Dims& w, int64_t group) {
  const int64_t icg = w[0] / group, ocg = w[1];
  const int64_t k = elementCount(Dims(w.begin() + 2, w.end()));
  Dims dims{group, ocg, icg};
  memory::dims strides{icg * ocg * k, k, ocg * k};
  int64_t stride = k;
  for (size_t a = 2; a < w.size(); ++a) {
    dims.push_back(w[a]);
    stride /= w[a];
    strides.push_back(stride);
  }
  if (group == 1) {
    dims.erase(dims.begin());
    strides.erase(strides.begin());
  }
  return memory::desc(dims, kF32, strides);
}

void lowerTransposedConvolution(Builder& b, const Node& node) {
  const Constants c = constantsOf(b, node);
  const int x = b.valueOf(node.input(0));
  const Dims in = b.value(x).dims;
  const Window win = transposedWindow(node, in, c.weights->dims);
  const int64_t group = node.integer("group", 1);
  const Dims out = b.plan().dims.at(node.outputs[0]);
  const memory::desc wOnnx = transposedWeights(c.weights->dims, group);
  const std::vector<PostOp> ops = followers(b, node.outputs[0], out);
  auto make = [&](const memory::desc& src, const memory::desc& dst) {
    return withPostOps(b, ops, [&](const Fusion& f) {
      dnnl::deconvolution_forward::desc d(dnnl::prop_kind::forward_inference, algorithm::deconvolution_direct,
                                          src, anyDesc(wOnnx.dims()), biasDesc(c.bias, out[1]),
                                          f.dst ? *f.dst : dst, win.strides, oneDnnDilations(win.dilations),
                                          win.padBegin, win.padEnd);
      return dnnl::deconvolution_forward::primitive_desc(d, f.attr, b.eng());
    });
  };
  auto choice = fastest(make, b.value(x).desc, in, out);
  StepRec s;
  s.kind = "ConvTranspose";
  s.primitive = dnnl::deconvolution_forward(choice.pd);
  const int src = b.inLayout(x, choice.pd.src_desc());
  const memory weights = b.constantMemory(*c.weights, wOnnx, choice.pd.weights_desc());
  std::optional<memory> bias;
  if (c.bias) bias = b.constantMemory(*c.bias, choice.pd.bias_desc(), choice.pd.bias_desc());
  addConvolutionStep(b, node, std::move(s), choice, ops, src, weights, bias);
  const int64_t perInput = c.weights->dims[1] * elementCount(Dims(c.weights->dims.begin() + 2, c.weights->dims.end()));
  b.addMacs(static_cast<double>(elementCount(in)) * static_cast<double>(perInput));
}

std::vector<Dims> convolutionShape(const Node& node, const InputFacts& in) {
  const Dims& x = in.input(node, 0);
  const Dims& w = in.input(node, 1);
  const int64_t group = node.integer("group", 1);
  if (w.size() < 3 || group <= 0 || x.size() != w.size() || x[1] != w[1] * group || w[0] % group != 0)
    refuseNode(node, "weights " + dimsText(w) + " do not fit the input " + dimsText(x) + " in " +
                         std::to_string(group) + " groups");
  Dims out{x[0], w[0]};
  for (int64_t d : convolutionWindow(node, x, w).output) out.push_back(d);
  return {out};
}

std::vector<Dims> transposedShape(const Node& node, const InputFacts& in) {
  const Dims& x = in.input(node, 0);
  const Dims& w = in.input(node, 1);
  const int64_t group = node.integer("group", 1);
  if (w.size() < 3 || group <= 0 || x.size() != w.size() || x[1] != w[0])
    refuseNode(node, "weights " + dimsText(w) + " do not fit the input " + dimsText(x));
  Dims out{x[0], w[1] * group};
  for (int64_t d : transposedWindow(node, x, w).output) out.push_back(d);
  return {out};
}

}  // namespace

OpRows convolutionOps() {
  return {
      {"Conv", {convolutionShape, nullptr, 1, lowerConvolution}},
      {"ConvTranspose", {transposedShape, nullptr, 1, lowerTransposedConvolution}},
  };
}

}  // namespace kestrel::vision::engine
