#pragma once
#include <cstdint>

#include "probe/cutout/frame_io.h"

namespace kestrel {

// The size of a frame stream, or the end of the process with a message when
// the frames would be too large. Also makes a closed standard output a plain
// write failure instead of a signal.
StreamSize streamSetup(int64_t width, int64_t height);

}  // namespace kestrel
