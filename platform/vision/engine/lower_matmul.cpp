// Matrix products: Gemm with constant weights as an inner product, and
// MatMul (or a Gemm of two computed inputs) as oneDNN's matmul.
#include "platform/vision/engine/compiler.h"
#include "platform/vision/engine/ops.h"

namespace kestrel::vision::engine {
namespace {


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
  b.addMacs(static_cast<double>(elementCount(out)) * static_cast<double>(b.value(a).dims.back()));
  b.name(node.outputs[0], dst);
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
  const memory::desc wOnnx = node.integer("transB", 0) ? memory::desc({nOut, kIn}, kF32, memory::dims{kIn, 1})
                                                       : memory::desc({nOut, kIn}, kF32, memory::dims{1, nOut});
  dnnl::inner_product_forward::desc d(dnnl::prop_kind::forward_inference, b.value(x).desc,
                                      anyDesc({nOut, kIn}),
                                      bias ? memory::desc({nOut}, kF32, memory::format_tag::x) : memory::desc(),
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
  b.addMacs(static_cast<double>(m * nOut * kIn));
  b.name(node.outputs[0], dst);
}

std::vector<Dims> gemmShape(const Node& node, const InputFacts& in) {
  Dims a = in.input(node, 0), b = in.input(node, 1);
  if (a.size() != 2 || b.size() != 2) refuseNode(node, "takes 2-d inputs");
  if (node.integer("transA", 0)) std::swap(a[0], a[1]);
  if (node.integer("transB", 0)) std::swap(b[0], b[1]);
  if (a[1] != b[0]) refuseNode(node, "inner sizes differ");
  return {{a[0], b[1]}};
}

std::vector<Dims> matMulShape(const Node& node, const InputFacts& in) {
  const Dims& a = in.input(node, 0);
  const Dims& b = in.input(node, 1);
  if (a.size() < 2 || b.size() < 2 || a.back() != b[b.size() - 2]) refuseNode(node, "inner sizes differ");
  Dims batch;
  try {
    batch = broadcastDims(Dims(a.begin(), a.end() - 2), Dims(b.begin(), b.end() - 2));
  } catch (const ModelError& e) {
    refuseNode(node, e.what());
  }
  batch.push_back(a[a.size() - 2]);
  batch.push_back(b.back());
  return {batch};
}

}  // namespace

OpRows matMulOps() {
  return {
      {"Gemm", {gemmShape, nullptr, 1, lowerGemm}},
      {"MatMul", {matMulShape, nullptr, 1, lowerMatMul}},
  };
}

}  // namespace kestrel::vision::engine
