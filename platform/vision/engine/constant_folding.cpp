#include "platform/vision/engine/constant_folding.h"

#include <cmath>
#include <functional>

namespace kestrel::vision::engine {
namespace {

// A tensor of the given dims whose element at index idx comes from source
// element pick(idx), in the source's type.
HostTensor gatherElements(const HostTensor& source, const Dims& dims,
                          const std::function<int64_t(const Dims&)>& pick) {
  HostTensor out;
  out.dims = dims;
  out.integer = source.integer;
  const int64_t count = elementCount(dims);
  Dims idx(dims.size(), 0);
  for (int64_t n = 0; n < count; ++n) {
    const int64_t from = pick(idx);
    if (source.integer) out.i.push_back(source.i[from]);
    else out.f.push_back(source.f[from]);
    for (size_t k = dims.size(); k-- > 0;) {
      if (++idx[k] < dims[k]) break;
      idx[k] = 0;
    }
  }
  return out;
}

// Broadcast index of out-index idx into a tensor of dims `d` (right-aligned).
int64_t broadcastIndex(const Dims& idx, const Dims& d) {
  const Dims s = rowMajorStrides(d);
  int64_t at = 0;
  const size_t shift = idx.size() - d.size();
  for (size_t k = 0; k < d.size(); ++k) at += (d[k] == 1 ? 0 : idx[k + shift]) * s[k];
  return at;
}

HostTensor binary(const Node& node, const HostTensor& a, const HostTensor& b) {
  const Dims dims = broadcastDims(a.dims, b.dims);
  const bool integer = a.integer && b.integer;
  const std::string& op = node.op;
  HostTensor out;
  out.dims = dims;
  out.integer = integer;
  const int64_t count = elementCount(dims);
  Dims idx(dims.size(), 0);
  for (int64_t n = 0; n < count; ++n) {
    const int64_t ia = broadcastIndex(idx, a.dims), ib = broadcastIndex(idx, b.dims);
    if (integer) {
      const int64_t x = boundedWhole(a.i[ia]), y = boundedWhole(b.i[ib]);
      int64_t r = 0;
      if (op == "Add") r = x + y;
      else if (op == "Sub") r = x - y;
      else if (op == "Mul") r = x * y;
      else if (op == "Div") r = y == 0 ? 0 : x / y;
      else if (op == "Max") r = std::max(x, y);
      else if (op == "Min") r = std::min(x, y);
      else r = boundedWhole(std::pow(static_cast<double>(x), static_cast<double>(y)));
      out.i.push_back(r);
    } else {
      const double x = a.real(ia), y = b.real(ib);
      double r = 0;
      if (op == "Add") r = x + y;
      else if (op == "Sub") r = x - y;
      else if (op == "Mul") r = x * y;
      else if (op == "Div") r = x / y;
      else if (op == "Max") r = std::max(x, y);
      else if (op == "Min") r = std::min(x, y);
      else r = std::pow(x, y);
      out.f.push_back(static_cast<float>(r));
    }
    for (size_t k = dims.size(); k-- > 0;) {
      if (++idx[k] < dims[k]) break;
      idx[k] = 0;
    }
  }
  return out;
}

HostTensor unary(const Node& node, const HostTensor& x) {
  HostTensor out = x;
  const std::string& op = node.op;
  auto apply = [&](double v) -> double {
    if (op == "Neg") return -v;
    if (op == "Abs") return std::fabs(v);
    if (op == "Floor") return std::floor(v);
    if (op == "Ceil") return std::ceil(v);
    if (op == "Sqrt") return std::sqrt(v);
    if (op == "Relu") return v > 0 ? v : 0;
    if (op == "Sigmoid") return 1 / (1 + std::exp(-v));
    if (op == "Tanh") return std::tanh(v);
    if (op == "Exp") return std::exp(v);
    if (op == "Reciprocal") return 1 / v;
    return v;  // Identity, Dropout
  };
  for (auto& v : out.f) v = static_cast<float>(apply(v));
  for (auto& v : out.i) v = boundedWhole(apply(static_cast<double>(v)));
  return out;
}

// What folding makes is shape arithmetic and small constants: 64 MB at most.
constexpr int64_t kFoldedLimit = int64_t{1} << 24;

Folded one(HostTensor t) { return std::vector<HostTensor>{std::move(t)}; }

Folded foldConstant(const Node& node, const InputFacts&) {
  for (const auto& [key, a] : node.attributes) {
    if (key == "value" && a.t) return one(*a.t);
    if (key == "value_float" && a.f) return one(HostTensor::floats({}, {*a.f}));
    if (key == "value_int" && a.i) return one(HostTensor::ints({}, {*a.i}));
    if (key == "value_floats") return one(HostTensor::floats({static_cast<int64_t>(a.floats.size())}, a.floats));
    if (key == "value_ints") return one(HostTensor::ints({static_cast<int64_t>(a.ints.size())}, a.ints));
  }
  refuseNode(node, "has no value the executor takes");
}

Folded foldShape(const Node& node, const InputFacts& in) {
  if (in.dims.empty()) return std::nullopt;
  const Dims& d = in.dims[0];
  const int64_t rank = static_cast<int64_t>(d.size());
  int64_t start = node.integer("start", 0), end = node.integer("end", rank);
  if (start < 0) start += rank;
  if (end < 0) end += rank;
  start = std::clamp<int64_t>(start, 0, rank);
  end = std::clamp<int64_t>(end, start, rank);
  return one(HostTensor::ints({end - start}, Dims(d.begin() + start, d.begin() + end)));
}

Folded foldCast(const Node& node, const InputFacts& in) {
  const HostTensor& x = *in.constants[0];
  const int64_t to = node.integer("to", 1);
  HostTensor out;
  out.dims = x.dims;
  const bool toFloat = to == 1 || to == 10 || to == 11;
  out.integer = !toFloat;
  for (size_t k = 0; k < x.size(); ++k) {
    if (toFloat) out.f.push_back(static_cast<float>(x.real(k)));
    else out.i.push_back(boundedWhole(x.real(k)));
  }
  return one(out);
}

Folded foldConstantOfShape(const Node& node, const InputFacts& in) {
  HostTensor value = HostTensor::floats({1}, {0.0f});
  if (node.has("value") && node.attributes.at("value").t) value = *node.attributes.at("value").t;
  if (value.size() != 1) refuseNode(node, "value is not one element");
  const Dims shape = in.constants[0]->wholes();
  const int64_t count = elementCount(shape);
  if (count < 0 || count > kFoldedLimit) refuseNode(node, "shape is invalid or too large");
  HostTensor out;
  out.dims = shape;
  out.integer = value.integer;
  if (value.integer) out.i.assign(count, value.i[0]);
  else out.f.assign(count, value.f[0]);
  return one(out);
}

Folded foldRange(const Node& node, const InputFacts& in) {
  const double start = in.constants[0]->real(0), limit = in.constants[1]->real(0), delta = in.constants[2]->real(0);
  if (delta == 0) refuseNode(node, "delta 0");
  const double length = std::ceil((limit - start) / delta);
  if (!(length <= static_cast<double>(kFoldedLimit))) refuseNode(node, "too long");
  const int64_t n = length > 0 ? static_cast<int64_t>(length) : 0;
  HostTensor out;
  out.dims = {n};
  out.integer = in.constants[0]->integer;
  for (int64_t k = 0; k < n; ++k) {
    if (out.integer) out.i.push_back(boundedWhole(start + k * delta));
    else out.f.push_back(static_cast<float>(start + k * delta));
  }
  return one(out);
}

Folded foldGather(const Node& node, const InputFacts& in) {
  const HostTensor& x = *in.constants[0];
  const HostTensor& indices = *in.constants[1];
  const int64_t rank = static_cast<int64_t>(x.dims.size());
  const int64_t axis = normaliseAxis(node.integer("axis", 0), rank, node);
  Dims outDims(x.dims.begin(), x.dims.begin() + axis);
  outDims.insert(outDims.end(), indices.dims.begin(), indices.dims.end());
  outDims.insert(outDims.end(), x.dims.begin() + axis + 1, x.dims.end());
  const Dims s = rowMajorStrides(x.dims);
  const size_t q = indices.dims.size();
  const Dims is = rowMajorStrides(indices.dims);
  return one(gatherElements(x, outDims, [&](const Dims& idx) {
    int64_t at = 0;
    for (int64_t k = 0; k < axis; ++k) at += idx[k] * s[k];
    int64_t flat = 0;
    for (size_t k = 0; k < q; ++k) flat += idx[axis + k] * is[k];
    int64_t j = indices.whole(static_cast<size_t>(flat));
    if (j < 0) j += x.dims[axis];
    if (j < 0 || j >= x.dims[axis]) refuseNode(node, "index out of range");
    at += j * s[axis];
    for (int64_t k = axis + 1; k < rank; ++k) at += idx[k + q - 1] * s[k];
    return at;
  }));
}

}  // namespace

OpRows foldedOps() {
  return {
      {"Constant", {nullptr, foldConstant, kNoValues, nullptr}},
      {"Shape", {nullptr, foldShape, kNoValues, nullptr}},
      {"Cast", {nullptr, foldCast, 1, nullptr}},
      {"ConstantOfShape", {nullptr, foldConstantOfShape, 1, nullptr}},
      {"Range", {nullptr, foldRange, 3, nullptr}},
      {"Gather", {nullptr, foldGather, 2, nullptr}},
  };
}

Folded foldUnary(const Node& node, const InputFacts& in) { return one(unary(node, *in.constants[0])); }

Folded foldBinary(const Node& node, const InputFacts& in) {
  return one(binary(node, *in.constants[0], *in.constants[1]));
}

Folded foldReshaped(const Node& node, const InputFacts& in) {
  HostTensor t = *in.constants[0];
  t.dims = outputDims(node, in)[0];
  return one(std::move(t));
}

Folded foldTranspose(const Node& node, const InputFacts& in) {
  const HostTensor& x = *in.constants[0];
  std::vector<int64_t> perm = node.integers("perm");
  if (perm.empty())
    for (size_t k = x.dims.size(); k-- > 0;) perm.push_back(static_cast<int64_t>(k));
  const Dims s = rowMajorStrides(x.dims);
  return one(gatherElements(x, outputDims(node, in)[0], [&](const Dims& idx) {
    int64_t at = 0;
    for (size_t k = 0; k < idx.size(); ++k) at += idx[k] * s[perm[k]];
    return at;
  }));
}

Folded foldSlice(const Node& node, const InputFacts& in) {
  const HostTensor& x = *in.constants[0];
  const std::vector<AxisSlice> slices = sliceAxes(node, in);
  const Dims s = rowMajorStrides(x.dims);
  std::vector<int64_t> start(x.dims.size(), 0), step(x.dims.size(), 1);
  for (const AxisSlice& a : slices) {
    start[a.axis] = a.start;
    step[a.axis] = a.step;
  }
  return one(gatherElements(x, outputDims(node, in)[0], [&](const Dims& idx) {
    int64_t at = 0;
    for (size_t k = 0; k < idx.size(); ++k) at += (start[k] + idx[k] * step[k]) * s[k];
    return at;
  }));
}

Folded foldConcat(const Node& node, const InputFacts& in) {
  const HostTensor& x = *in.constants[0];
  const int64_t axis = normaliseAxis(node.integer("axis", 0), static_cast<int64_t>(x.dims.size()), node);
  HostTensor out;
  out.dims = outputDims(node, in)[0];
  bool integer = true;
  for (size_t k = 0; k < node.inputs.size(); ++k) integer = integer && in.constants[k]->integer;
  out.integer = integer;
  const int64_t outer = elementCount(Dims(x.dims.begin(), x.dims.begin() + axis));
  for (int64_t o = 0; o < outer; ++o) {
    for (size_t k = 0; k < node.inputs.size(); ++k) {
      const HostTensor& t = *in.constants[k];
      const int64_t inner = elementCount(Dims(t.dims.begin() + axis, t.dims.end()));
      for (int64_t j = 0; j < inner; ++j) {
        const size_t at = static_cast<size_t>(o * inner + j);
        if (integer) out.i.push_back(t.i[at]);
        else out.f.push_back(static_cast<float>(t.real(at)));
      }
    }
  }
  return one(out);
}

}  // namespace kestrel::vision::engine
