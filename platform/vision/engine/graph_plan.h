#pragma once
// The graph as it will run: constant sub-graphs folded away, every value's
// shape known, nodes that no output needs dropped.
#include "platform/vision/engine/onnx_graph.h"

namespace kestrel::vision::engine {

struct Plan {
  int64_t opset = 0;
  std::vector<Node> nodes;                      // what runs, in order
  std::map<std::string, Dims> dims;             // every value's shape
  std::map<std::string, HostTensor> constants;  // initializers and folded values that nodes read
  std::vector<GraphInput> inputs;
  std::vector<std::string> outputs;

  bool isConstant(const std::string& name) const { return constants.count(name) != 0; }
};

// Throws ModelError naming the node that cannot be resolved.
Plan resolvePlan(Graph graph);

}  // namespace kestrel::vision::engine
