#pragma once
// Small arithmetic shared by the cutout steps.
#include <cstdint>

namespace kestrel {

// A double truncated toward zero into the signed 64-bit range (NaN gives 0).
int64_t truncated(double v);

// A double truncated toward zero, then kept within 0..size-1.
int64_t clampedIndex(double v, int64_t size);

}  // namespace kestrel
