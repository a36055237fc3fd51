#pragma once
// Output shapes of the ops the executor takes, from their inputs' shapes and
// the constants among their inputs; also the pieces of geometry (broadcast,
// slicing, reshaping, pooling windows) that folding and compiling share.
#include <functional>
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
};

// The output shapes of node. Throws ModelError for an op it does not know,
// an attribute it does not take or shapes that do not fit together.
std::vector<Dims> outputDims(const Node& node, const InputFacts& in);

Dims broadcastDims(const Dims& a, const Dims& b);  // throws ModelError when they do not broadcast

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
