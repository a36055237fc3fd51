// Pooling, resizing, Softmax and the reductions.
#include <algorithm>

#include "platform/vision/engine/compiler.h"
#include "platform/vision/engine/kernels.h"
#include "platform/vision/engine/ops.h"

namespace kestrel::vision::engine {
namespace {

using dnnl::algorithm;

// How a 4-d activation's layout reads as pixel planes, if it is one of the
// layouts the resize kernel walks, with that layout's tag.
struct Planes {
  PixelPlanes planes;
  memory::format_tag tag;
};
std::optional<Planes> planesOf(const ValueRec& v) {
  const Dims& d = v.dims;
  if (d.size() != 4) return std::nullopt;
  const memory::dims dims(d.begin(), d.end());
  PixelPlanes p;
  p.height = d[2];
  p.width = d[3];
  p.channels = d[1];
  for (auto tag : {memory::format_tag::abcd, memory::format_tag::acdb, memory::format_tag::aBcd16b,
                   memory::format_tag::aBcd8b}) {
    if (v.desc != memory::desc(dims, kF32, tag)) continue;
    if (tag == memory::format_tag::abcd) {
      p.planes = d[0] * d[1];
    } else if (tag == memory::format_tag::acdb) {
      p.planes = d[0];
      p.block = d[1];
    } else {
      p.block = tag == memory::format_tag::aBcd16b ? 16 : 8;
      p.channelBlocks = (d[1] + p.block - 1) / p.block;
      p.planes = d[0] * p.channelBlocks;
    }
    return Planes{p, tag};
  }
  return std::nullopt;
}


void lowerPooling(Builder& b, const Node& node) {
  const int x = b.valueOf(node.input(0));
  const Dims in = b.value(x).dims;
  const Dims out = b.plan().dims.at(node.outputs[0]);
  Window w;
  if (node.op == "GlobalAveragePool" || node.op == "GlobalMaxPool") {
    w.kernel.assign(in.begin() + 2, in.end());
    w.strides = w.kernel;
    w.dilations.assign(w.kernel.size(), 1);
    w.padBegin.assign(w.kernel.size(), 0);
    w.padEnd = w.padBegin;
  } else {
    w = poolingWindow(node, in);
  }
  algorithm alg = algorithm::pooling_max;
  if (node.op == "AveragePool" || node.op == "GlobalAveragePool")
    alg = node.integer("count_include_pad", 0) ? algorithm::pooling_avg_include_padding
                                               : algorithm::pooling_avg_exclude_padding;
  auto make = [&](const memory::desc& src, const memory::desc& dst) {
    dnnl::pooling_v2_forward::desc d(dnnl::prop_kind::forward_inference, alg, src, dst, w.strides, w.kernel,
                                     oneDnnDilations(w.dilations), w.padBegin, w.padEnd);
    return dnnl::pooling_v2_forward::primitive_desc(d, b.attributes(), b.eng());
  };
  auto pd = make(b.value(x).desc, anyDesc(out));
  // Plain pictures get only oneDNN's loops (a third of a millisecond for
  // three channels at 320 x 180): channels last has its JIT kernel.
  if (kernelRank(pd) == 0 && in.size() == 4) {
    auto last = make(channelsLast(in), channelsLast(out));
    if (kernelRank(last) > 0) pd = last;
  }
  const int dst = b.addSimpleStep(node.op, dnnl::pooling_v2_forward(pd), pd, out,
                                  {{DNNL_ARG_SRC, b.inLayout(x, pd.src_desc())}});
  b.name(node.outputs[0], dst);
}

void lowerResize(Builder& b, const Node& node) {
  const InputFacts facts = b.facts(node);
  const ResizeGeometry g = resizeGeometry(node, facts);
  const int x = b.valueOf(node.input(0));
  const Dims in = b.value(x).dims;
  if (in.size() != 4 || g.output[0] != in[0] || g.output[1] != in[1])
    refuseNode(node, "resizes other axes than height and width");
  const std::string mode = node.text("mode", "nearest");
  const std::string transform = node.op == "Upsample" || b.plan().opset < 11
                                    ? "asymmetric"
                                    : node.text("coordinate_transformation_mode", "half_pixel");
  // Upsample and the Resize of opset 10 take the source index rounded down.
  const std::string nearest = node.op == "Upsample" || b.plan().opset < 11
                                  ? "floor"
                                  : node.text("nearest_mode", "round_prefer_floor");
  if (mode != "nearest" && mode != "linear") refuseNode(node, "mode " + mode + " is not taken");
  if (transform != "half_pixel" && transform != "pytorch_half_pixel" && transform != "align_corners" &&
      transform != "asymmetric" && transform != "tf_half_pixel_for_nn")
    refuseNode(node, "coordinate_transformation_mode " + transform + " is not taken");
  const Dims out = b.plan().dims.at(node.outputs[0]);
  // Pictures are at most 16384 pixels a side; a longer axis is a broken file,
  // and its tables would be sized by it.
  if (out[2] > kMaxResizedAxis || out[3] > kMaxResizedAxis)
    refuseNode(node, "resizes to more than " + std::to_string(kMaxResizedAxis) + " along an axis");
  // oneDNN's linear resampling is ONNX's half_pixel when the scale is out / in.
  const bool exactScale = std::abs(g.scales[2] * in[2] - out[2]) < 1e-6 && std::abs(g.scales[3] * in[3] - out[3]) < 1e-6;
  // Its kernel works across channels: few channels go faster through ours.
  if (mode == "linear" && (transform == "half_pixel" || (transform == "pytorch_half_pixel" && out[2] > 1 && out[3] > 1)) &&
      exactScale && in[1] >= 16) {
    dnnl::resampling_forward::desc d(dnnl::prop_kind::forward_inference, algorithm::resampling_linear,
                                     b.value(x).desc, anyDesc(out));
    dnnl::resampling_forward::primitive_desc pd(d, b.attributes(), b.eng());
    const int dst = b.addSimpleStep("Resize", dnnl::resampling_forward(pd), pd, out, {{DNNL_ARG_SRC, x}});
    b.name(node.outputs[0], dst);
    return;
  }
  int src = x;
  std::optional<Planes> planes = planesOf(b.value(x));
  if (!planes) {
    src = b.plain(x);
    planes = planesOf(b.value(src));
  }
  const int dst = b.newValue(out, memory::desc(out, kF32, planes->tag));
  const AxisMap rows = resizeAxis(in[2], out[2], g.scales[2], mode, transform, nearest);
  const AxisMap cols = resizeAxis(in[3], out[3], g.scales[3], mode, transform, nearest);
  const PixelPlanes p = planes->planes;
  b.addKernel("Resize*", [p, rows, cols](const std::vector<float*>& ptr) { resizePlanes(ptr[0], p, ptr[1], rows, cols); },
              {src, dst});
  b.name(node.outputs[0], dst);
}

void lowerSoftmax(Builder& b, const Node& node) {
  const Dims out = b.plan().dims.at(node.outputs[0]);
  const int rank = static_cast<int>(out.size());
  int axis = static_cast<int>(normaliseAxis(node.integer("axis", b.plan().opset < 13 ? 1 : -1), rank, node));
  int x = b.plain(b.valueOf(node.input(0)));
  Dims seen = out;
  if (b.plan().opset < 13) {  // older opsets: softmax over everything from axis on
    seen = {elementCount(Dims(out.begin(), out.begin() + axis)), elementCount(Dims(out.begin() + axis, out.end()))};
    x = b.viewValue(x, seen, Builder::plainDesc(seen));
    axis = 1;
  }
  dnnl::softmax_forward::desc d(dnnl::prop_kind::forward_inference, b.value(x).desc, axis);
  dnnl::softmax_forward::primitive_desc pd(d, b.attributes(), b.eng());
  const int dst = b.addSimpleStep("Softmax", dnnl::softmax_forward(pd), pd, seen, {{DNNL_ARG_SRC, x}});
  b.name(node.outputs[0], b.viewValue(dst, out, Builder::plainDesc(out)));
}

void lowerReduce(Builder& b, const Node& node) {
  const int x = b.valueOf(node.input(0));
  const Dims in = b.value(x).dims;
  const Dims out = b.plan().dims.at(node.outputs[0]);
  // oneDNN keeps the reduced axes as 1s; without keepdims the result is then seen without them.
  const std::vector<int64_t> axes = b.facts(node).axes(node, 1);
  Dims kept = in;
  if (axes.empty()) std::fill(kept.begin(), kept.end(), 1);
  for (int64_t a : axes) kept[normaliseAxis(a, static_cast<int64_t>(in.size()), node)] = 1;
  // A mean over one axis (the channels of a picture, say) is one pass of our
  // own: oneDNN has only its reference kernel for most such shapes.
  if (node.op == "ReduceMean" && axes.size() == 1) {
    const int64_t axis = normaliseAxis(axes[0], static_cast<int64_t>(in.size()), node);
    int source = x;
    int64_t outer = elementCount(Dims(in.begin(), in.begin() + axis));
    int64_t inner = elementCount(Dims(in.begin() + axis + 1, in.end()));
    const bool channelsLast = in.size() == 4 && axis == 1 &&
                              b.value(x).desc == memory::desc(in, kF32, memory::format_tag::acdb);
    if (channelsLast) {  // N, H, W, C in memory: the mean of each pixel's channels
      outer = in[0] * in[2] * in[3];
      inner = 1;
    } else {
      source = b.plain(x);
    }
    const int64_t length = in[axis];
    const int dst = b.newValue(kept, Builder::plainDesc(kept));
    b.addKernel("ReduceMean*", [outer, length, inner](const std::vector<float*>& p) {
      meanOverAxis(p[0], outer, length, inner, p[1]);
    }, {source, dst});
    b.name(node.outputs[0], kept == out ? dst : b.viewValue(dst, out, Builder::plainDesc(out)));
    return;
  }
  const algorithm alg = node.op == "ReduceMean" ? algorithm::reduction_mean
                        : node.op == "ReduceMax" ? algorithm::reduction_max
                                                 : algorithm::reduction_sum;
  dnnl::reduction::desc d(alg, b.value(x).desc, anyDesc(kept), 0.0f, 0.0f);
  dnnl::reduction::primitive_desc pd(d, b.attributes(), b.eng());
  const int dst = b.addSimpleStep(node.op, dnnl::reduction(pd), pd, kept, {{DNNL_ARG_SRC, x}});
  b.name(node.outputs[0], kept == out ? dst : b.viewValue(b.plain(dst), out, Builder::plainDesc(out)));
}

std::vector<Dims> poolingShape(const Node& node, const InputFacts& in) {
  if (node.outputs.size() > 1 && !node.outputs[1].empty()) refuseNode(node, "the indices output is not taken");
  const Dims& x = in.input(node, 0);
  if (x.size() < 3) refuseNode(node, "input " + dimsText(x) + " has no spatial axes");
  Dims out{x[0], x[1]};
  for (int64_t d : poolingWindow(node, x).output) out.push_back(d);
  return {out};
}

std::vector<Dims> globalPoolingShape(const Node& node, const InputFacts& in) {
  Dims out = in.input(node, 0);
  if (out.size() < 3) refuseNode(node, "input has no spatial axes");
  std::fill(out.begin() + 2, out.end(), 1);
  return {out};
}

std::vector<Dims> resizeShape(const Node& node, const InputFacts& in) { return {resizeGeometry(node, in).output}; }

std::vector<Dims> reduceShape(const Node& node, const InputFacts& in) {
  const Dims& x = in.input(node, 0);
  std::vector<int64_t> axes = in.axes(node, 1);
  std::vector<bool> reduce(x.size(), axes.empty());
  for (int64_t a : axes) reduce[normaliseAxis(a, static_cast<int64_t>(x.size()), node)] = true;
  const bool keep = node.integer("keepdims", 1) != 0;
  Dims out;
  for (size_t k = 0; k < x.size(); ++k) {
    if (!reduce[k]) out.push_back(x[k]);
    else if (keep) out.push_back(1);
  }
  return {out};
}

}  // namespace

OpRows poolingOps() {
  const OpRule pooling{poolingShape, nullptr, 1, lowerPooling};
  const OpRule global{globalPoolingShape, nullptr, 1, lowerPooling};
  const OpRule resize{resizeShape, nullptr, 1, lowerResize};
  const OpRule reduce{reduceShape, nullptr, 1, lowerReduce};
  return {
      {"MaxPool", pooling}, {"AveragePool", pooling}, {"GlobalAveragePool", global}, {"GlobalMaxPool", global},
      {"Resize", resize},   {"Upsample", resize},     {"Softmax", {sameShape, nullptr, 1, lowerSoftmax}},
      {"ReduceMean", reduce}, {"ReduceMax", reduce},  {"ReduceSum", reduce},
  };
}

}  // namespace kestrel::vision::engine
