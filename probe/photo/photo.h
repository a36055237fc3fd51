#pragma once
#include <cstdint>
#include <string>

namespace kestrel {

// Decodes a picture upright into an sRGB PNG whose longer side is at most
// maxSize, and emits its PhotoInfo line. Never returns.
[[noreturn]] void runPhoto(const std::string& input, const std::string& output, int64_t maxSize);

}  // namespace kestrel
