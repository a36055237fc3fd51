#include "platform/vision/engine/graph_index.h"

#include <algorithm>

namespace kestrel::vision::engine {

GraphIndex::GraphIndex(const std::vector<Node>& nodes, const std::vector<std::string>& outputs) {
  for (size_t k = 0; k < nodes.size(); ++k) {
    for (const std::string& in : nodes[k].inputs) {
      if (in.empty()) continue;
      ++readers_[in];
      auto& list = readerNodes_[in];
      if (std::find(list.begin(), list.end(), k) == list.end()) list.push_back(k);
    }
    for (const std::string& out : nodes[k].outputs)
      if (!out.empty()) maker_[out] = k;
  }
  for (const std::string& out : outputs) {
    ++readers_[out];
    outputs_.insert(out);
  }
}

int GraphIndex::readers(const std::string& name) const {
  auto it = readers_.find(name);
  return it == readers_.end() ? 0 : it->second;
}

std::optional<size_t> GraphIndex::maker(const std::string& name) const {
  auto it = maker_.find(name);
  return it == maker_.end() ? std::nullopt : std::optional<size_t>(it->second);
}

std::optional<size_t> GraphIndex::privateMaker(const std::string& name) const {
  return readers(name) == 1 ? maker(name) : std::nullopt;
}

std::optional<size_t> GraphIndex::onlyReader(const std::string& name) const {
  if (readers(name) != 1 || isGraphOutput(name)) return std::nullopt;
  auto it = readerNodes_.find(name);
  return it == readerNodes_.end() || it->second.size() != 1 ? std::nullopt : std::optional<size_t>(it->second.front());
}

}  // namespace kestrel::vision::engine
