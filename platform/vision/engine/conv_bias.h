#pragma once
// Models converted from TensorFlow Lite add each convolution's bias as a
// node of its own: a constant with one number a channel added to the
// convolution's output. It is folded into the convolution's bias, so the
// convolution's output goes straight on to the activation that follows.
#include "platform/vision/engine/graph_plan.h"

namespace kestrel::vision::engine {

void foldBiasAdds(Plan& plan);

}  // namespace kestrel::vision::engine
