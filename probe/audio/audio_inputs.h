#pragma once
#include <vector>

#include "probe/front/records.h"

namespace kestrel {

// The audio devices that can record, in the server's order.
std::vector<AudioInput> audioInputs();

}  // namespace kestrel
