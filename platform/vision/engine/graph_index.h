#pragma once
// Who makes and who reads each value of a graph's nodes: the graph passes
// and the compiler ask it whether a value is read in one place only.
#include <optional>
#include <set>

#include "platform/vision/engine/onnx_graph.h"

namespace kestrel::vision::engine {

class GraphIndex {
 public:
  GraphIndex(const std::vector<Node>& nodes, const std::vector<std::string>& outputs);

  // The node inputs that read name, and one more when it is a graph output.
  int readers(const std::string& name) const;
  bool isGraphOutput(const std::string& name) const { return outputs_.count(name) != 0; }
  // The node (its index) that makes name.
  std::optional<size_t> maker(const std::string& name) const;
  // The node that makes name when nothing else reads it.
  std::optional<size_t> privateMaker(const std::string& name) const;
  // The one node that reads name, when nothing else does.
  std::optional<size_t> onlyReader(const std::string& name) const;

 private:
  std::map<std::string, int> readers_;
  std::map<std::string, std::vector<size_t>> readerNodes_;
  std::map<std::string, size_t> maker_;
  std::set<std::string> outputs_;
};

}  // namespace kestrel::vision::engine
