#pragma once
// Load-time evaluation of nodes whose inputs are all known: the shape
// arithmetic (Shape, Gather, Slice, Concat...) that feeds Reshape and Resize
// sizes, and constant tensors prepared by the graph (a transposed weight, a
// block of zeros). The ops that only ever fold have their rows here; the
// folds of ops that also run are beside their lowering.
#include <functional>

#include "platform/vision/engine/ops.h"

namespace kestrel::vision::engine {

using Folded = std::optional<std::vector<HostTensor>>;

Folded one(HostTensor t);

// A tensor of the given dims whose element at index idx comes from source
// element pick(idx), in the source's type.
HostTensor gatherElements(const HostTensor& source, const Dims& dims,
                          const std::function<int64_t(const Dims&)>& pick);

// The elements of x through fn; integers go through it as doubles, bounded.
HostTensor mapValues(const HostTensor& x, double (*fn)(double));

// The fold of a unary op whose arithmetic is fn.
template <double (*fn)(double)>
Folded foldMapped(const Node&, const InputFacts& in) {
  return one(mapValues(*in.constants[0], fn));
}

}  // namespace kestrel::vision::engine
