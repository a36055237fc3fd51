#include "platform/vision/engine/constant_folding.h"

#include <cmath>
#include <functional>

namespace kestrel::vision::engine {
namespace {

// What folding makes is shape arithmetic and small constants: 64 MB at most.
constexpr int64_t kFoldedLimit = int64_t{1} << 24;

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
  const double start = oneNumber(node, *in.constants[0], "start"), limit = oneNumber(node, *in.constants[1], "limit"),
               delta = oneNumber(node, *in.constants[2], "delta");
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

Folded one(HostTensor t) { return std::vector<HostTensor>{std::move(t)}; }

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

HostTensor mapValues(const HostTensor& x, double (*fn)(double)) {
  HostTensor out = x;
  for (auto& v : out.f) v = static_cast<float>(fn(v));
  for (auto& v : out.i) v = boundedWhole(fn(static_cast<double>(v)));
  return out;
}

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

}  // namespace kestrel::vision::engine
