// The self-test's framing in-process: the length in wide arithmetic, and
// counting without keeping.
#include "probe/cutout/gate_test_input.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace kestrel {
namespace {

TEST(GateTestInput, ExpectedLengthNeverOverflows) {
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  EXPECT_EQ(decimal(gateTestInput(2, 2).expected), "16");
  EXPECT_EQ(decimal(gateTestInput(1920, 1080).expected), "6220804");
  EXPECT_EQ(decimal(gateTestInput(kMax, kMax).expected), "255211775190703847542190723352697503751");
  EXPECT_EQ(decimal(gateTestInput(kMax, 1).expected), "27670116110564327425");
  EXPECT_EQ(decimal(0), "0");
}

TEST(GateTestInput, KeepsOnlyTheExpectedBytesButCountsAll) {
  GateTestInput input = gateTestInput(2, 2);
  const std::vector<uint8_t> piece(7, 1);
  for (int i = 0; i < 5; ++i) take(input, piece.data(), piece.size());
  EXPECT_EQ(input.bytes.size(), 16u);
  EXPECT_EQ(lengthError(input), "--gate-test: expected 16 bytes, got 35");

  GateTestInput shortInput = gateTestInput(2, 2);
  take(shortInput, piece.data(), 7);
  take(shortInput, piece.data(), 0);
  take(shortInput, piece.data(), 7);
  take(shortInput, piece.data(), 1);
  EXPECT_EQ(lengthError(shortInput), "--gate-test: expected 16 bytes, got 15");
  take(shortInput, piece.data(), 1);
  EXPECT_EQ(lengthError(shortInput), "");
}

TEST(GateTestInput, HugeSizesAllocateOnlyWhatArrives) {
  GateTestInput input = gateTestInput(std::numeric_limits<int64_t>::max(), 3);
  const std::vector<uint8_t> piece(1 << 16, 9);
  for (int i = 0; i < 16; ++i) take(input, piece.data(), piece.size());
  EXPECT_EQ(input.bytes.size(), size_t{16} << 16);
  EXPECT_LE(input.bytes.capacity(), size_t{32} << 16);
  EXPECT_NE(lengthError(input).find("got 1048576"), std::string::npos);
}

}  // namespace
}  // namespace kestrel
