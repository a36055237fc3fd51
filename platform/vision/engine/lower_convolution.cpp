// Convolutions, transposed convolutions and matrix products, with what follows
// a convolution fused into it as post-ops: an activation, a per-channel PReLU,
// a residual Add (summed into the residual's own buffer where it dies here).
#include <cfloat>
#include <cmath>

#include "platform/vision/engine/compiler.h"
#include "platform/vision/engine/shape_rules.h"

namespace kestrel::vision::engine {
namespace {

using dnnl::algorithm;
constexpr auto f32 = memory::data_type::f32;

memory::desc anyDesc(const Dims& d, memory::data_type t = f32) { return memory::desc(d, t, memory::format_tag::any); }

// Channels last: oneDNN's brgemm convolution kernels on AVX-512 read and
// write it for any channel count, and so do its element-wise, pooling and
// resampling kernels, so a whole network can stay in it without reorders.
memory::desc channelsLast(const Dims& d, memory::data_type t = f32) {
  return d.size() == 4 ? memory::desc(d, t, memory::format_tag::acdb) : anyDesc(d, t);
}

struct PostOp {
  enum Kind { Eltwise, Prelu, Sum, AddOperand } kind = Eltwise;
  const Node* node = nullptr;
  EltwiseSpec eltwise{algorithm::eltwise_relu};
  int operand = -1;             // Sum: the residual value; AddOperand: the value added
  std::optional<memory> fixed;  // PReLU slopes
};

// A per-channel (or single) constant of a C-channel activation, or nothing.
const HostTensor* perChannel(Builder& b, const std::string& name, int64_t channels, int rank) {
  const HostTensor* t = b.constant(name);
  if (!t || t->integer) return nullptr;
  if (t->size() == 1) return t;
  if (static_cast<int64_t>(t->size()) != channels) return nullptr;
  // Broadcasting aligns the last axes: [C,1,1] or [1,C,1,1] is per channel
  // of a 4-d activation, while [C] or [C,1] runs along the width or height.
  const Dims& d = t->dims;
  const int size = static_cast<int>(d.size());
  if (size > rank || size < rank - 1) return nullptr;
  return d[static_cast<size_t>(size - (rank - 1))] == channels ? t : nullptr;
}

// The ops after a convolution's output that can run as its post-ops, in order.
std::vector<PostOp> followers(Builder& b, std::string current, const Dims& dims) {
  std::vector<PostOp> list;
  bool summed = false;
  const int rank = static_cast<int>(dims.size());
  while (const Node* r = b.onlyReader(current)) {
    PostOp p;
    p.node = r;
    if (r->op == "PRelu" && r->input(0) == current) {
      const HostTensor* slope = perChannel(b, r->input(1), dims[1], rank);
      if (!slope) break;
      p.kind = PostOp::Prelu;
      memory::desc d({static_cast<memory::dim>(slope->size())}, f32, memory::format_tag::x);
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
      const BufferRec* buffer = b.value(v).buffer >= 0 ? &b.out().buffers[b.value(v).buffer] : nullptr;
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

Fusion fuse(Builder& b, const std::vector<PostOp>& ops, size_t count, const std::vector<float>* scales) {
  Fusion f;
  f.attr = b.attributes();
  if (scales) f.attr.set_output_scales(2, *scales);  // per output channel
  dnnl::post_ops po;
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

// How good oneDNN's kernel for a primitive descriptor is: its own JIT
// kernels, then the GEMM-based fallback, then the reference loops.
int kernelRank(const dnnl::primitive_desc_base& pd) {
  const std::string impl = pd.impl_info_str();
  if (impl.rfind("ref", 0) == 0) return 0;
  if (impl.find("gemm") != std::string::npos && impl.find("brg") == std::string::npos) return 1;
  return 2;
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
auto withPostOps(Builder& b, const std::vector<PostOp>& ops, MakePd make, const std::vector<float>* scales = nullptr) {
  using Pd = decltype(make(std::declval<const Fusion&>()));
  std::optional<Choice<Pd>> best;
  for (size_t count = ops.size() + 1; count-- > 0;) {
    Fusion f = fuse(b, ops, count, scales);
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
auto fastest(Make make, const memory::desc& actual, const Dims& in, const Dims& out, memory::data_type t = f32) {
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
// fraction bits. Inline, so that quantizing a model's weights vectorizes
// (ISNet's 44 million took a tenth of its loading through libm's call).
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
  memory::dims strides(dims.size(), 1);
  for (size_t k = dims.size(); k-- > 1;) strides[k - 1] = strides[k] * dims[k];
  memory m(memory::desc(dims, memory::data_type::s8, strides), b.eng());
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

}  // namespace

void lowerConvolution(Builder& b, const Node& node) {
  std::string source = node.input(0);
  std::vector<int64_t> extraPads;
  if (auto it = b.pendingPads.find(source); it != b.pendingPads.end()) {
    extraPads = it->second.pads;
    source = it->second.source;
  }
  const HostTensor* w = b.constant(node.input(1));
  if (!w) refuseNode(node, "weights must be a constant");
  const HostTensor* bias = node.input(2).empty() ? nullptr : b.constant(node.input(2));
  if (!node.input(2).empty() && !bias) refuseNode(node, "bias must be a constant");
  const Dims& padded = b.plan().dims.at(node.input(0));
  Window win = convolutionWindow(node, padded, w->dims);
  const size_t n = win.kernel.size();
  for (size_t k = 0; k < n && !extraPads.empty(); ++k) {
    win.padBegin[k] += extraPads[k];
    win.padEnd[k] += extraPads[k + n];
  }
  const int64_t group = node.integer("group", 1);
  const Dims out = b.plan().dims.at(node.outputs[0]);
  const int x = b.valueOf(source);
  const Dims in = b.value(x).dims;
  memory::dims dilations;
  for (int64_t d : win.dilations) dilations.push_back(d - 1);
  const memory::desc wPlain = weightsDesc(w->dims, group);
  const std::vector<PostOp> ops = followers(b, node.outputs[0], out);
  // In int8 where the model's side file gives this input a scale: the input
  // quantized once, weights per output channel, the product scaled back to
  // float before the post-ops. Depthwise convolutions gain nothing in int8.
  // Thin convolutions (the few channels of a model's head, say) stay in
  // float: they cost little and carry the output's precision.
  const Int8Input* q = group == 1 && out[1] >= 16 && in[1] >= 16 ? b.int8Input(source) : nullptr;
  const memory::data_type srcType = !q ? f32 : q->isUnsigned ? memory::data_type::u8 : memory::data_type::s8;
  std::vector<float> weightScales, outputScales;
  std::optional<memory> int8W;
  if (q) {
    int8W = int8Weights(b, *w, wPlain, weightScales);
    for (float ws : weightScales) outputScales.push_back(q->scale * ws);
  }
  const memory::data_type weightType = q ? memory::data_type::s8 : f32;
  auto make = [&](const memory::desc& src, const memory::desc& dst) {
    return withPostOps(b, ops, [&](const Fusion& f) {
      dnnl::convolution_forward::desc d(dnnl::prop_kind::forward_inference, algorithm::convolution_direct,
                                        src, memory::desc(wPlain.dims(), weightType, memory::format_tag::any),
                                        bias ? memory::desc({out[1]}, f32, memory::format_tag::x) : memory::desc(),
                                        f.dst ? *f.dst : dst, win.strides, dilations, win.padBegin, win.padEnd);
      return dnnl::convolution_forward::primitive_desc(d, f.attr, b.eng());
    }, q ? &outputScales : nullptr);
  };
  auto choice = q ? fastest(make, channelsLast(in, srcType), in, out, srcType) : fastest(make, b.value(x).desc, in, out);
  const auto& pd = choice.pd;
  const Fusion& fusion = choice.fusion;
  const size_t fused = choice.fused;
  StepRec s;
  s.kind = std::string(q ? "Conv8" : "Conv") + (fused ? "+" + std::to_string(fused) : "");
  s.primitive = dnnl::convolution_forward(pd);
  const int src = q ? b.quantized(x, pd.src_desc(), q->scale) : b.inLayout(x, pd.src_desc());
  if (!q && group == 1 && !b.isGraphInput(source)) {
    s.calibrates = source;
    s.calibratesValue = src;
  }
  const int dst = fusion.sumInto >= 0 ? b.viewValue(fusion.sumInto, out, pd.dst_desc()) : b.newValue(out, pd.dst_desc());
  s.valueArgs = {{DNNL_ARG_SRC, src}, {DNNL_ARG_DST, dst}};
  s.valueArgs.insert(s.valueArgs.end(), fusion.valueArgs.begin(), fusion.valueArgs.end());
  s.fixedArgs = fusion.fixedArgs;
  if (q) {
    memory placed(pd.weights_desc(), b.eng());
    placeConstant(*int8W, placed, b.out().strm);
    s.fixedArgs.emplace_back(DNNL_ARG_WEIGHTS, placed);
  } else {
    s.fixedArgs.emplace_back(DNNL_ARG_WEIGHTS, b.constantMemory(*w, wPlain, pd.weights_desc()));
  }
  if (bias && q) {
    // oneDNN 2 adds the bias before the output scales: divide it by them.
    HostTensor scaled = *bias;
    for (size_t k = 0; k < scaled.f.size(); ++k) scaled.f[k] /= outputScales[k];
    s.fixedArgs.emplace_back(DNNL_ARG_BIAS, b.constantMemory(scaled, pd.bias_desc(), pd.bias_desc()));
  } else if (bias) {
    s.fixedArgs.emplace_back(DNNL_ARG_BIAS, b.constantMemory(*bias, pd.bias_desc(), pd.bias_desc()));
  }
  b.addStep(std::move(s), pd);
  b.out().macs += static_cast<double>(elementCount(out)) * static_cast<double>(elementCount(w->dims) / w->dims[0]);
  finishFusion(b, node, ops, fused, dst);
}

void lowerTransposedConvolution(Builder& b, const Node& node) {
  const HostTensor* w = b.constant(node.input(1));
  if (!w) refuseNode(node, "weights must be a constant");
  const HostTensor* bias = node.input(2).empty() ? nullptr : b.constant(node.input(2));
  if (!node.input(2).empty() && !bias) refuseNode(node, "bias must be a constant");
  const int x = b.valueOf(node.input(0));
  const Dims in = b.value(x).dims;
  const Window win = transposedWindow(node, in, w->dims);
  const int64_t group = node.integer("group", 1);
  const Dims out = b.plan().dims.at(node.outputs[0]);
  // ONNX keeps the weights as [in channels, out channels / group, kernel...];
  // oneDNN wants [group, out / group, in / group, kernel...]: a strided view
  // of the same numbers, reordered once.
  const int64_t icg = w->dims[0] / group, ocg = w->dims[1];
  const int64_t k = elementCount(Dims(w->dims.begin() + 2, w->dims.end()));
  Dims dims{group, ocg, icg};
  memory::dims strides{icg * ocg * k, k, ocg * k};
  int64_t stride = k;
  for (size_t a = 2; a < w->dims.size(); ++a) {
    dims.push_back(w->dims[a]);
    stride /= w->dims[a];
    strides.push_back(stride);
  }
  if (group == 1) {
    dims.erase(dims.begin());
    strides.erase(strides.begin());
  }
  const memory::desc wOnnx(dims, f32, strides);
  memory::dims dilations;
  for (int64_t d : win.dilations) dilations.push_back(d - 1);
  const std::vector<PostOp> ops = followers(b, node.outputs[0], out);
  auto make = [&](const memory::desc& src, const memory::desc& dst) {
    return withPostOps(b, ops, [&](const Fusion& f) {
      dnnl::deconvolution_forward::desc d(dnnl::prop_kind::forward_inference, algorithm::deconvolution_direct,
                                          src, anyDesc(dims),
                                          bias ? memory::desc({out[1]}, f32, memory::format_tag::x) : memory::desc(),
                                          f.dst ? *f.dst : dst, win.strides, dilations, win.padBegin, win.padEnd);
      return dnnl::deconvolution_forward::primitive_desc(d, f.attr, b.eng());
    });
  };
  auto choice = fastest(make, b.value(x).desc, in, out);
  const auto& pd = choice.pd;
  const Fusion& fusion = choice.fusion;
  const size_t fused = choice.fused;
  StepRec s;
  s.kind = "ConvTranspose";
  s.primitive = dnnl::deconvolution_forward(pd);
  const int src = b.inLayout(x, pd.src_desc());
  const int dst = fusion.sumInto >= 0 ? b.viewValue(fusion.sumInto, out, pd.dst_desc()) : b.newValue(out, pd.dst_desc());
  s.valueArgs = {{DNNL_ARG_SRC, src}, {DNNL_ARG_DST, dst}};
  s.valueArgs.insert(s.valueArgs.end(), fusion.valueArgs.begin(), fusion.valueArgs.end());
  s.fixedArgs = fusion.fixedArgs;
  s.fixedArgs.emplace_back(DNNL_ARG_WEIGHTS, b.constantMemory(*w, wOnnx, pd.weights_desc()));
  if (bias) s.fixedArgs.emplace_back(DNNL_ARG_BIAS, b.constantMemory(*bias, pd.bias_desc(), pd.bias_desc()));
  b.addStep(std::move(s), pd);
  b.out().macs += static_cast<double>(elementCount(in)) * static_cast<double>(ocg * k);
  finishFusion(b, node, ops, fused, dst);
}

void lowerGemm(Builder& b, const Node& node) {
  if (node.integer("transA", 0) != 0 || node.real("alpha", 1) != 1.0f || node.real("beta", 1) != 1.0f)
    refuseNode(node, "only alpha 1, beta 1 and an untransposed A are taken");
  const HostTensor* w = b.constant(node.input(1));
  if (!w) return lowerMatMul(b, node);
  const int x = b.plain(b.valueOf(node.input(0)));
  const Dims out = b.plan().dims.at(node.outputs[0]);
  const int64_t m = out[0], nOut = out[1], kIn = b.value(x).dims[1];
  const HostTensor* bias = node.input(2).empty() ? nullptr : b.constant(node.input(2));
  if (!node.input(2).empty() && (!bias || static_cast<int64_t>(bias->size()) != nOut))
    refuseNode(node, "C must be a constant of one value per output");
  // Inner product weights are [outputs, inputs]: B as given when transB, else its transpose.
  const memory::desc wOnnx = node.integer("transB", 0) ? memory::desc({nOut, kIn}, f32, memory::dims{kIn, 1})
                                                       : memory::desc({nOut, kIn}, f32, memory::dims{1, nOut});
  dnnl::inner_product_forward::desc d(dnnl::prop_kind::forward_inference, b.value(x).desc,
                                      anyDesc({nOut, kIn}),
                                      bias ? memory::desc({nOut}, f32, memory::format_tag::x) : memory::desc(),
                                      Builder::plainDesc(out));
  dnnl::inner_product_forward::primitive_desc pd(d, b.attributes(), b.eng());
  StepRec s;
  s.kind = "Gemm";
  s.primitive = dnnl::inner_product_forward(pd);
  const int dst = b.newValue(out, pd.dst_desc());
  s.valueArgs = {{DNNL_ARG_SRC, b.inLayout(x, pd.src_desc())}, {DNNL_ARG_DST, dst}};
  s.fixedArgs.emplace_back(DNNL_ARG_WEIGHTS, b.constantMemory(*w, wOnnx, pd.weights_desc()));
  if (bias) s.fixedArgs.emplace_back(DNNL_ARG_BIAS, b.constantMemory(*bias, pd.bias_desc(), pd.bias_desc()));
  b.addStep(std::move(s), pd);
  b.out().macs += static_cast<double>(m * nOut * kIn);
  b.name(node.outputs[0], dst);
}

void lowerMatMul(Builder& b, const Node& node) {
  if (node.op == "Gemm" && !node.input(2).empty()) refuseNode(node, "a Gemm of two computed inputs takes no C");
  const int a = b.plain(b.valueOf(node.input(0)));
  const int w = b.plain(b.valueOf(node.input(1)));
  const Dims out = b.plan().dims.at(node.outputs[0]);
  // oneDNN wants equal ranks: leading axes of 1 where one side has fewer.
  auto widen = [&](int v) {
    Dims d = b.value(v).dims;
    while (d.size() < out.size()) d.insert(d.begin(), 1);
    return b.viewValue(v, d, Builder::plainDesc(d));
  };
  const int left = widen(a), right = widen(w);
  dnnl::matmul::desc d(b.value(left).desc, b.value(right).desc, Builder::plainDesc(out));
  dnnl::matmul::primitive_desc pd(d, b.attributes(), b.eng());
  const int dst = b.addSimpleStep("MatMul", dnnl::matmul(pd), pd, out, {{DNNL_ARG_SRC, left}, {DNNL_ARG_WEIGHTS, right}});
  b.out().macs += static_cast<double>(elementCount(out)) * static_cast<double>(b.value(a).dims.back());
  b.name(node.outputs[0], dst);
}

}  // namespace kestrel::vision::engine
