#include "platform/vision/engine/hard_swish.h"

#include <cmath>
#include <optional>
#include <set>

namespace kestrel::vision::engine {
namespace {

class Matcher {
 public:
  explicit Matcher(const Plan& plan) : plan_(plan) {
    for (size_t k = 0; k < plan.nodes.size(); ++k) {
      for (const std::string& in : plan.nodes[k].inputs) ++readers_[in];
      for (const std::string& out : plan.nodes[k].outputs) maker_[out] = k;
    }
    for (const std::string& out : plan.outputs) ++readers_[out];
  }

  // The node that makes `name` when nothing else reads it, else nothing.
  std::optional<size_t> privateMaker(const std::string& name) const {
    auto m = maker_.find(name);
    auto r = readers_.find(name);
    if (m == maker_.end() || r == readers_.end() || r->second != 1) return std::nullopt;
    return m->second;
  }

  bool isNumber(const std::string& name, double value) const {
    auto c = plan_.constants.find(name);
    return c != plan_.constants.end() && c->second.size() == 1 && std::abs(c->second.real(0) - value) < 1e-6;
  }

  // The other input of a two-input `op` node whose one input is the number `value`.
  std::optional<std::string> byNumber(const Node& n, const char* op, double value, bool eitherSide = true) const {
    if (n.op != op || n.inputs.size() != 2) return std::nullopt;
    if (isNumber(n.inputs[1], value)) return n.inputs[0];
    if (eitherSide && isNumber(n.inputs[0], value)) return n.inputs[1];
    return std::nullopt;
  }

  bool clipsToSix(const Node& n) const {
    if (n.op != "Clip") return false;
    if (n.has("min") || n.has("max") || plan_.opset < 11)
      return n.real("min", -1) == 0.0f && n.real("max", -1) == 6.0f;
    return n.inputs.size() == 3 && isNumber(n.inputs[1], 0) && isNumber(n.inputs[2], 6);
  }

  // For the final Mul(p, q): x and the three nodes before it, when p is x / 6
  // and q is clip(x + 3, 0, 6), each read only there.
  std::optional<std::pair<std::string, std::set<size_t>>> match(const std::string& p, const std::string& q) const {
    auto clip = privateMaker(q);
    if (!clip || !clipsToSix(plan_.nodes[*clip])) return std::nullopt;
    auto add = privateMaker(plan_.nodes[*clip].inputs[0]);
    if (!add) return std::nullopt;
    auto x = byNumber(plan_.nodes[*add], "Add", 3);
    auto scale = privateMaker(p);
    if (!x || !scale) return std::nullopt;
    const Node& s = plan_.nodes[*scale];
    auto scaled = byNumber(s, "Mul", 1.0 / 6);
    if (!scaled) scaled = byNumber(s, "Div", 6, false);
    if (!scaled || *scaled != *x) return std::nullopt;
    return std::make_pair(*x, std::set<size_t>{*clip, *add, *scale});
  }

 private:
  const Plan& plan_;
  std::map<std::string, int> readers_;
  std::map<std::string, size_t> maker_;
};

}  // namespace

void joinHardSwish(Plan& plan) {
  const Matcher matcher(plan);
  std::set<size_t> dropped;
  for (Node& n : plan.nodes) {
    if (n.op != "Mul" || n.inputs.size() != 2) continue;
    auto found = matcher.match(n.inputs[0], n.inputs[1]);
    if (!found) found = matcher.match(n.inputs[1], n.inputs[0]);
    if (!found) continue;
    Node joined;
    joined.op = "HardSwish";
    joined.name = n.name;
    joined.inputs = {found->first};
    joined.outputs = n.outputs;
    n = std::move(joined);
    dropped.insert(found->second.begin(), found->second.end());
  }
  if (dropped.empty()) return;
  std::vector<Node> kept;
  for (size_t k = 0; k < plan.nodes.size(); ++k) {
    if (!dropped.count(k)) {
      kept.push_back(std::move(plan.nodes[k]));
      continue;
    }
    for (const std::string& out : plan.nodes[k].outputs) plan.dims.erase(out);
  }
  plan.nodes = std::move(kept);
}

}  // namespace kestrel::vision::engine
