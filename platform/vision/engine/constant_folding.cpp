#include "platform/vision/engine/constant_folding.h"

#include <cmath>
#include <functional>
#include <set>

namespace kestrel::vision::engine {
namespace {

// Row-major strides of dims.
Dims stridesOf(const Dims& dims) {
  Dims s(dims.size(), 1);
  for (size_t k = dims.size(); k-- > 1;) s[k - 1] = s[k] * dims[k];
  return s;
}

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
  const Dims s = stridesOf(d);
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

HostTensor withDims(HostTensor t, Dims dims) {
  t.dims = std::move(dims);
  return t;
}

// What folding makes is shape arithmetic and small constants: 64 MB at most.
constexpr int64_t kFoldedLimit = int64_t{1} << 24;

const std::set<std::string> kUnary = {"Identity", "Dropout", "Neg", "Abs", "Floor", "Ceil",
                                      "Sqrt", "Relu", "Sigmoid", "Tanh", "Exp", "Reciprocal"};
const std::set<std::string> kBinary = {"Add", "Sub", "Mul", "Div", "Max", "Min", "Pow"};

}  // namespace

std::optional<std::vector<HostTensor>> foldNode(const Node& node, const InputFacts& in) {
  const std::string& op = node.op;
  if (op == "Constant") {
    for (const auto& [key, a] : node.attributes) {
      if (key == "value" && a.t) return std::vector<HostTensor>{*a.t};
      if (key == "value_float" && a.f) return std::vector<HostTensor>{HostTensor::floats({}, {*a.f})};
      if (key == "value_int" && a.i) return std::vector<HostTensor>{HostTensor::ints({}, {*a.i})};
      if (key == "value_floats")
        return std::vector<HostTensor>{HostTensor::floats({static_cast<int64_t>(a.floats.size())}, a.floats)};
      if (key == "value_ints")
        return std::vector<HostTensor>{HostTensor::ints({static_cast<int64_t>(a.ints.size())}, a.ints)};
    }
    throw ModelError(node.where() + ": has no value the executor takes");
  }
  if (op == "Shape") {
    if (in.dims.empty()) return std::nullopt;
    const Dims& d = in.dims[0];
    const int64_t rank = static_cast<int64_t>(d.size());
    int64_t start = node.integer("start", 0), end = node.integer("end", rank);
    if (start < 0) start += rank;
    if (end < 0) end += rank;
    start = std::clamp<int64_t>(start, 0, rank);
    end = std::clamp<int64_t>(end, start, rank);
    return std::vector<HostTensor>{HostTensor::ints({end - start}, Dims(d.begin() + start, d.begin() + end))};
  }
  // Every other op needs all of its given inputs constant, and those it
  // always reads present (else the shape rules refuse the node).
  for (size_t k = 0; k < node.inputs.size(); ++k)
    if (!node.inputs[k].empty() && !in.isConstant(k)) return std::nullopt;
  const size_t always = op == "Concat"                        ? node.inputs.size()
                        : kBinary.count(op) || op == "Gather" ? 2
                        : op == "Range"                       ? 3
                                                              : 1;
  if (node.inputs.empty()) return std::nullopt;  // the shape rules refuse it
  for (size_t k = 0; k < always; ++k)
    if (!in.isConstant(k)) return std::nullopt;
  // Shape rules only for the ops that have one; Gather, Cast and the like compute their own.
  auto dimsNow = [&] { return outputDims(node, in); };
  if (kUnary.count(op)) return std::vector<HostTensor>{unary(node, *in.constants[0])};
  if (kBinary.count(op)) return std::vector<HostTensor>{binary(node, *in.constants[0], *in.constants[1])};
  const HostTensor& x = *in.constants[0];
  if (op == "Cast") {
    const int64_t to = node.integer("to", 1);
    HostTensor out;
    out.dims = x.dims;
    const bool toFloat = to == 1 || to == 10 || to == 11;
    out.integer = !toFloat;
    for (size_t k = 0; k < x.size(); ++k) {
      if (toFloat) out.f.push_back(static_cast<float>(x.real(k)));
      else out.i.push_back(boundedWhole(x.real(k)));
    }
    return std::vector<HostTensor>{out};
  }
  if (op == "Reshape" || op == "Flatten" || op == "Squeeze" || op == "Unsqueeze")
    return std::vector<HostTensor>{withDims(x, dimsNow()[0])};
  if (op == "ConstantOfShape") {
    HostTensor value = HostTensor::floats({1}, {0.0f});
    if (node.has("value") && node.attributes.at("value").t) value = *node.attributes.at("value").t;
    if (value.size() != 1) throw ModelError(node.where() + ": value is not one element");
    const Dims shape = x.wholes();
    const int64_t count = elementCount(shape);
    if (count < 0 || count > kFoldedLimit) throw ModelError(node.where() + ": shape is invalid or too large");
    HostTensor out;
    out.dims = shape;
    out.integer = value.integer;
    if (value.integer) out.i.assign(count, value.i[0]);
    else out.f.assign(count, value.f[0]);
    return std::vector<HostTensor>{out};
  }
  if (op == "Range") {
    const double start = in.constants[0]->real(0), limit = in.constants[1]->real(0), delta = in.constants[2]->real(0);
    if (delta == 0) throw ModelError(node.where() + ": delta 0");
    const double length = std::ceil((limit - start) / delta);
    if (!(length <= static_cast<double>(kFoldedLimit))) throw ModelError(node.where() + ": too long");
    const int64_t n = length > 0 ? static_cast<int64_t>(length) : 0;
    HostTensor out;
    out.dims = {n};
    out.integer = in.constants[0]->integer;
    for (int64_t k = 0; k < n; ++k) {
      if (out.integer) out.i.push_back(boundedWhole(start + k * delta));
      else out.f.push_back(static_cast<float>(start + k * delta));
    }
    return std::vector<HostTensor>{out};
  }
  if (op == "Transpose") {
    std::vector<int64_t> perm = node.integers("perm");
    if (perm.empty())
      for (size_t k = x.dims.size(); k-- > 0;) perm.push_back(static_cast<int64_t>(k));
    const Dims s = stridesOf(x.dims);
    return std::vector<HostTensor>{gatherElements(x, dimsNow()[0], [&](const Dims& idx) {
      int64_t at = 0;
      for (size_t k = 0; k < idx.size(); ++k) at += idx[k] * s[perm[k]];
      return at;
    })};
  }
  if (op == "Gather") {
    const HostTensor& indices = *in.constants[1];
    const int64_t rank = static_cast<int64_t>(x.dims.size());
    const int64_t axis = normaliseAxis(node.integer("axis", 0), rank, node);
    Dims outDims(x.dims.begin(), x.dims.begin() + axis);
    outDims.insert(outDims.end(), indices.dims.begin(), indices.dims.end());
    outDims.insert(outDims.end(), x.dims.begin() + axis + 1, x.dims.end());
    const Dims s = stridesOf(x.dims);
    const size_t q = indices.dims.size();
    const Dims is = stridesOf(indices.dims);
    return std::vector<HostTensor>{gatherElements(x, outDims, [&](const Dims& idx) {
      int64_t at = 0;
      for (int64_t k = 0; k < axis; ++k) at += idx[k] * s[k];
      int64_t flat = 0;
      for (size_t k = 0; k < q; ++k) flat += idx[axis + k] * is[k];
      int64_t j = indices.whole(static_cast<size_t>(flat));
      if (j < 0) j += x.dims[axis];
      if (j < 0 || j >= x.dims[axis]) throw ModelError(node.where() + ": index out of range");
      at += j * s[axis];
      for (int64_t k = axis + 1; k < rank; ++k) at += idx[k + q - 1] * s[k];
      return at;
    })};
  }
  if (op == "Slice") {
    const std::vector<AxisSlice> slices = sliceAxes(node, in);
    const Dims s = stridesOf(x.dims);
    std::vector<int64_t> start(x.dims.size(), 0), step(x.dims.size(), 1);
    for (const AxisSlice& a : slices) {
      start[a.axis] = a.start;
      step[a.axis] = a.step;
    }
    return std::vector<HostTensor>{gatherElements(x, dimsNow()[0], [&](const Dims& idx) {
      int64_t at = 0;
      for (size_t k = 0; k < idx.size(); ++k) at += (start[k] + idx[k] * step[k]) * s[k];
      return at;
    })};
  }
  if (op == "Concat") {
    const int64_t axis = normaliseAxis(node.integer("axis", 0), static_cast<int64_t>(x.dims.size()), node);
    HostTensor out;
    out.dims = dimsNow()[0];
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
    return std::vector<HostTensor>{out};
  }
  return std::nullopt;
}

}  // namespace kestrel::vision::engine
