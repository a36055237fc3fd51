#include "platform/vision/engine/graph_plan.h"

#include <set>

#include "platform/vision/engine/conv_bias.h"
#include "platform/vision/engine/hard_swish.h"
#include "platform/vision/engine/ops.h"

namespace kestrel::vision::engine {

Plan resolvePlan(Graph graph) {
  Plan plan;
  plan.opset = graph.opset;
  plan.inputs = graph.inputs;
  plan.outputs = graph.outputs;
  std::map<std::string, HostTensor> constants = std::move(graph.initializers);
  for (const auto& [name, t] : constants) plan.dims[name] = t.dims;
  for (const GraphInput& in : graph.inputs) plan.dims[in.name] = in.dims;

  std::vector<Node> running;
  for (Node& node : graph.nodes) {
    InputFacts facts;
    facts.opset = graph.opset;
    for (const std::string& name : node.inputs) {
      if (name.empty()) {
        facts.dims.emplace_back();
        facts.constants.push_back(nullptr);
        continue;
      }
      auto d = plan.dims.find(name);
      if (d == plan.dims.end()) throw ModelError(node.where() + ": reads " + name + " before anything makes it");
      facts.dims.push_back(d->second);
      auto c = constants.find(name);
      facts.constants.push_back(c == constants.end() ? nullptr : &c->second);
    }
    if (auto folded = foldNode(node, facts)) {
      for (size_t k = 0; k < node.outputs.size() && k < folded->size(); ++k) {
        plan.dims[node.outputs[k]] = (*folded)[k].dims;
        constants[node.outputs[k]] = std::move((*folded)[k]);
      }
      continue;
    }
    const std::vector<Dims> outs = outputDims(node, facts);
    for (size_t k = 0; k < node.outputs.size(); ++k) {
      if (node.outputs[k].empty()) continue;
      if (k >= outs.size()) throw ModelError(node.where() + ": output " + node.outputs[k] + " is not taken");
      if (plan.dims.count(node.outputs[k])) throw ModelError(node.where() + ": makes " + node.outputs[k] + " again");
      if (elementCount(outs[k]) <= 0) throw ModelError(node.where() + ": makes an empty or too large tensor");
      plan.dims[node.outputs[k]] = outs[k];
    }
    running.push_back(std::move(node));
  }

  std::set<std::string> needed(plan.outputs.begin(), plan.outputs.end());
  for (const std::string& out : plan.outputs) {
    if (!plan.dims.count(out)) throw ModelError("output " + out + " is made by no node");
    if (constants.count(out)) throw ModelError("output " + out + " is a constant");
  }
  std::vector<Node> kept;
  for (auto it = running.rbegin(); it != running.rend(); ++it) {
    bool used = false;
    for (const std::string& o : it->outputs) used = used || needed.count(o);
    if (!used) continue;
    for (const std::string& i : it->inputs)
      if (!i.empty()) needed.insert(i);
    kept.push_back(std::move(*it));
  }
  plan.nodes.assign(std::make_move_iterator(kept.rbegin()), std::make_move_iterator(kept.rend()));
  for (auto& [name, t] : constants)
    if (needed.count(name)) plan.constants.emplace(name, std::move(t));
  foldBiasAdds(plan);
  joinHardSwish(plan);
  return plan;
}

}  // namespace kestrel::vision::engine
