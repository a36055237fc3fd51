#include "platform/vision/engine/ops.h"

#include <map>
#include <stdexcept>

namespace kestrel::vision::engine {
namespace {

const std::string kNotSupported = "is an op the executor does not support";

std::map<std::string, OpRule> makeTable() {
  std::map<std::string, OpRule> table;
  for (OpRows (*family)() : {convolutionOps, matMulOps, elementwiseOps, layoutOps, poolingOps, foldedOps})
    for (auto& [name, rule] : family())
      if (!table.emplace(name, rule).second) throw std::logic_error("op " + name + " has two rows");
  return table;
}

// Whether the inputs a fold reads are known: see OpRule::foldInputs.
bool foldable(const Node& node, const InputFacts& in, int needed) {
  if (needed == kNoValues) return true;
  for (size_t k = 0; k < node.inputs.size(); ++k)
    if (!node.inputs[k].empty() && !in.isConstant(k)) return false;
  if (node.inputs.empty()) return false;  // the shape rule refuses it
  const size_t count = needed == kEveryInput ? node.inputs.size() : static_cast<size_t>(needed);
  for (size_t k = 0; k < count; ++k)
    if (!in.isConstant(k)) return false;
  return true;
}

}  // namespace

const OpRule* findOp(const std::string& op) {
  static const std::map<std::string, OpRule> table = makeTable();
  auto it = table.find(op);
  return it == table.end() ? nullptr : &it->second;
}

std::vector<Dims> outputDims(const Node& node, const InputFacts& in) {
  const OpRule* rule = findOp(node.op);
  if (!rule || !rule->shape) refuseNode(node, kNotSupported);
  return rule->shape(node, in);
}

std::optional<std::vector<HostTensor>> foldNode(const Node& node, const InputFacts& in) {
  const OpRule* rule = findOp(node.op);
  if (!rule || !rule->fold || !foldable(node, in, rule->foldInputs)) return std::nullopt;
  return rule->fold(node, in);
}

void lowerNode(Builder& b, const Node& node) {
  const OpRule* rule = findOp(node.op);
  if (!rule || !rule->lower) refuseNode(node, kNotSupported);
  rule->lower(b, node);
}

}  // namespace kestrel::vision::engine
