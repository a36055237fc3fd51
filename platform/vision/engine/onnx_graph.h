#pragma once
// An ONNX file read into plain records: the nodes in file order, their
// attributes, the initializers as host tensors, the graph's inputs and outputs.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/vision/engine/host_tensor.h"

namespace kestrel::vision::engine {

struct Attribute {
  std::optional<int64_t> i;
  std::optional<float> f;
  std::optional<std::string> s;
  std::vector<int64_t> ints;
  std::vector<float> floats;
  std::optional<HostTensor> t;
};

struct Node {
  std::string op;
  std::string name;
  std::vector<std::string> inputs;   // "" for an omitted optional input
  std::vector<std::string> outputs;
  std::map<std::string, Attribute> attributes;

  bool has(const std::string& key) const { return attributes.count(key) != 0; }
  int64_t integer(const std::string& key, int64_t fallback) const;
  float real(const std::string& key, float fallback) const;
  std::string text(const std::string& key, const std::string& fallback) const;
  std::vector<int64_t> integers(const std::string& key, std::vector<int64_t> fallback = {}) const;
  // The input at index k, or "" when there is none.
  const std::string& input(size_t k) const;
  // What the executor says of this node in an error: "node NAME (OP)".
  std::string where() const;
};

// Throws ModelError saying why the node is not taken: "node NAME (OP): why".
[[noreturn]] void refuseNode(const Node& node, const std::string& why);
// The one number a node's input holds (a Range bound, a Pad value); an input
// of another size is refused, naming `what`.
double oneNumber(const Node& node, const HostTensor& t, const std::string& what);

struct GraphInput {
  std::string name;
  Dims dims;
};

struct Graph {
  int64_t opset = 0;
  std::vector<Node> nodes;
  std::map<std::string, HostTensor> initializers;
  std::vector<GraphInput> inputs;    // without the initializers
  std::vector<std::string> outputs;
};

// Parses an ONNX model held in memory. Throws ModelError saying what is
// wrong with it (not ONNX, a tensor whose data does not match its shape, an
// input without a static shape, a type other than float and integers...).
Graph parseOnnx(const void* bytes, size_t size);

}  // namespace kestrel::vision::engine
