#pragma once
#include <cstdint>

namespace kestrel {

// Raw BGRA frames in, a 32-byte header and a person mask out, until the input ends.
[[noreturn]] void runCutout(int64_t width, int64_t height);

}  // namespace kestrel
