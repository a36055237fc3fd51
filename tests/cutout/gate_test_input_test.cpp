// The self-test's framing in-process: the length in wide arithmetic, counting
// without keeping, and the chin's byte order.
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

TEST(GateTestInput, ChinIsLittleEndianAndDecidesTheRestore) {
  // 1 x 20 frame: a cut run on rows 16..19, the person from row 10 down.
  const auto run = [](std::vector<uint8_t> chin) {
    GateTestInput input = gateTestInput(1, 20);
    std::vector<uint8_t> bytes = chin;
    for (int y = 0; y < 20; ++y) bytes.push_back(y >= 16 ? 255 : 0);  // mask
    for (int y = 0; y < 20; ++y) bytes.push_back(y >= 10 ? 255 : 0);  // person
    for (int y = 0; y < 20; ++y) bytes.push_back(0);                  // gate
    take(input, bytes.data(), bytes.size());
    const uint8_t* out = gatePlanes(input);
    return std::vector<uint8_t>(out, out + 20);
  };
  std::vector<uint8_t> restored(20, 0);
  std::fill(restored.begin() + 16, restored.end(), 255);
  EXPECT_EQ(run({0x10, 0, 0, 0}), restored);
  EXPECT_EQ(run({0x11, 0, 0, 0}), std::vector<uint8_t>(20, 0));
  EXPECT_EQ(run({0, 0, 0, 0x10}), std::vector<uint8_t>(20, 0));
  EXPECT_EQ(run({0xFF, 0xFF, 0xFF, 0xFF}), std::vector<uint8_t>(20, 0));
}

}  // namespace
}  // namespace kestrel
