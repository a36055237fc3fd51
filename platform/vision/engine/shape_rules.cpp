#include "platform/vision/engine/shape_rules.h"

#include <algorithm>
#include <cmath>

namespace kestrel::vision::engine {
namespace {

Dims spatialDefault(const Node& node, const std::string& key, size_t n, int64_t value) {
  Dims v = node.integers(key);
  if (v.empty()) return Dims(n, value);
  if (v.size() != n) refuseNode(node, key + " has " + std::to_string(v.size()) + " values for " + std::to_string(n) + " axes");
  return v;
}

// Shared by convolution and pooling: pads, strides, dilations and outputs.
Window window(const Node& node, const Dims& input, const Dims& kernel, bool ceilMode) {
  const size_t n = kernel.size();
  if (input.size() != n + 2) refuseNode(node, "input " + dimsText(input) + " does not fit a " + std::to_string(n) + "-d window");
  Window w;
  w.kernel = kernel;
  w.strides = spatialDefault(node, "strides", n, 1);
  w.dilations = spatialDefault(node, "dilations", n, 1);
  const std::string autoPad = node.text("auto_pad", "NOTSET");
  Dims pads = node.integers("pads");
  if (pads.empty()) pads.assign(2 * n, 0);
  if (pads.size() != 2 * n) refuseNode(node, "pads has " + std::to_string(pads.size()) + " values");
  w.padBegin.assign(pads.begin(), pads.begin() + n);
  w.padEnd.assign(pads.begin() + n, pads.end());
  for (size_t k = 0; k < n; ++k) {
    if (w.kernel[k] <= 0 || w.strides[k] <= 0 || w.dilations[k] <= 0 || w.padBegin[k] < 0 || w.padEnd[k] < 0)
      refuseNode(node, "has a non-positive kernel, stride or dilation, or a negative pad");
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
      refuseNode(node, "auto_pad " + autoPad + " is not taken");
    }
    const int64_t span = in + w.padBegin[k] + w.padEnd[k] - extent;
    if (span < 0) refuseNode(node, "window is larger than its padded input " + dimsText(input));
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

}  // namespace

const HostTensor& InputFacts::constant(const Node& node, size_t k) const {
  if (!isConstant(k)) refuseNode(node, "input " + std::to_string(k) + " must be a constant");
  return *constants[k];
}

const Dims& InputFacts::input(const Node& node, size_t k) const {
  if (k >= dims.size() || node.input(k).empty()) refuseNode(node, "input " + std::to_string(k) + " is missing");
  return dims[k];
}

std::vector<int64_t> InputFacts::axes(const Node& node, size_t k) const {
  if (node.has("axes")) return node.integers("axes");
  if (isConstant(k)) return constants[k]->wholes();
  return {};
}

std::vector<Dims> sameShape(const Node& node, const InputFacts& in) { return {in.input(node, 0)}; }

bool holdsOnePerChannel(const HostTensor& t, int64_t channels, size_t rank) {
  if (t.integer || static_cast<int64_t>(t.size()) != channels) return false;
  const Dims& d = t.dims;
  if (d.size() != rank && d.size() + 1 != rank) return false;
  return d[d.size() + 1 - rank] == channels;
}

int64_t normaliseAxis(int64_t axis, int64_t rank, const Node& node) {
  if (axis < -rank || axis >= rank) refuseNode(node, "axis " + std::to_string(axis) + " is out of range");
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
  if (kernel.empty()) refuseNode(node, "has no kernel_shape");
  if (node.integer("storage_order", 0) != 0) refuseNode(node, "storage_order 1 is not taken");
  return window(node, input, kernel, node.integer("ceil_mode", 0) != 0);
}

Window transposedWindow(const Node& node, const Dims& input, const Dims& kernel) {
  const size_t n = kernel.size() - 2;
  if (input.size() != n + 2) refuseNode(node, "input does not fit its kernel");
  Window w;
  w.kernel.assign(kernel.begin() + 2, kernel.end());
  w.strides = spatialDefault(node, "strides", n, 1);
  w.dilations = spatialDefault(node, "dilations", n, 1);
  const Dims extra = spatialDefault(node, "output_padding", n, 0);
  Dims pads = node.integers("pads");
  if (pads.empty()) pads.assign(2 * n, 0);
  if (pads.size() != 2 * n || node.has("output_shape") || node.text("auto_pad", "NOTSET") != "NOTSET")
    refuseNode(node, "only explicit pads are taken");
  w.padBegin.assign(pads.begin(), pads.begin() + n);
  w.padEnd.assign(pads.begin() + n, pads.end());
  for (size_t k = 0; k < n; ++k) {
    if (w.strides[k] <= 0 || w.dilations[k] <= 0 || w.padBegin[k] < 0 || w.padEnd[k] < 0 || extra[k] < 0)
      refuseNode(node, "has a non-positive stride or dilation, or a negative pad");
    // The output padding adds rows at the end: a smaller end pad.
    w.padEnd[k] -= extra[k];
    const int64_t out = w.strides[k] * (input[k + 2] - 1) + (w.kernel[k] - 1) * w.dilations[k] + 1 -
                        w.padBegin[k] - w.padEnd[k];
    if (out <= 0) refuseNode(node, "gives an empty output");
    w.output.push_back(out);
  }
  return w;
}

std::vector<AxisSlice> sliceAxes(const Node& node, const InputFacts& in) {
  const Dims& data = in.input(node, 0);
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
    refuseNode(node, "starts, ends, axes and steps differ in length");
  std::vector<AxisSlice> out;
  for (size_t k = 0; k < starts.size(); ++k) {
    AxisSlice s;
    s.axis = normaliseAxis(axes[k], rank, node);
    const int64_t size = data[s.axis];
    s.step = steps[k];
    if (s.step == 0) refuseNode(node, "step 0");
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
  const Dims& x = in.input(node, 0);
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
    if (sizes.size() != x.size()) refuseNode(node, "sizes do not match the input's rank");
    for (size_t k = 0; k < x.size(); ++k) {
      if (sizes[k] <= 0) refuseNode(node, "asks for an empty output");
      g.output.push_back(sizes[k]);
      g.scales.push_back(static_cast<double>(sizes[k]) / static_cast<double>(x[k]));
    }
  } else {
    if (scales.size() != x.size()) refuseNode(node, "scales do not match the input's rank");
    for (size_t k = 0; k < x.size(); ++k) {
      if (!(scales[k] > 0)) refuseNode(node, "has a non-positive scale");
      const double size = std::floor(static_cast<double>(x[k]) * scales[k]);
      if (!(size >= 1)) refuseNode(node, "asks for an empty output");
      if (size > static_cast<double>(kWholeLimit)) refuseNode(node, "asks for too large an output");
      const int64_t out = static_cast<int64_t>(size);
      g.output.push_back(out);
      g.scales.push_back(scales[k]);
    }
  }
  return g;
}

}  // namespace kestrel::vision::engine
