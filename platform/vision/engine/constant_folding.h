#pragma once
// Load-time evaluation of the nodes whose inputs are all known: the shape
// arithmetic (Shape, Gather, Slice, Concat...) that feeds Reshape and Resize
// sizes, and constant tensors prepared by the graph (a transposed weight, a
// block of zeros).
#include <optional>

#include "platform/vision/engine/shape_rules.h"

namespace kestrel::vision::engine {

// The node's outputs when it can be evaluated now: every input it reads is a
// constant (Shape needs only its input's shape) and the op is one that the
// folder knows. Otherwise nothing.
std::optional<std::vector<HostTensor>> foldNode(const Node& node, const InputFacts& in);

}  // namespace kestrel::vision::engine
