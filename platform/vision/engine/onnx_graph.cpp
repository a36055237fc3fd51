#include "platform/vision/engine/onnx_graph.h"

#include <cstring>
#include <limits>
#include <type_traits>

#include <onnx/onnx_pb.h>

namespace kestrel::vision::engine {
namespace {

float halfToFloat(uint16_t h) {
  const uint32_t sign = (h & 0x8000u) << 16;
  uint32_t exponent = (h >> 10) & 0x1f;
  uint32_t mantissa = h & 0x3ff;
  uint32_t bits;
  if (exponent == 0x1f) {
    bits = sign | 0x7f800000u | (mantissa << 13);
  } else if (exponent != 0) {
    bits = sign | ((exponent + 112) << 23) | (mantissa << 13);
  } else if (mantissa == 0) {
    bits = sign;
  } else {  // subnormal: normalise
    exponent = 113;
    while (!(mantissa & 0x400)) {
      mantissa <<= 1;
      --exponent;
    }
    bits = sign | (exponent << 23) | ((mantissa & 0x3ff) << 13);
  }
  float out;
  std::memcpy(&out, &bits, sizeof out);
  return out;
}

template <typename T>
std::vector<T> rawValues(const std::string& raw, int64_t count, const std::string& name) {
  if (raw.size() != static_cast<size_t>(count) * sizeof(T))
    throw ModelError("tensor " + name + " holds " + std::to_string(raw.size()) + " bytes for " +
                     std::to_string(count) + " values");
  std::vector<T> out(static_cast<size_t>(count));
  if (count > 0) std::memcpy(out.data(), raw.data(), raw.size());
  return out;
}

template <typename Field>
void checkCount(const Field& field, int64_t count, const std::string& name) {
  if (field.size() != count)
    throw ModelError("tensor " + name + " holds " + std::to_string(field.size()) + " values for a shape of " +
                     std::to_string(count));
}

// A tensor's values stored as Raw in its raw bytes, or else in the typed
// field the format keeps them in, as Out.
template <typename Raw, typename Out, typename Field>
std::vector<Out> values(const onnx::TensorProto& p, const Field& field, int64_t count, const std::string& name) {
  if (!p.has_raw_data()) {
    checkCount(field, count, name);
    return std::vector<Out>(field.begin(), field.end());
  }
  if constexpr (std::is_same_v<Raw, Out>) {
    return rawValues<Raw>(p.raw_data(), count, name);
  } else {
    const std::vector<Raw> raw = rawValues<Raw>(p.raw_data(), count, name);
    return std::vector<Out>(raw.begin(), raw.end());
  }
}

HostTensor readTensor(const onnx::TensorProto& p) {
  const std::string name = p.name().empty() ? "(unnamed)" : p.name();
  if (p.data_location() == onnx::TensorProto::EXTERNAL)
    throw ModelError("tensor " + name + " keeps its data in another file");
  Dims dims(p.dims().begin(), p.dims().end());
  const int64_t count = elementCount(dims);
  if (count < 0) throw ModelError("tensor " + name + " has an invalid shape");
  HostTensor t;
  t.dims = dims;
  t.integer = true;
  switch (p.data_type()) {
    case onnx::TensorProto::FLOAT:
      t.integer = false;
      t.f = values<float, float>(p, p.float_data(), count, name);
      break;
    case onnx::TensorProto::FLOAT16:
      t.integer = false;
      for (uint16_t v : values<uint16_t, uint16_t>(p, p.int32_data(), count, name)) t.f.push_back(halfToFloat(v));
      break;
    case onnx::TensorProto::DOUBLE:
      t.integer = false;
      t.f = values<double, float>(p, p.double_data(), count, name);
      break;
    case onnx::TensorProto::INT64: t.i = values<int64_t, int64_t>(p, p.int64_data(), count, name); break;
    case onnx::TensorProto::INT32: t.i = values<int32_t, int64_t>(p, p.int32_data(), count, name); break;
    case onnx::TensorProto::INT16: t.i = values<int16_t, int64_t>(p, p.int32_data(), count, name); break;
    case onnx::TensorProto::UINT16: t.i = values<uint16_t, int64_t>(p, p.int32_data(), count, name); break;
    case onnx::TensorProto::INT8: t.i = values<int8_t, int64_t>(p, p.int32_data(), count, name); break;
    case onnx::TensorProto::UINT8:
    case onnx::TensorProto::BOOL: t.i = values<uint8_t, int64_t>(p, p.int32_data(), count, name); break;
    default:
      throw ModelError("tensor " + name + " has data type " + std::to_string(p.data_type()) +
                       ", which the executor does not take");
  }
  return t;
}

Attribute readAttribute(const onnx::AttributeProto& a) {
  Attribute out;
  switch (a.type()) {
    case onnx::AttributeProto::INT: out.i = boundedWhole(a.i()); break;
    case onnx::AttributeProto::FLOAT: out.f = a.f(); break;
    case onnx::AttributeProto::STRING: out.s = a.s(); break;
    case onnx::AttributeProto::INTS:
      for (int64_t v : a.ints()) out.ints.push_back(boundedWhole(v));
      break;
    case onnx::AttributeProto::FLOATS: out.floats.assign(a.floats().begin(), a.floats().end()); break;
    case onnx::AttributeProto::TENSOR: out.t = readTensor(a.t()); break;
    default: break;  // graphs and the like: any op that needs them is refused later
  }
  return out;
}

}  // namespace

int64_t Node::integer(const std::string& key, int64_t fallback) const {
  auto it = attributes.find(key);
  if (it == attributes.end()) return fallback;
  if (it->second.i) return *it->second.i;
  throw ModelError(where() + ": attribute " + key + " is not an integer");
}

float Node::real(const std::string& key, float fallback) const {
  auto it = attributes.find(key);
  if (it == attributes.end()) return fallback;
  if (it->second.f) return *it->second.f;
  if (it->second.i) return static_cast<float>(*it->second.i);
  throw ModelError(where() + ": attribute " + key + " is not a number");
}

std::string Node::text(const std::string& key, const std::string& fallback) const {
  auto it = attributes.find(key);
  if (it == attributes.end()) return fallback;
  if (it->second.s) return *it->second.s;
  throw ModelError(where() + ": attribute " + key + " is not a string");
}

std::vector<int64_t> Node::integers(const std::string& key, std::vector<int64_t> fallback) const {
  auto it = attributes.find(key);
  return it == attributes.end() ? fallback : it->second.ints;
}

const std::string& Node::input(size_t k) const {
  static const std::string none;
  return k < inputs.size() ? inputs[k] : none;
}

std::string Node::where() const { return "node " + (name.empty() ? outputs.front() : name) + " (" + op + ")"; }

void refuseNode(const Node& node, const std::string& why) { throw ModelError(node.where() + ": " + why); }

double oneNumber(const Node& node, const HostTensor& t, const std::string& what) {
  if (t.size() != 1) refuseNode(node, what + " is not one number");
  return t.real(0);
}

Graph parseOnnx(const void* bytes, size_t size) {
  onnx::ModelProto model;
  if (size > static_cast<size_t>(std::numeric_limits<int>::max()) ||
      !model.ParseFromArray(bytes, static_cast<int>(size)) || !model.has_graph())
    throw ModelError("is not an ONNX model");
  Graph g;
  for (const auto& o : model.opset_import())
    if (o.domain().empty() || o.domain() == "ai.onnx") g.opset = o.version();
  if (g.opset == 0) throw ModelError("names no ONNX opset");
  const onnx::GraphProto& graph = model.graph();
  // Each initializer's bytes go as soon as they are read: the model is never
  // held twice over.
  for (auto& init : *model.mutable_graph()->mutable_initializer()) {
    g.initializers[init.name()] = readTensor(init);
    std::string().swap(*init.mutable_raw_data());
    google::protobuf::RepeatedField<float>().Swap(init.mutable_float_data());
  }
  for (const auto& in : graph.input()) {
    if (g.initializers.count(in.name())) continue;
    GraphInput gi{in.name(), {}};
    if (!in.type().has_tensor_type() || !in.type().tensor_type().has_shape())
      throw ModelError("input " + in.name() + " has no shape");
    for (const auto& d : in.type().tensor_type().shape().dim()) {
      if (!d.has_dim_value() || d.dim_value() <= 0) throw ModelError("input " + in.name() + " has no static shape");
      gi.dims.push_back(d.dim_value());
    }
    if (elementCount(gi.dims) < 0) throw ModelError("input " + in.name() + " is too large");
    g.inputs.push_back(std::move(gi));
  }
  for (const auto& out : graph.output()) g.outputs.push_back(out.name());
  for (const auto& n : graph.node()) {
    Node node;
    node.op = n.op_type();
    node.name = n.name();
    if (!n.domain().empty() && n.domain() != "ai.onnx")
      throw ModelError("node " + n.name() + " (" + n.op_type() + ") is from domain " + n.domain());
    node.inputs.assign(n.input().begin(), n.input().end());
    node.outputs.assign(n.output().begin(), n.output().end());
    if (node.outputs.empty()) throw ModelError("node " + n.name() + " (" + n.op_type() + ") has no output");
    for (const auto& a : n.attribute()) node.attributes[a.name()] = readAttribute(a);
    g.nodes.push_back(std::move(node));
  }
  if (g.inputs.empty() || g.outputs.empty()) throw ModelError("has no inputs or no outputs");
  return g;
}

}  // namespace kestrel::vision::engine
