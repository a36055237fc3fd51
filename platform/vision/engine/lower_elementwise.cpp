// Element-wise ops: unary activations as oneDNN eltwise primitives, binary
// arithmetic with broadcasting as binary primitives (or, by a single constant,
// as a linear eltwise), PReLU with its slopes.
#include <cfloat>
#include <cmath>
#include <functional>

#include "platform/vision/engine/compiler.h"
#include "platform/vision/engine/kernels.h"
#include "platform/vision/engine/constant_folding.h"

namespace kestrel::vision::engine {
namespace {

using dnnl::algorithm;

std::optional<float> scalarConstant(Builder& b, const std::string& name) {
  const HostTensor* t = name.empty() ? nullptr : b.constant(name);
  if (!t || t->size() != 1) return std::nullopt;
  return static_cast<float>(t->real(0));
}

int eltwise(Builder& b, int x, const EltwiseSpec& e, const std::string& kind) {
  dnnl::eltwise_forward::desc d(dnnl::prop_kind::forward_inference, e.alg, b.value(x).desc, e.alpha, e.beta);
  dnnl::eltwise_forward::primitive_desc pd(d, b.attributes(), b.eng());
  const int dst = b.addSimpleStep(kind, dnnl::eltwise_forward(pd), pd, b.value(x).dims, {{DNNL_ARG_SRC, x}});
  return dst;
}

// The dims of a broadcast operand at the output's rank.
Dims atRank(const Dims& d, size_t rank) {
  Dims out(rank - d.size(), 1);
  out.insert(out.end(), d.begin(), d.end());
  return out;
}

// A plain copy of v broadcast to dims.
int spread(Builder& b, int v, const Dims& dims) {
  const Dims sd = atRank(b.value(v).dims, dims.size());
  const int from = b.plain(v);
  const int dst = b.newValue(dims, Builder::plainDesc(dims));
  b.addKernel("Broadcast*", [sd, dims](const std::vector<float*>& p) { broadcastTo(p[0], sd, p[1], dims); },
              {from, dst});
  return dst;
}

}  // namespace

std::optional<EltwiseSpec> eltwiseOf(Builder& b, const Node& node) {
  const std::string& op = node.op;
  if (op == "Relu") return EltwiseSpec{algorithm::eltwise_relu, 0, 0};
  if (op == "LeakyRelu") return EltwiseSpec{algorithm::eltwise_relu, node.real("alpha", 0.01f), 0};
  if (op == "Sigmoid") return EltwiseSpec{algorithm::eltwise_logistic, 0, 0};
  if (op == "Tanh") return EltwiseSpec{algorithm::eltwise_tanh, 0, 0};
  if (op == "HardSwish") return EltwiseSpec{algorithm::eltwise_hardswish, 0, 0};
  if (op == "Elu") return EltwiseSpec{algorithm::eltwise_elu, node.real("alpha", 1.0f), 0};
  if (op == "Exp") return EltwiseSpec{algorithm::eltwise_exp, 0, 0};
  if (op == "Abs") return EltwiseSpec{algorithm::eltwise_abs, 0, 0};
  if (op == "Sqrt") return EltwiseSpec{algorithm::eltwise_sqrt, 0, 0};
  if (op == "Neg") return EltwiseSpec{algorithm::eltwise_linear, -1, 0};
  if (op == "Reciprocal") return EltwiseSpec{algorithm::eltwise_pow, 1, -1};
  if (op == "Clip") {
    float lo = -FLT_MAX, hi = FLT_MAX;
    // Bounds as attributes (older opsets, and files written for OpenCV), else as inputs.
    if (b.plan().opset < 11 || node.has("min") || node.has("max")) {
      lo = node.real("min", lo);
      hi = node.real("max", hi);
    } else {
      if (!node.input(1).empty()) {
        auto v = scalarConstant(b, node.input(1));
        if (!v) return std::nullopt;
        lo = *v;
      }
      if (!node.input(2).empty()) {
        auto v = scalarConstant(b, node.input(2));
        if (!v) return std::nullopt;
        hi = *v;
      }
    }
    return EltwiseSpec{algorithm::eltwise_clip_v2, lo, hi};
  }
  // Arithmetic by one constant number: a linear map (or a power).
  if (op == "Add" || op == "Sub" || op == "Mul" || op == "Div" || op == "Pow") {
    auto c = scalarConstant(b, node.input(1));
    const bool constantFirst = !c;
    if (!c) c = scalarConstant(b, node.input(0));
    if (!c) return std::nullopt;
    if (b.plan().dims.at(node.outputs[0]) != b.plan().dims.at(node.input(constantFirst ? 1 : 0))) return std::nullopt;
    if (op == "Add") return EltwiseSpec{algorithm::eltwise_linear, 1, *c};
    if (op == "Mul") return EltwiseSpec{algorithm::eltwise_linear, *c, 0};
    if (op == "Sub") return constantFirst ? EltwiseSpec{algorithm::eltwise_linear, -1, *c}
                                          : EltwiseSpec{algorithm::eltwise_linear, 1, -*c};
    if (op == "Div" && !constantFirst && *c != 0) return EltwiseSpec{algorithm::eltwise_linear, 1 / *c, 0};
    if (op == "Div" && constantFirst) return EltwiseSpec{algorithm::eltwise_pow, *c, -1};
    if (op == "Pow" && !constantFirst) return EltwiseSpec{algorithm::eltwise_pow, 1, *c};
  }
  return std::nullopt;
}

namespace {

void lowerElementwise(Builder& b, const Node& node) {
  if (node.op == "PRelu") {
    const int x = b.valueOf(node.input(0));
    const Dims dims = b.value(x).dims;
    const int slope = b.valueOf(node.input(1));
    const Dims sd = atRank(b.value(slope).dims, dims.size());
    const int slopeView = b.viewValue(b.plain(slope), sd, Builder::plainDesc(sd));
    dnnl::prelu_forward::desc d(dnnl::prop_kind::forward_inference, b.value(x).desc, b.value(slopeView).desc);
    dnnl::prelu_forward::primitive_desc pd(d, b.attributes(), b.eng());
    const int dst = b.addSimpleStep("PRelu", dnnl::prelu_forward(pd), pd, dims, {{DNNL_ARG_SRC, x}, {DNNL_ARG_WEIGHTS, slopeView}});
    b.name(node.outputs[0], dst);
    return;
  }
  auto e = eltwiseOf(b, node);
  if (!e) refuseNode(node, "is an op the executor does not support");
  const bool constantFirst = node.inputs.size() > 1 && b.constant(node.input(0));
  const int x = b.valueOf(node.input(constantFirst ? 1 : 0));
  b.name(node.outputs[0], eltwise(b, x, *e, node.op));
}

// Arithmetic with broadcasting as oneDNN's binary primitive of algorithm
// alg; by a single constant number, a linear eltwise.
template <algorithm alg>
void lowerBinary(Builder& b, const Node& node) {
  if (eltwiseOf(b, node)) return lowerElementwise(b, node);
  const Dims out = b.plan().dims.at(node.outputs[0]);
  int first = b.valueOf(node.input(0)), second = b.valueOf(node.input(1));
  // oneDNN broadcasts only its second source: the sources swap when the op
  // commutes, else the first is spread to the output's shape beforehand.
  if (b.value(first).dims != out) {
    const bool commutes = alg == algorithm::binary_add || alg == algorithm::binary_mul ||
                          alg == algorithm::binary_max || alg == algorithm::binary_min;
    if (commutes && b.value(second).dims == out) std::swap(first, second);
    else first = spread(b, first, out);
  }
  int src1;
  const Dims sd = atRank(b.value(second).dims, out.size());
  if (b.value(second).dims == out) {
    // Both full: the result takes the layout of the one a convolution left
    // (not plain), so that a residual chain stays in it.
    if (b.isPlain(first) && !b.isPlain(second)) first = b.inLayout(first, b.value(second).desc);
    src1 = b.inLayout(second, b.value(first).desc);
  } else {
    src1 = b.viewValue(b.plain(second), sd, Builder::plainDesc(sd));
  }
  dnnl::binary::desc d(alg, b.value(first).desc, b.value(src1).desc,
                       memory::desc(out, kF32, memory::format_tag::any));
  dnnl::binary::primitive_desc pd(d, b.attributes(), b.eng());
  const int dst = b.addSimpleStep(node.op, dnnl::binary(pd), pd, out, {{DNNL_ARG_SRC_0, first}, {DNNL_ARG_SRC_1, src1}});
  b.name(node.outputs[0], dst);
}

void lowerPow(Builder& b, const Node& node) {
  if (!eltwiseOf(b, node)) refuseNode(node, "takes only a single constant exponent");
  lowerElementwise(b, node);
}

// Folding at load, on host tensors.

// Broadcast index of out-index idx into a tensor of dims `d` (right-aligned).
int64_t broadcastIndex(const Dims& idx, const Dims& d) {
  const Dims s = rowMajorStrides(d);
  int64_t at = 0;
  const size_t shift = idx.size() - d.size();
  for (size_t k = 0; k < d.size(); ++k) at += (d[k] == 1 ? 0 : idx[k + shift]) * s[k];
  return at;
}

// The binary ops' arithmetic beyond std::plus, minus and multiplies, for
// folding: on whole numbers (bounded) and on reals.
struct Divide {
  int64_t operator()(int64_t x, int64_t y) const { return y == 0 ? 0 : x / y; }
  double operator()(double x, double y) const { return x / y; }
};
struct Larger {
  template <typename T>
  T operator()(T x, T y) const { return std::max(x, y); }
};
struct Smaller {
  template <typename T>
  T operator()(T x, T y) const { return std::min(x, y); }
};
struct Power {
  int64_t operator()(int64_t x, int64_t y) const {
    return boundedWhole(std::pow(static_cast<double>(x), static_cast<double>(y)));
  }
  double operator()(double x, double y) const { return std::pow(x, y); }
};

template <typename Arithmetic>
Folded foldBroadcast(const Node&, const InputFacts& in) {
  const HostTensor& a = *in.constants[0];
  const HostTensor& b = *in.constants[1];
  const Dims dims = broadcastDims(a.dims, b.dims);
  const bool integer = a.integer && b.integer;
  HostTensor out;
  out.dims = dims;
  out.integer = integer;
  const int64_t count = elementCount(dims);
  Dims idx(dims.size(), 0);
  for (int64_t n = 0; n < count; ++n) {
    const int64_t ia = broadcastIndex(idx, a.dims), ib = broadcastIndex(idx, b.dims);
    if (integer) out.i.push_back(Arithmetic{}(boundedWhole(a.i[ia]), boundedWhole(b.i[ib])));
    else out.f.push_back(static_cast<float>(Arithmetic{}(a.real(ia), b.real(ib))));
    for (size_t k = dims.size(); k-- > 0;) {
      if (++idx[k] < dims[k]) break;
      idx[k] = 0;
    }
  }
  return one(out);
}

// Each unary op's arithmetic, for folding.
double negate(double v) { return -v; }
double absolute(double v) { return std::fabs(v); }
double floorOf(double v) { return std::floor(v); }
double ceilOf(double v) { return std::ceil(v); }
double squareRoot(double v) { return std::sqrt(v); }
double relu(double v) { return v > 0 ? v : 0; }
double sigmoid(double v) { return 1 / (1 + std::exp(-v)); }
double hyperbolicTangent(double v) { return std::tanh(v); }
double exponential(double v) { return std::exp(v); }
double reciprocal(double v) { return 1 / v; }

std::vector<Dims> broadcastShape(const Node& node, const InputFacts& in) {
  try {
    return {broadcastDims(in.input(node, 0), in.input(node, 1))};
  } catch (const ModelError& e) {
    refuseNode(node, e.what());
  }
}

}  // namespace

OpRows elementwiseOps() {
  // Unary ops keep their input's shape. oneDNN has no eltwise for
  // HardSigmoid, Erf, Floor and Ceil: they are taken only where they fold.
  auto unary = [](FoldRule fold, Lowering lower) { return OpRule{sameShape, fold, 1, lower}; };
  auto binary = [](FoldRule fold, Lowering lower) { return OpRule{broadcastShape, fold, 2, lower}; };
  return {
      {"Relu", unary(foldMapped<relu>, lowerElementwise)},
      {"Sigmoid", unary(foldMapped<sigmoid>, lowerElementwise)},
      {"Tanh", unary(foldMapped<hyperbolicTangent>, lowerElementwise)},
      {"Exp", unary(foldMapped<exponential>, lowerElementwise)},
      {"Abs", unary(foldMapped<absolute>, lowerElementwise)},
      {"Sqrt", unary(foldMapped<squareRoot>, lowerElementwise)},
      {"Neg", unary(foldMapped<negate>, lowerElementwise)},
      {"Reciprocal", unary(foldMapped<reciprocal>, lowerElementwise)},
      {"Floor", unary(foldMapped<floorOf>, nullptr)},
      {"Ceil", unary(foldMapped<ceilOf>, nullptr)},
      {"LeakyRelu", unary(nullptr, lowerElementwise)},
      {"HardSwish", unary(nullptr, lowerElementwise)},
      {"Elu", unary(nullptr, lowerElementwise)},
      {"Clip", unary(nullptr, lowerElementwise)},
      {"PRelu", unary(nullptr, lowerElementwise)},
      {"HardSigmoid", unary(nullptr, nullptr)},
      {"Erf", unary(nullptr, nullptr)},
      {"Add", binary(foldBroadcast<std::plus<>>, lowerBinary<algorithm::binary_add>)},
      {"Sub", binary(foldBroadcast<std::minus<>>, lowerBinary<algorithm::binary_sub>)},
      {"Mul", binary(foldBroadcast<std::multiplies<>>, lowerBinary<algorithm::binary_mul>)},
      {"Div", binary(foldBroadcast<Divide>, lowerBinary<algorithm::binary_div>)},
      {"Max", binary(foldBroadcast<Larger>, lowerBinary<algorithm::binary_max>)},
      {"Min", binary(foldBroadcast<Smaller>, lowerBinary<algorithm::binary_min>)},
      {"Pow", binary(foldBroadcast<Power>, lowerPow)},
  };
}

}  // namespace kestrel::vision::engine
