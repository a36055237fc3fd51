#include "platform/vision/engine/conv_bias.h"

#include <set>

namespace kestrel::vision::engine {
namespace {

// The constant's values when it holds one number a channel, shaped to add
// along the channels of an output of `rank` axes: [C], [C,1,..] or [1,C,1,..].
const HostTensor* perChannel(const Plan& plan, const std::string& name, int64_t channels, size_t rank) {
  auto c = plan.constants.find(name);
  if (c == plan.constants.end() || c->second.integer || static_cast<int64_t>(c->second.size()) != channels)
    return nullptr;
  const Dims& d = c->second.dims;
  if (d.size() != rank && d.size() != rank - 1) return nullptr;
  const size_t axis = d.size() == rank ? 1 : 0;
  if (axis == 1 && d[0] != 1) return nullptr;
  return d[axis] == channels ? &c->second : nullptr;
}

}  // namespace

void foldBiasAdds(Plan& plan) {
  std::map<std::string, int> readers;
  for (const Node& n : plan.nodes)
    for (const std::string& in : n.inputs) ++readers[in];
  for (const std::string& out : plan.outputs) ++readers[out];
  std::map<std::string, size_t> convolutionOf;  // output name -> node
  for (size_t k = 0; k < plan.nodes.size(); ++k)
    if (plan.nodes[k].op == "Conv" || plan.nodes[k].op == "ConvTranspose")
      convolutionOf[plan.nodes[k].outputs[0]] = k;

  std::set<size_t> dropped;
  for (size_t k = 0; k < plan.nodes.size(); ++k) {
    const Node& add = plan.nodes[k];
    if (add.op != "Add" || add.inputs.size() != 2) continue;
    for (int side = 0; side < 2; ++side) {
      const std::string& from = add.inputs[side];
      auto conv = convolutionOf.find(from);
      if (conv == convolutionOf.end() || readers[from] != 1) continue;
      Node& c = plan.nodes[conv->second];
      const Dims& out = plan.dims.at(from);
      if (out.size() < 3 || plan.dims.at(add.outputs[0]) != out) continue;
      const HostTensor* added = perChannel(plan, add.inputs[1 - side], out[1], out.size());
      const std::string oldBias = c.input(2);
      auto b = oldBias.empty() ? plan.constants.end() : plan.constants.find(oldBias);
      const HostTensor* bias = b == plan.constants.end() ? nullptr : &b->second;
      if (!added || (!oldBias.empty() && (!bias || bias->integer || bias->f.size() != added->f.size()))) continue;
      std::vector<float> sum = added->f;
      for (size_t j = 0; bias && j < sum.size(); ++j) sum[j] += bias->f[j];
      const std::string name = add.outputs[0] + "#bias";
      plan.constants[name] = HostTensor::floats({out[1]}, std::move(sum));
      plan.dims[name] = {out[1]};
      c.inputs.resize(3);
      c.inputs[2] = name;
      plan.dims.erase(c.outputs[0]);
      c.outputs[0] = add.outputs[0];
      dropped.insert(k);
      break;
    }
  }
  if (dropped.empty()) return;
  std::vector<Node> kept;
  for (size_t k = 0; k < plan.nodes.size(); ++k)
    if (!dropped.count(k)) kept.push_back(std::move(plan.nodes[k]));
  plan.nodes = std::move(kept);
}

}  // namespace kestrel::vision::engine
