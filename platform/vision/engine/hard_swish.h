#pragma once
// Hard-swish as exporters write it out, x * clip(x + 3, 0, 6) / 6 in four
// nodes (MobileNetV3 and the matte built on it), joined into one HardSwish
// node: the value x then has one reader, so the activation runs as a post-op
// of the convolution that makes x instead of four passes over its output.
#include "platform/vision/engine/graph_plan.h"

namespace kestrel::vision::engine {

void joinHardSwish(Plan& plan);

}  // namespace kestrel::vision::engine
