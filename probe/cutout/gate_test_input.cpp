#include "probe/cutout/gate_test_input.h"

#include <algorithm>

#include "probe/cutout/gate_and_restore.h"

namespace kestrel {

GateTestInput gateTestInput(int64_t width, int64_t height) {
  GateTestInput input;
  input.width = width;
  input.height = height;
  input.expected = 3 * static_cast<Count>(width) * static_cast<Count>(height) + 4;
  return input;
}

void take(GateTestInput& input, const uint8_t* data, size_t size) {
  const Count room = input.expected > input.received ? input.expected - input.received : 0;
  const auto keep = static_cast<size_t>(std::min<Count>(room, size));
  input.received += size;
  if (keep == 0) return;
  // Grow geometrically but never past the expected length.
  std::vector<uint8_t>& bytes = input.bytes;
  if (bytes.capacity() - bytes.size() < keep) {
    const Count wanted =
        std::max<Count>(2 * static_cast<Count>(bytes.capacity()), bytes.size() + keep);
    bytes.reserve(static_cast<size_t>(std::min(wanted, input.expected)));
  }
  bytes.insert(bytes.end(), data, data + keep);
}

std::string lengthError(const GateTestInput& input) {
  if (input.received == input.expected) return {};
  return "--gate-test: expected " + decimal(input.expected) + " bytes, got " +
         (input.received > input.expected ? "more" : decimal(input.received));
}

const uint8_t* gatePlanes(GateTestInput& input) {
  const auto n = static_cast<size_t>(input.width * input.height);
  uint8_t* planes = input.bytes.data();
  const int64_t chin = static_cast<int64_t>(planes[0]) | static_cast<int64_t>(planes[1]) << 8 |
                       static_cast<int64_t>(planes[2]) << 16 |
                       static_cast<int64_t>(planes[3]) << 24;
  uint8_t* mask = planes + 4;
  uint8_t* person = mask + n;
  uint8_t* gate = person + n;
  const std::vector<uint8_t> instanceMask(mask, mask + n);
  std::vector<int32_t> componentIds(n, -1);
  const int64_t w = input.width, h = input.height;
  gateAndRestore({greyPlane(mask, w, h), greyPlane(instanceMask.data(), w, h), greyPlane(gate, w, h),
                  greyPlane(person, w, h), componentIds},
                 chin);
  return mask;
}

std::string decimal(Count value) {
  std::string digits;
  do {
    digits.push_back(static_cast<char>('0' + static_cast<int>(value % 10)));
    value /= 10;
  } while (value != 0);
  return {digits.rbegin(), digits.rend()};
}

}  // namespace kestrel
