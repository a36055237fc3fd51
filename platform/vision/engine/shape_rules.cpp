#include "platform/vision/engine/shape_rules.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace kestrel::vision::engine {
namespace {

const std::set<std::string> kSameShape = {"Relu", "Clip", "Sigmoid", "Tanh", "PRelu", "LeakyRelu", "HardSwish",
                                          "HardSigmoid", "Softmax", "Identity", "Dropout", "Neg", "Abs",
                                          "Sqrt", "Exp", "Elu", "Erf", "Floor", "Ceil", "Reciprocal"};
const std::set<std::string> kBroadcast = {"Add", "Sub", "Mul", "Div", "Max", "Min", "Pow"};

std::string dimsText(const Dims& d) {
  std::string s = "[";
  for (size_t k = 0; k < d.size(); ++k) s += (k ? "," : "") + std::to_string(d[k]);
  return s + "]";
}

[[noreturn]] void refuse(const Node& node, const std::string& why) { throw ModelError(node.where() + ": " + why); }

const Dims& dimsOf(const Node& node, const InputFacts& in, size_t k) {
  if (k >= in.dims.size() || node.input(k).empty()) refuse(node, "input " + std::to_string(k) + " is missing");
  return in.dims[k];
}

Dims spatialDefault(const Node& node, const std::string& key, size_t n, int64_t value) {
  Dims v = node.integers(key);
  if (v.empty()) return Dims(n, value);
  if (v.size() != n) refuse(node, key + " has " + std::to_string(v.size()) + " values for " + std::to_string(n) + " axes");
  return v;
}

// Shared by convolution and pooling: pads, strides, dilations and outputs.
Window window(const Node& node, const Dims& input, const Dims& kernel, bool ceilMode) {
  const size_t n = kernel.size();
  if (input.size() != n + 2) refuse(node, "input " + dimsText(input) + " does not fit a " + std::to_string(n) + "-d window");
  Window w;
  w.kernel = kernel;
  w.strides = spatialDefault(node, "strides", n, 1);
  w.dilations = spatialDefault(node, "dilations", n, 1);
  const std::string autoPad = node.text("auto_pad", "NOTSET");
  Dims pads = node.integers("pads");
  if (pads.empty()) pads.assign(2 * n, 0);
  if (pads.size() != 2 * n) refuse(node, "pads has " + std::to_string(pads.size()) + " values");
  w.padBegin.assign(pads.begin(), pads.begin() + n);
  w.padEnd.assign(pads.begin() + n, pads.end());
  for (size_t k = 0; k < n; ++k) {
    if (w.kernel[k] <= 0 || w.strides[k] <= 0 || w.dilations[k] <= 0 || w.padBegin[k] < 0 || w.padEnd[k] < 0)
      refuse(node, "has a non-positive kernel, stride or dilation, or a negative pad");
    const int64_t extent = (w.kernel[k] - 1) * w.dilations[k] + 1;
    const int64_t in = input[k + 2];
    if (autoPad == "SAME_UPPER" || autoPad == "SAME_LOWER") {
      const int64_t out = (in + w.strides[k] - 1) / w.strides[k];
      const int64_t total = std::max<int64_t>(0, (out - 1) * w.strides[k] + extent - in);
      w.padBegin[k] = autoPad == "SAME_UPPER" ? total / 2 : total - total / 2;
      w.padEnd[k] = total - w.padBegin[k];
    } else if (autoPad == "VALID") {
      w.padBegin[k] = w.padEnd[k] = 0;
    } else if (autoPad != "NOTSET") {
      refuse(node, "auto_pad " + autoPad + " is not taken");
    }
    const int64_t span = in + w.padBegin[k] + w.padEnd[k] - extent;
    if (span < 0) refuse(node, "window is larger than its padded input " + dimsText(input));
    int64_t out = span / w.strides[k] + 1;
    if (ceilMode && span % w.strides[k] != 0) {
      // One more window, cut short at the end: the end pad grows to hold it.
      ++out;
      w.padEnd[k] = std::max(w.padEnd[k], (out - 1) * w.strides[k] + extent - in - w.padBegin[k]);
    }
    w.output.push_back(out);
  }
  return w;
}

Dims reshaped(const Node& node, const Dims& input, const std::vector<int64_t>& shape) {
  Dims out;
  int64_t known = 1, inferred = -1;
  const int64_t total = elementCount(input);
  for (size_t k = 0; k < shape.size(); ++k) {
    int64_t d = shape[k];
    if (d == 0 && node.integer("allowzero", 0) == 0) {
      if (k >= input.size()) refuse(node, "shape copies an axis the input does not have");
      d = input[k];
    }
    if (d == -1) {
      if (inferred >= 0) refuse(node, "shape has more than one -1");
      inferred = static_cast<int64_t>(k);
      out.push_back(1);
      continue;
    }
    if (d < 0) refuse(node, "shape has a negative size");
    if (d > 0 && known > (int64_t{1} << 31) / d) refuse(node, "shape is too large");
    known *= d;
    out.push_back(d);
  }
  if (inferred >= 0) {
    if (known == 0 || total % known != 0) refuse(node, "shape does not divide the input " + dimsText(input));
    out[inferred] = total / known;
  }
  if (elementCount(out) != total) refuse(node, "shape " + dimsText(out) + " does not hold the input " + dimsText(input));
  return out;
}

std::vector<int64_t> axesOf(const Node& node, const InputFacts& in, size_t inputIndex) {
  if (node.has("axes")) return node.integers("axes");
  if (in.isConstant(inputIndex)) return in.constants[inputIndex]->wholes();
  return {};
}

}  // namespace

const HostTensor& InputFacts::constant(const Node& node, size_t k) const {
  if (!isConstant(k)) refuse(node, "input " + std::to_string(k) + " must be a constant");
  return *constants[k];
}

int64_t normaliseAxis(int64_t axis, int64_t rank, const Node& node) {
  if (axis < -rank || axis >= rank) refuse(node, "axis " + std::to_string(axis) + " is out of range");
  return axis < 0 ? axis + rank : axis;
}

Dims broadcastDims(const Dims& a, const Dims& b) {
  Dims out(std::max(a.size(), b.size()));
  for (size_t k = 0; k < out.size(); ++k) {
    const int64_t x = k < out.size() - a.size() ? 1 : a[k - (out.size() - a.size())];
    const int64_t y = k < out.size() - b.size() ? 1 : b[k - (out.size() - b.size())];
    if (x != y && x != 1 && y != 1) throw ModelError("shapes " + dimsText(a) + " and " + dimsText(b) + " do not broadcast");
    out[k] = x == 1 ? y : x;
  }
  return out;
}

Window convolutionWindow(const Node& node, const Dims& input, const Dims& kernel) {
  return window(node, input, Dims(kernel.begin() + 2, kernel.end()), false);
}

Window poolingWindow(const Node& node, const Dims& input) {
  const Dims kernel = node.integers("kernel_shape");
  if (kernel.empty()) refuse(node, "has no kernel_shape");
  if (node.integer("storage_order", 0) != 0) refuse(node, "storage_order 1 is not taken");
  return window(node, input, kernel, node.integer("ceil_mode", 0) != 0);
}

Window transposedWindow(const Node& node, const Dims& input, const Dims& kernel) {
  const size_t n = kernel.size() - 2;
  if (input.size() != n + 2) refuse(node, "input does not fit its kernel");
  Window w;
  w.kernel.assign(kernel.begin() + 2, kernel.end());
  w.strides = spatialDefault(node, "strides", n, 1);
  w.dilations = spatialDefault(node, "dilations", n, 1);
  const Dims extra = spatialDefault(node, "output_padding", n, 0);
  Dims pads = node.integers("pads");
  if (pads.empty()) pads.assign(2 * n, 0);
  if (pads.size() != 2 * n || node.has("output_shape") || node.text("auto_pad", "NOTSET") != "NOTSET")
    refuse(node, "only explicit pads are taken");
  w.padBegin.assign(pads.begin(), pads.begin() + n);
  w.padEnd.assign(pads.begin() + n, pads.end());
  for (size_t k = 0; k < n; ++k) {
    if (w.strides[k] <= 0 || w.dilations[k] <= 0 || w.padBegin[k] < 0 || w.padEnd[k] < 0 || extra[k] < 0)
      refuse(node, "has a non-positive stride or dilation, or a negative pad");
    // The output padding adds rows at the end: a smaller end pad.
    w.padEnd[k] -= extra[k];
    const int64_t out = w.strides[k] * (input[k + 2] - 1) + (w.kernel[k] - 1) * w.dilations[k] + 1 -
                        w.padBegin[k] - w.padEnd[k];
    if (out <= 0) refuse(node, "gives an empty output");
    w.output.push_back(out);
  }
  return w;
}

std::vector<AxisSlice> sliceAxes(const Node& node, const InputFacts& in) {
  const Dims& data = dimsOf(node, in, 0);
  const int64_t rank = static_cast<int64_t>(data.size());
  std::vector<int64_t> starts, ends, axes, steps;
  if (in.opset < 10) {
    starts = node.integers("starts");
    ends = node.integers("ends");
    axes = node.integers("axes");
  } else {
    starts = in.constant(node, 1).wholes();
    ends = in.constant(node, 2).wholes();
    if (!node.input(3).empty()) axes = in.constant(node, 3).wholes();
    if (!node.input(4).empty()) steps = in.constant(node, 4).wholes();
  }
  if (axes.empty())
    for (size_t k = 0; k < starts.size(); ++k) axes.push_back(static_cast<int64_t>(k));
  if (steps.empty()) steps.assign(starts.size(), 1);
  if (ends.size() != starts.size() || axes.size() != starts.size() || steps.size() != starts.size())
    refuse(node, "starts, ends, axes and steps differ in length");
  std::vector<AxisSlice> out;
  for (size_t k = 0; k < starts.size(); ++k) {
    AxisSlice s;
    s.axis = normaliseAxis(axes[k], rank, node);
    const int64_t size = data[s.axis];
    s.step = steps[k];
    if (s.step == 0) refuse(node, "step 0");
    auto clampIndex = [&](int64_t v, int64_t lo, int64_t hi) {
      if (v < 0) v += size;
      return std::clamp(v, lo, hi);
    };
    if (s.step > 0) {
      s.start = clampIndex(starts[k], 0, size);
      const int64_t end = clampIndex(ends[k], 0, size);
      s.count = end > s.start ? (end - s.start + s.step - 1) / s.step : 0;
    } else {
      s.start = clampIndex(starts[k], -1, size - 1);
      const int64_t end = clampIndex(ends[k], -1, size - 1);
      s.count = s.start > end ? (s.start - end - s.step - 1) / -s.step : 0;
    }
    out.push_back(s);
  }
  return out;
}

ResizeGeometry resizeGeometry(const Node& node, const InputFacts& in) {
  const Dims& x = dimsOf(node, in, 0);
  ResizeGeometry g;
  std::vector<double> scales;
  Dims sizes;
  if (node.op == "Upsample" || in.opset < 11) {
    if (node.has("scales")) {
      for (float v : node.attributes.at("scales").floats) scales.push_back(v);
    } else {
      const HostTensor& t = in.constant(node, 1);
      for (size_t k = 0; k < t.size(); ++k) scales.push_back(t.real(k));
    }
  } else {
    if (!node.input(3).empty()) {
      sizes = in.constant(node, 3).wholes();
    } else {
      const HostTensor& t = in.constant(node, 2);
      for (size_t k = 0; k < t.size(); ++k) scales.push_back(t.real(k));
    }
  }
  if (!sizes.empty()) {
    if (sizes.size() != x.size()) refuse(node, "sizes do not match the input's rank");
    for (size_t k = 0; k < x.size(); ++k) {
      if (sizes[k] <= 0) refuse(node, "asks for an empty output");
      g.output.push_back(sizes[k]);
      g.scales.push_back(static_cast<double>(sizes[k]) / static_cast<double>(x[k]));
    }
  } else {
    if (scales.size() != x.size()) refuse(node, "scales do not match the input's rank");
    for (size_t k = 0; k < x.size(); ++k) {
      if (!(scales[k] > 0)) refuse(node, "has a non-positive scale");
      const double size = std::floor(static_cast<double>(x[k]) * scales[k]);
      if (!(size >= 1)) refuse(node, "asks for an empty output");
      if (size > static_cast<double>(kWholeLimit)) refuse(node, "asks for too large an output");
      const int64_t out = static_cast<int64_t>(size);
      g.output.push_back(out);
      g.scales.push_back(scales[k]);
    }
  }
  return g;
}

std::vector<Dims> outputDims(const Node& node, const InputFacts& in) {
  const std::string& op = node.op;
  if (kSameShape.count(op)) return {dimsOf(node, in, 0)};
  if (kBroadcast.count(op)) {
    try {
      return {broadcastDims(dimsOf(node, in, 0), dimsOf(node, in, 1))};
    } catch (const ModelError& e) {
      refuse(node, e.what());
    }
  }
  if (op == "Conv") {
    const Dims& x = dimsOf(node, in, 0);
    const Dims& w = dimsOf(node, in, 1);
    const int64_t group = node.integer("group", 1);
    if (w.size() < 3 || group <= 0 || x.size() != w.size() || x[1] != w[1] * group || w[0] % group != 0)
      refuse(node, "weights " + dimsText(w) + " do not fit the input " + dimsText(x) + " in " + std::to_string(group) + " groups");
    Dims out{x[0], w[0]};
    for (int64_t d : convolutionWindow(node, x, w).output) out.push_back(d);
    return {out};
  }
  if (op == "ConvTranspose") {
    const Dims& x = dimsOf(node, in, 0);
    const Dims& w = dimsOf(node, in, 1);
    const int64_t group = node.integer("group", 1);
    if (w.size() < 3 || group <= 0 || x.size() != w.size() || x[1] != w[0])
      refuse(node, "weights " + dimsText(w) + " do not fit the input " + dimsText(x));
    Dims out{x[0], w[1] * group};
    for (int64_t d : transposedWindow(node, x, w).output) out.push_back(d);
    return {out};
  }
  if (op == "MaxPool" || op == "AveragePool") {
    if (node.outputs.size() > 1 && !node.outputs[1].empty()) refuse(node, "the indices output is not taken");
    const Dims& x = dimsOf(node, in, 0);
    if (x.size() < 3) refuse(node, "input " + dimsText(x) + " has no spatial axes");
    Dims out{x[0], x[1]};
    for (int64_t d : poolingWindow(node, x).output) out.push_back(d);
    return {out};
  }
  if (op == "GlobalAveragePool" || op == "GlobalMaxPool") {
    Dims out = dimsOf(node, in, 0);
    if (out.size() < 3) refuse(node, "input has no spatial axes");
    std::fill(out.begin() + 2, out.end(), 1);
    return {out};
  }
  if (op == "Resize" || op == "Upsample") return {resizeGeometry(node, in).output};
  if (op == "Concat") {
    Dims out = dimsOf(node, in, 0);
    const int64_t axis = normaliseAxis(node.integer("axis", 0), static_cast<int64_t>(out.size()), node);
    for (size_t k = 1; k < node.inputs.size(); ++k) {
      const Dims& d = dimsOf(node, in, k);
      if (d.size() != out.size()) refuse(node, "inputs differ in rank");
      for (size_t a = 0; a < d.size(); ++a)
        if (static_cast<int64_t>(a) != axis && d[a] != out[a]) refuse(node, "inputs differ off the joined axis");
      out[axis] += d[axis];
    }
    return {out};
  }
  if (op == "Gemm") {
    Dims a = dimsOf(node, in, 0), b = dimsOf(node, in, 1);
    if (a.size() != 2 || b.size() != 2) refuse(node, "takes 2-d inputs");
    if (node.integer("transA", 0)) std::swap(a[0], a[1]);
    if (node.integer("transB", 0)) std::swap(b[0], b[1]);
    if (a[1] != b[0]) refuse(node, "inner sizes differ");
    return {{a[0], b[1]}};
  }
  if (op == "MatMul") {
    const Dims& a = dimsOf(node, in, 0);
    const Dims& b = dimsOf(node, in, 1);
    if (a.size() < 2 || b.size() < 2 || a.back() != b[b.size() - 2]) refuse(node, "inner sizes differ");
    Dims batch;
    try {
      batch = broadcastDims(Dims(a.begin(), a.end() - 2), Dims(b.begin(), b.end() - 2));
    } catch (const ModelError& e) {
      refuse(node, e.what());
    }
    batch.push_back(a[a.size() - 2]);
    batch.push_back(b.back());
    return {batch};
  }
  if (op == "Pad") {
    Dims x = dimsOf(node, in, 0);
    const std::vector<int64_t> pads = in.opset < 11 ? node.integers("pads") : in.constant(node, 1).wholes();
    if (pads.size() != 2 * x.size()) refuse(node, "pads do not match the input's rank");
    for (size_t k = 0; k < x.size(); ++k) {
      x[k] += pads[k] + pads[k + x.size()];
      if (x[k] <= 0) refuse(node, "pads leave nothing");
    }
    return {x};
  }
  if (op == "Reshape") return {reshaped(node, dimsOf(node, in, 0), in.constant(node, 1).wholes())};
  if (op == "Flatten") {
    const Dims& x = dimsOf(node, in, 0);
    const int64_t axis = node.integer("axis", 1);
    const int64_t a = axis < 0 ? axis + static_cast<int64_t>(x.size()) : axis;
    if (a < 0 || a > static_cast<int64_t>(x.size())) refuse(node, "axis is out of range");
    return {{elementCount(Dims(x.begin(), x.begin() + a)), elementCount(Dims(x.begin() + a, x.end()))}};
  }
  if (op == "Transpose") {
    const Dims& x = dimsOf(node, in, 0);
    std::vector<int64_t> perm = node.integers("perm");
    if (perm.empty())
      for (size_t k = x.size(); k-- > 0;) perm.push_back(static_cast<int64_t>(k));
    if (perm.size() != x.size()) refuse(node, "perm does not match the input's rank");
    std::vector<bool> seen(x.size(), false);
    Dims out;
    for (int64_t p : perm) {
      if (p < 0 || p >= static_cast<int64_t>(x.size()) || seen[p]) refuse(node, "perm is not a permutation");
      seen[p] = true;
      out.push_back(x[p]);
    }
    return {out};
  }
  if (op == "Squeeze") {
    const Dims& x = dimsOf(node, in, 0);
    const std::vector<int64_t> axes = axesOf(node, in, 1);
    std::vector<bool> drop(x.size(), false);
    for (int64_t a : axes) drop[normaliseAxis(a, static_cast<int64_t>(x.size()), node)] = true;
    Dims out;
    for (size_t k = 0; k < x.size(); ++k) {
      if (axes.empty() ? x[k] == 1 : drop[k]) {
        if (x[k] != 1) refuse(node, "squeezes an axis longer than 1");
        continue;
      }
      out.push_back(x[k]);
    }
    return {out};
  }
  if (op == "Unsqueeze") {
    const Dims& x = dimsOf(node, in, 0);
    const std::vector<int64_t> axes = axesOf(node, in, 1);
    const int64_t rank = static_cast<int64_t>(x.size() + axes.size());
    std::vector<bool> added(rank, false);
    for (int64_t a : axes) {
      const int64_t k = normaliseAxis(a, rank, node);
      if (added[k]) refuse(node, "repeats an axis");
      added[k] = true;
    }
    Dims out;
    size_t from = 0;
    for (int64_t k = 0; k < rank; ++k) out.push_back(added[k] ? 1 : x[from++]);
    return {out};
  }
  if (op == "Slice") {
    Dims out = dimsOf(node, in, 0);
    for (const AxisSlice& s : sliceAxes(node, in)) out[s.axis] = s.count;
    if (elementCount(out) <= 0) refuse(node, "takes nothing");
    return {out};
  }
  if (op == "Split") {
    const Dims& x = dimsOf(node, in, 0);
    const int64_t axis = normaliseAxis(node.integer("axis", 0), static_cast<int64_t>(x.size()), node);
    std::vector<int64_t> split = node.integers("split");
    if (split.empty() && in.opset >= 13 && !node.input(1).empty()) split = in.constant(node, 1).wholes();
    const int64_t parts = static_cast<int64_t>(node.outputs.size());
    if (split.empty()) {
      if (x[axis] % parts != 0) refuse(node, "does not split evenly");
      split.assign(parts, x[axis] / parts);
    }
    int64_t sum = 0;
    for (int64_t s : split) sum += s;
    if (static_cast<int64_t>(split.size()) != parts || sum != x[axis]) refuse(node, "split sizes do not add up");
    std::vector<Dims> outs;
    for (int64_t s : split) {
      Dims d = x;
      d[axis] = s;
      if (s <= 0) refuse(node, "makes an empty part");
      outs.push_back(d);
    }
    return outs;
  }
  if (op == "ReduceMean" || op == "ReduceMax" || op == "ReduceSum") {
    const Dims& x = dimsOf(node, in, 0);
    std::vector<int64_t> axes = axesOf(node, in, 1);
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
  refuse(node, "is an op the executor does not support");
}

}  // namespace kestrel::vision::engine
