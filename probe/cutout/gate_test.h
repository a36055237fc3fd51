#pragma once
#include <cstdint>

namespace kestrel {

// Runs the mask gate on planes read from standard input; writes the gated mask.
[[noreturn]] void runGateTest(int64_t width, int64_t height);

}  // namespace kestrel
