#pragma once
// A step remade to write its output somewhere else: into a view of a larger
// tensor, so that a Concat's inputs land in their places as they are made
// instead of being copied there after.
#include <dnnl.hpp>

#include <optional>

namespace kestrel::vision::engine {

// The primitive of pd with its destination in `dst` instead (same dims, its
// own strides and offset): convolutions, binary ops, pooling, resampling,
// matrix products and reorders. Nothing when the kind is another, or oneDNN
// would run it with another kernel than pd's (a slower one, as a rule).
std::optional<dnnl::primitive_desc_base> withDestination(const dnnl::primitive_desc_base& pd,
                                                         const dnnl::memory::desc& dst, const dnnl::engine& eng);

}  // namespace kestrel::vision::engine
