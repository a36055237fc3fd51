#pragma once
// The self-test's input framing: a little-endian u32 chin, then the mask, person
// and gate planes of width x height bytes each, nothing more and nothing less.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

using Count = unsigned __int128;  // 3 x width x height + 4 needs up to 128 bits

// Standard input as it arrives: every byte is counted, only the first
// `expected` are kept, so a huge size or a long input never allocates more
// than the planes themselves.
struct GateTestInput {
  int64_t width = 0, height = 0;
  Count expected = 0;
  Count received = 0;
  std::vector<uint8_t> bytes;
};

GateTestInput gateTestInput(int64_t width, int64_t height);
void take(GateTestInput& input, const uint8_t* data, size_t size);

// The failure line for a wrong length ("--gate-test: expected E bytes, got G",
// or "got more" for a longer input); empty when the length is right.
std::string lengthError(const GateTestInput& input);

// Runs gateAndRestore on complete input and returns the gated mask plane:
// width x height bytes inside input.bytes.
const uint8_t* gatePlanes(GateTestInput& input);

std::string decimal(Count value);

}  // namespace kestrel
