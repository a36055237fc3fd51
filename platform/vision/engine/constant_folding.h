#pragma once
// Load-time evaluation of nodes whose inputs are all known: the shape
// arithmetic (Shape, Gather, Slice, Concat...) that feeds Reshape and Resize
// sizes, and constant tensors prepared by the graph (a transposed weight, a
// block of zeros). The folds of ops that also run are named in their
// families' rows; those that only fold have their rows here.
#include "platform/vision/engine/ops.h"

namespace kestrel::vision::engine {

using Folded = std::optional<std::vector<HostTensor>>;

Folded foldUnary(const Node& node, const InputFacts& in);     // Relu, Neg, Sqrt... (the op's own arithmetic)
Folded foldBinary(const Node& node, const InputFacts& in);    // Add, Sub, Mul, Div, Max, Min, Pow
Folded foldReshaped(const Node& node, const InputFacts& in);  // the same numbers in the shape rule's dims
Folded foldTranspose(const Node& node, const InputFacts& in);
Folded foldSlice(const Node& node, const InputFacts& in);
Folded foldConcat(const Node& node, const InputFacts& in);

}  // namespace kestrel::vision::engine
