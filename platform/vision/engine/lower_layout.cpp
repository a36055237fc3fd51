// Pooling, resizing, joining, slicing, padding and the ops that only change
// how a tensor is seen (Reshape, Flatten, Squeeze, Transpose...), plus
// Softmax and the reductions.
#include <algorithm>

#include "platform/vision/engine/compiler.h"
#include "platform/vision/engine/kernels.h"
#include "platform/vision/engine/shape_rules.h"

namespace kestrel::vision::engine {
namespace {

using dnnl::algorithm;
constexpr auto f32 = memory::data_type::f32;

memory::desc anyDesc(const Dims& d) { return memory::desc(d, f32, memory::format_tag::any); }

InputFacts factsOf(Builder& b, const Node& node) {
  InputFacts f;
  f.opset = b.plan().opset;
  for (const std::string& name : node.inputs) {
    f.dims.push_back(name.empty() ? Dims{} : b.plan().dims.at(name));
    f.constants.push_back(name.empty() ? nullptr : b.constant(name));
  }
  return f;
}

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
    if (v.desc != memory::desc(dims, f32, tag)) continue;
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

}  // namespace

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
  memory::dims dilations;
  for (int64_t d : w.dilations) dilations.push_back(d - 1);
  dnnl::pooling_v2_forward::desc d(dnnl::prop_kind::forward_inference, alg, b.value(x).desc, anyDesc(out),
                                   w.strides, w.kernel, dilations, w.padBegin, w.padEnd);
  dnnl::pooling_v2_forward::primitive_desc pd(d, b.attributes(), b.eng());
  const int dst = b.addSimpleStep(node.op, dnnl::pooling_v2_forward(pd), pd, out, {{DNNL_ARG_SRC, x}});
  b.name(node.outputs[0], dst);
}

void lowerResize(Builder& b, const Node& node) {
  const InputFacts facts = factsOf(b, node);
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
  // Pictures are at most 16384 pixels a side; a longer axis is a broken file
  // whose tables alone would take seconds to make.
  if (out[2] > MAX_RESIZED_AXIS || out[3] > MAX_RESIZED_AXIS)
    refuseNode(node, "resizes to more than " + std::to_string(MAX_RESIZED_AXIS) + " along an axis");
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
  const int dst = b.newValue(out, memory::desc(out, f32, planes->tag));
  const AxisMap rows = resizeAxis(in[2], out[2], g.scales[2], mode, transform, nearest);
  const AxisMap cols = resizeAxis(in[3], out[3], g.scales[3], mode, transform, nearest);
  const PixelPlanes p = planes->planes;
  b.addKernel("Resize*", [p, rows, cols](const std::vector<float*>& ptr) { resizePlanes(ptr[0], p, ptr[1], rows, cols); },
              {src, dst});
  b.name(node.outputs[0], dst);
}

void lowerConcat(Builder& b, const Node& node) {
  const Dims out = b.plan().dims.at(node.outputs[0]);
  const int axis = static_cast<int>(normaliseAxis(node.integer("axis", 0), static_cast<int64_t>(out.size()), node));
  std::vector<int> parts;
  std::vector<memory::desc> descs;
  // Inputs in different layouts send oneDNN to its reference kernel: they
  // join in the layout of the first input a convolution left.
  std::optional<memory::format_tag> common;
  if (out.size() == 4)
    for (const std::string& name : node.inputs) {
      const ValueRec& v = b.value(b.valueOf(name));
      const memory::dims dims(v.dims.begin(), v.dims.end());
      for (auto tag : {memory::format_tag::acdb, memory::format_tag::aBcd16b})
        if (!common && v.desc == memory::desc(dims, f32, tag)) common = tag;
    }
  for (const std::string& name : node.inputs) {
    int v = b.valueOf(name);
    if (common) v = b.inLayout(v, memory::desc(b.value(v).dims, f32, *common));
    parts.push_back(v);
    descs.push_back(b.value(v).desc);
  }
  dnnl::concat::primitive_desc pd(axis, descs, b.eng(), b.attributes());
  StepRec s;
  s.kind = "Concat";
  s.primitive = dnnl::concat(pd);
  const int dst = b.newValue(out, pd.dst_desc());
  for (size_t k = 0; k < parts.size(); ++k) s.valueArgs.emplace_back(DNNL_ARG_MULTIPLE_SRC + static_cast<int>(k), parts[k]);
  s.valueArgs.emplace_back(DNNL_ARG_DST, dst);
  b.addStep(std::move(s), pd);
  b.name(node.outputs[0], dst);
}

void lowerShapeOp(Builder& b, const Node& node) {
  const Dims out = b.plan().dims.at(node.outputs[0]);
  const int x = b.plain(b.valueOf(node.input(0)));
  if (node.op != "Transpose") {  // the same numbers seen with other dims
    b.name(node.outputs[0], b.viewValue(x, out, Builder::plainDesc(out)));
    return;
  }
  const Dims in = b.value(x).dims;
  std::vector<int64_t> perm = node.integers("perm");
  if (perm.empty())
    for (size_t k = in.size(); k-- > 0;) perm.push_back(static_cast<int64_t>(k));
  // The input read in the output's axis order: a strided view, then a reorder.
  memory::dims inStrides(in.size(), 1);
  for (size_t k = in.size(); k-- > 1;) inStrides[k - 1] = inStrides[k] * in[k];
  memory::dims strides;
  for (int64_t p : perm) strides.push_back(inStrides[p]);
  const int view = b.viewValue(x, out, memory::desc(out, f32, strides));
  b.name(node.outputs[0], b.inLayout(view, Builder::plainDesc(out)));
}

void lowerSlicing(Builder& b, const Node& node) {
  const InputFacts facts = factsOf(b, node);
  const int x = b.plain(b.valueOf(node.input(0)));
  const Dims in = b.value(x).dims;
  const memory::desc whole = Builder::plainDesc(in);
  auto take = [&](const Dims& offsets, const Dims& dims, const std::string& name) {
    const memory::desc part = whole.submemory_desc(dims, offsets);
    const int view = b.viewValue(x, dims, part);
    b.name(name, b.inLayout(view, Builder::plainDesc(dims)));
  };
  if (node.op == "Slice") {
    Dims offsets(in.size(), 0);
    for (const AxisSlice& s : sliceAxes(node, facts)) {
      if (s.step != 1) refuseNode(node, "slices with a step other than 1");
      offsets[s.axis] = s.start;
    }
    take(offsets, b.plan().dims.at(node.outputs[0]), node.outputs[0]);
    return;
  }
  const int64_t axis = normaliseAxis(node.integer("axis", 0), static_cast<int64_t>(in.size()), node);
  Dims offsets(in.size(), 0);
  for (const std::string& name : node.outputs) {
    if (name.empty()) continue;
    const Dims& dims = b.plan().dims.at(name);
    take(offsets, dims, name);
    offsets[axis] += dims[axis];
  }
}

bool deferPad(Builder& b, const Node& node) {
  const Node* reader = b.onlyReader(node.outputs[0]);
  if (!reader || reader->op != "Conv" || reader->input(0) != node.outputs[0]) return false;
  if (node.text("mode", "constant") != "constant") return false;
  const InputFacts facts = factsOf(b, node);
  std::vector<int64_t> pads;
  float value = 0;
  if (b.plan().opset < 11) {
    pads = node.integers("pads");
    value = node.real("value", 0);
  } else {
    if (!facts.isConstant(1)) return false;
    pads = facts.constants[1]->wholes();
    if (facts.isConstant(2)) value = static_cast<float>(facts.constants[2]->real(0));
    else if (!node.input(2).empty()) return false;
  }
  const size_t rank = b.plan().dims.at(node.input(0)).size();
  if (value != 0 || pads.size() != 2 * rank || rank < 3) return false;
  for (size_t k = 0; k < pads.size(); ++k) {
    if (pads[k] < 0) return false;
    if ((k % rank) < 2 && pads[k] != 0) return false;  // batch or channels
  }
  Builder::PendingPad p;
  p.source = node.input(0);
  for (size_t k = 2; k < rank; ++k) p.pads.push_back(pads[k]);
  for (size_t k = 2; k < rank; ++k) p.pads.push_back(pads[rank + k]);
  b.pendingPads[node.outputs[0]] = p;
  return true;
}

void lowerPad(Builder& b, const Node& node) {
  if (node.text("mode", "constant") != "constant") refuseNode(node, "only constant padding is taken");
  const InputFacts facts = factsOf(b, node);
  std::vector<int64_t> pads = b.plan().opset < 11 ? node.integers("pads") : facts.constant(node, 1).wholes();
  float value = b.plan().opset < 11 ? node.real("value", 0) : 0;
  if (b.plan().opset >= 11 && !node.input(2).empty()) value = static_cast<float>(facts.constant(node, 2).real(0));
  int x = b.valueOf(node.input(0));
  const Dims in = b.value(x).dims;
  const Dims out = b.plan().dims.at(node.outputs[0]);
  const memory::desc nhwc = in.size() == 4 ? memory::desc(in, f32, memory::format_tag::acdb) : memory::desc();
  if (in.size() == 4 && b.value(x).desc == nhwc) {
    // Channels last is row-major N, H, W, C: pad it as such.
    const Dims seen{in[0], in[2], in[3], in[1]};
    const std::vector<int64_t> seenPads{pads[0], pads[2], pads[3], pads[1], pads[4], pads[6], pads[7], pads[5]};
    const int dst = b.newValue(out, memory::desc(out, f32, memory::format_tag::acdb));
    b.addKernel("Pad*", [seen, seenPads, value](const std::vector<float*>& p) {
      padConstant(p[0], seen, p[1], seenPads, value);
    }, {x, dst});
    b.name(node.outputs[0], dst);
    return;
  }
  x = b.plain(x);
  const int dst = b.newValue(out, Builder::plainDesc(out));
  b.addKernel("Pad*", [in, pads, value](const std::vector<float*>& p) { padConstant(p[0], in, p[1], pads, value); },
              {x, dst});
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
  std::vector<int64_t> axes = node.has("axes") ? node.integers("axes")
                              : (!node.input(1).empty() && b.constant(node.input(1))) ? b.constant(node.input(1))->wholes()
                                                                                      : std::vector<int64_t>{};
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
                              b.value(x).desc == memory::desc(in, f32, memory::format_tag::acdb);
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

}  // namespace kestrel::vision::engine
