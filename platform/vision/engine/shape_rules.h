#pragma once
// What shape rules read of a node's inputs, and the pieces of geometry
// (broadcast, slicing, windows, resizing) that the shape rules, folding and
// lowering share. Each op's own rule is beside its lowering (see ops.h).
#include <vector>

#include "platform/vision/engine/onnx_graph.h"

namespace kestrel::vision::engine {

// What a rule may ask of a node's inputs.
struct InputFacts {
  std::vector<Dims> dims;                    // one per input; empty for an omitted one
  std::vector<const HostTensor*> constants;  // nullptr where the input is not a constant
  int64_t opset = 0;

  const HostTensor& constant(const Node& node, size_t k) const;  // throws unless constant
  bool isConstant(size_t k) const { return k < constants.size() && constants[k] != nullptr; }
  const Dims& input(const Node& node, size_t k) const;  // throws when input k is missing
  // The axes attribute, else the constant input k, else none.
  std::vector<int64_t> axes(const Node& node, size_t k) const;
};

// The rule of the ops whose output has their first input's shape.
std::vector<Dims> sameShape(const Node& node, const InputFacts& in);

Dims broadcastDims(const Dims& a, const Dims& b);  // throws ModelError when they do not broadcast

// Whether a float constant holds one number a channel of an activation of
// `rank` axes, shaped to add along its channels: [C,1,..] or [1,C,1,..].
// (Broadcasting aligns the last axes: [C] or [C,1] would run along the width
// or the height.)
bool holdsOnePerChannel(const HostTensor& t, int64_t channels, size_t rank);

// Axis in [-rank, rank) made non-negative; throws when out of range.
int64_t normaliseAxis(int64_t axis, int64_t rank, const Node& node);

// Slicing one axis: the first index, the step and the number of elements taken.
struct AxisSlice {
  int64_t axis = 0, start = 0, step = 1, count = 0;
};
std::vector<AxisSlice> sliceAxes(const Node& node, const InputFacts& in);

// Spatial geometry of a convolution or pooling window over the last
// (rank - 2) axes, pads resolved (explicit, SAME_UPPER, SAME_LOWER or VALID)
// and, for ceil mode, the end pad widened so the last window fits.
struct Window {
  Dims kernel, strides, dilations, padBegin, padEnd, output;
};
Window convolutionWindow(const Node& node, const Dims& input, const Dims& kernel);
Window poolingWindow(const Node& node, const Dims& input);

// The transposed convolution's output and pads.
Window transposedWindow(const Node& node, const Dims& input, const Dims& kernel);

// Resize: the output size of the spatial axes and the scale used for the
// coordinate mapping (output over input, per axis).
struct ResizeGeometry {
  Dims output;
  std::vector<double> scales;
};
ResizeGeometry resizeGeometry(const Node& node, const InputFacts& in);

}  // namespace kestrel::vision::engine
