#include "platform/vision/engine/conv_bias.h"

#include <set>

#include "platform/vision/engine/graph_index.h"
#include "platform/vision/engine/shape_rules.h"

namespace kestrel::vision::engine {

void foldBiasAdds(Plan& plan) {
  const GraphIndex index(plan.nodes, plan.outputs);
  auto convolutionOf = [&](const std::string& name) {
    auto k = index.maker(name);
    const bool convolution = k && (plan.nodes[*k].op == "Conv" || plan.nodes[*k].op == "ConvTranspose");
    return convolution ? k : std::nullopt;
  };

  std::set<size_t> dropped;
  for (size_t k = 0; k < plan.nodes.size(); ++k) {
    const Node& add = plan.nodes[k];
    if (add.op != "Add" || add.inputs.size() != 2) continue;
    for (int side = 0; side < 2; ++side) {
      const std::string& from = add.inputs[side];
      auto conv = convolutionOf(from);
      if (!conv || index.readers(from) != 1) continue;
      Node& c = plan.nodes[*conv];
      const Dims& out = plan.dims.at(from);
      if (out.size() < 3 || plan.dims.at(add.outputs[0]) != out) continue;
      auto a = plan.constants.find(add.inputs[1 - side]);
      const HostTensor* added = a != plan.constants.end() && holdsOnePerChannel(a->second, out[1], out.size())
                                    ? &a->second : nullptr;
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
