#include "platform/vision/engine/hard_swish.h"

#include <cmath>
#include <optional>
#include <set>

#include "platform/vision/engine/graph_index.h"

namespace kestrel::vision::engine {
namespace {

class Matcher {
 public:
  explicit Matcher(const Plan& plan) : plan_(plan), index_(plan.nodes, plan.outputs) {}

  // The value of a one-number constant.
  std::optional<double> number(const std::string& name) const {
    auto c = plan_.constants.find(name);
    if (c == plan_.constants.end() || c->second.size() != 1) return std::nullopt;
    return c->second.real(0);
  }

  // Within a little of `value` (half precision keeps 1/6 as 0.16663).
  bool isNumber(const std::string& name, double value, double slack = 0) const {
    auto v = number(name);
    return v && std::abs(*v - value) <= slack * std::abs(value);
  }

  // The other input of a two-input `op` node whose one input is the number
  // `value`, and that number.
  std::optional<std::pair<std::string, double>> byNumber(const Node& n, const char* op, double value,
                                                         bool eitherSide = true, double slack = 0) const {
    if (n.op != op || n.inputs.size() != 2) return std::nullopt;
    if (isNumber(n.inputs[1], value, slack)) return std::make_pair(n.inputs[0], *number(n.inputs[1]));
    if (eitherSide && isNumber(n.inputs[0], value, slack)) return std::make_pair(n.inputs[1], *number(n.inputs[0]));
    return std::nullopt;
  }

  bool clipsToSix(const Node& n) const {
    if (n.op != "Clip") return false;
    if (n.has("min") || n.has("max") || plan_.opset < 11)
      return n.real("min", -1) == 0.0f && n.real("max", -1) == 6.0f;
    return n.inputs.size() == 3 && isNumber(n.inputs[1], 0) && isNumber(n.inputs[2], 6);
  }

  struct Found {
    std::string x;
    double factor = 1;  // the file's scale over 1/6
    std::set<size_t> nodes;
  };

  // For the final Mul(p, q): x and the three nodes before it, when p is x / 6
  // and q is clip(x + 3, 0, 6), each read only there.
  std::optional<Found> match(const std::string& p, const std::string& q) const {
    auto clip = index_.privateMaker(q);
    if (!clip || plan_.nodes[*clip].inputs.empty() || !clipsToSix(plan_.nodes[*clip])) return std::nullopt;
    auto add = index_.privateMaker(plan_.nodes[*clip].inputs[0]);
    if (!add) return std::nullopt;
    auto x = byNumber(plan_.nodes[*add], "Add", 3);
    auto scale = index_.privateMaker(p);
    if (!x || !scale) return std::nullopt;
    const Node& s = plan_.nodes[*scale];
    double factor = 1;
    if (auto m = byNumber(s, "Mul", 1.0 / 6, true, 1e-3); m && m->first == x->first) factor = m->second * 6;
    else if (auto d = byNumber(s, "Div", 6, false, 1e-3); d && d->first == x->first) factor = 6 / d->second;
    else return std::nullopt;
    return Found{x->first, factor, {*clip, *add, *scale}};
  }

 private:
  const Plan& plan_;
  const GraphIndex index_;
};

}  // namespace

void joinHardSwish(Plan& plan) {
  const Matcher matcher(plan);
  std::set<size_t> dropped;
  std::vector<std::pair<size_t, Node>> scalings;  // to insert after node k
  for (size_t k = 0; k < plan.nodes.size(); ++k) {
    Node& n = plan.nodes[k];
    if (n.op != "Mul" || n.inputs.size() != 2) continue;
    auto found = matcher.match(n.inputs[0], n.inputs[1]);
    if (!found) found = matcher.match(n.inputs[1], n.inputs[0]);
    if (!found) continue;
    Node joined;
    joined.op = "HardSwish";
    joined.name = n.name;
    joined.inputs = {found->x};
    joined.outputs = n.outputs;
    if (static_cast<float>(found->factor) != 1.0f) {
      const std::string out = n.outputs[0], unscaled = out + "#hard-swish", factor = out + "#factor";
      joined.outputs = {unscaled};
      plan.dims[unscaled] = plan.dims.at(out);
      plan.constants[factor] = HostTensor::floats({}, {static_cast<float>(found->factor)});
      plan.dims[factor] = {};
      Node scaling;
      scaling.op = "Mul";
      scaling.name = n.name + "#factor";
      scaling.inputs = {unscaled, factor};
      scaling.outputs = {out};
      scalings.emplace_back(k, std::move(scaling));
    }
    n = std::move(joined);
    dropped.insert(found->nodes.begin(), found->nodes.end());
  }
  if (dropped.empty()) return;
  std::vector<Node> kept;
  auto next = scalings.begin();
  for (size_t k = 0; k < plan.nodes.size(); ++k) {
    if (dropped.count(k)) {
      for (const std::string& out : plan.nodes[k].outputs) plan.dims.erase(out);
      continue;
    }
    kept.push_back(std::move(plan.nodes[k]));
    if (next != scalings.end() && next->first == k) kept.push_back(std::move((next++)->second));
  }
  plan.nodes = std::move(kept);
}

}  // namespace kestrel::vision::engine
