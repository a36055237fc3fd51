#pragma once
// Hard-swish as exporters write it out, x * clip(x + 3, 0, 6) / 6 in four
// nodes (MobileNetV3 and the models built on it), joined into one HardSwish
// node: the value x then has one reader, so the activation runs as a post-op
// of the convolution that makes x instead of four passes over its output.
// Where the file's 1/6 is rounded (half precision keeps 0.16663), a scaling
// by its ratio to 1/6 follows, so the numbers stay the file's own.
#include "platform/vision/engine/graph_plan.h"

namespace kestrel::vision::engine {

void joinHardSwish(Plan& plan);

}  // namespace kestrel::vision::engine
