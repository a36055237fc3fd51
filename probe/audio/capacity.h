#pragma once
#include <cstddef>
#include <cstdint>

namespace kestrel {

// Room for one converted block: its length at 48 kHz, truncated, plus 64
// frames of slack for what the resampler still held.
inline uint32_t outputCapacity(size_t frames, double inputRate) {
  return static_cast<uint32_t>(static_cast<double>(frames) * 48000.0 / inputRate) + 64;
}

}  // namespace kestrel
