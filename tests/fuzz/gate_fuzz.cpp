// libFuzzer target: arbitrary bytes through the self-test's framing and the gate.
// Byte 0 picks the width (1..32). Byte 1 picks the height (1..32), or, with its
// top bit set, the height that makes the rest of the input exactly long enough.
// The rest is standard input, fed in pieces of varying size.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "probe/cutout/gate_and_restore.h"
#include "probe/cutout/gate_test_input.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/gate_maps.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrel;
  if (size < 2) return 0;
  const int64_t width = data[0] % 32 + 1;
  const uint8_t heightByte = data[1];
  data += 2;
  size -= 2;
  int64_t height = heightByte % 32 + 1;
  if (heightByte & 0x80) {
    height = std::max<int64_t>(1, (static_cast<int64_t>(size) - 4) / (3 * width));
    size = std::min(size, static_cast<size_t>(3 * width * height + 4));
  }

  GateTestInput input = gateTestInput(width, height);
  for (size_t at = 0, piece = 1; at < size; at += piece, piece = piece % 13 + 1)
    take(input, data + at, std::min(piece, size - at));
  kestrel::fuzz::check(input.received == size);
  kestrel::fuzz::check(input.bytes.size() == std::min<size_t>(size, static_cast<size_t>(input.expected)));
  const std::string problem = lengthError(input);
  if (size != static_cast<size_t>(input.expected)) {
    const std::string got = size > static_cast<size_t>(input.expected) ? "more" : std::to_string(size);
    kestrel::fuzz::check(problem == "--gate-test: expected " + std::to_string(3 * width * height + 4) +
                         " bytes, got " + got);
    return 0;
  }
  kestrel::fuzz::check(problem.empty());

  const auto n = static_cast<size_t>(width * height);
  const std::vector<uint8_t> instance(input.bytes.begin() + 4, input.bytes.begin() + 4 + n);
  std::vector<uint8_t> person(input.bytes.begin() + 4 + n, input.bytes.begin() + 4 + 2 * n);
  std::vector<uint8_t> gate(input.bytes.begin() + 4 + 2 * n, input.bytes.end());
  const int64_t chin = static_cast<int64_t>(data[0]) | static_cast<int64_t>(data[1]) << 8 |
                       static_cast<int64_t>(data[2]) << 16 | static_cast<int64_t>(data[3]) << 24;

  // The same call made directly, to see the count and the regions.
  std::vector<uint8_t> mask = instance;
  std::vector<int32_t> ids(n, -1);
  const int64_t cut = gateAndRestore(
      kestrel::test::gateMaps(width, height, mask.data(), instance.data(), gate.data(), person.data(), ids.data()),
      chin);
  const uint8_t* out = gatePlanes(input);
  kestrel::fuzz::check(std::equal(mask.begin(), mask.end(), out));

  int64_t counted = 0;
  int32_t regions = 0;
  for (size_t k = 0; k < n; ++k) {
    const uint8_t cap = gate[k] >= 32 ? 255 : static_cast<uint8_t>(gate[k] * 8);
    const uint8_t gated = std::min(instance[k], cap);
    counted += instance[k] >= 128 && gated < 128;
    // Every pixel is either gated or has its instance value back.
    kestrel::fuzz::check(out[k] == gated || out[k] == instance[k]);
    // Region numbers sit exactly on the cut pixels; 4-neighbours share them.
    const bool cutHere = instance[k] >= 128 && gated < 128;
    if (ids[k] >= 0) {
      kestrel::fuzz::check(cutHere);
      regions = std::max(regions, ids[k] + 1);
      const size_t x = k % static_cast<size_t>(width);
      if (x + 1 < static_cast<size_t>(width) && ids[k + 1] >= 0) kestrel::fuzz::check(ids[k + 1] == ids[k]);
      if (k + static_cast<size_t>(width) < n && ids[k + static_cast<size_t>(width)] >= 0)
        kestrel::fuzz::check(ids[k + static_cast<size_t>(width)] == ids[k]);
    } else {
      kestrel::fuzz::check(ids[k] == -1);
      // Below the floor of 0 (frames under 1000 pixels) every cut pixel is labelled.
      if (n < 1000) kestrel::fuzz::check(!cutHere);
    }
  }
  kestrel::fuzz::check(cut == counted);
  kestrel::fuzz::check(regions <= static_cast<int32_t>(n));
  return 0;
}
