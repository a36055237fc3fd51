// The gate self-test ("--gate-test"): its framing in-process (the length in
// wide arithmetic, counting without keeping), then the mode as a process (the
// length check, its message and status, and the gated plane on standard
// output).
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "probe/cutout/gate_test_input.h"
#include "tests/support/process.h"

using namespace kestrel;
using namespace kestrel::test;

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
  EXPECT_EQ(lengthError(input), "--gate-test: expected 16 bytes, got more");

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

std::string planes(const std::string& chin, const std::string& mask, const std::string& person,
                   const std::string& gate) {
  return chin + mask + person + gate;
}

TEST(GateTestProcess, WrongLengthNamesBothNumbersAndWritesNothing) {
  struct Case {
    std::vector<std::string> size;
    std::string input;
    std::string message;
  };
  const Case cases[] = {
      {{"2", "2"}, "", "--gate-test: expected 16 bytes, got 0\n"},
      {{"2", "2"}, std::string(15, 'x'), "--gate-test: expected 16 bytes, got 15\n"},
      {{"2", "2"}, std::string(17, 'x'), "--gate-test: expected 16 bytes, got more\n"},
      {{"9223372036854775807", "9223372036854775807"},
       std::string(100, 'x'),
       "--gate-test: frames of 9223372036854775807x9223372036854775807 pixels are too large "
       "(at most 16384x16384 pixels)\n"},
      // The largest planes: more expected than arrives, never allocated ahead.
      {{"16384", "16384"},
       std::string(3 << 20, 'x'),
       "--gate-test: expected 805306372 bytes, got 3145728\n"},
      // Far more given than expected: refused at the first byte too many.
      {{"3", "1"}, std::string(5 << 20, 'x'), "--gate-test: expected 13 bytes, got more\n"},
  };
  for (const Case& c : cases) {
    auto r = runProbe({"--gate-test", c.size[0], c.size[1]}, {.input = c.input});
    EXPECT_EQ(r.status, 1) << c.message;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.message);
  }
}

TEST(GateTestProcess, PlanesArrivingInPiecesAreGated) {
  // 2 x 2: full gate on the left column, none on the right.
  const std::string in = planes(std::string(4, '\0'), "\xff\x80\x40\xff", std::string(4, '\0'),
                                std::string("\xff\x00\xff\x0f", 4));
  auto r = runProbe({"--gate-test", "2", "2"}, {.input = in, .inputPieces = {1, 3, 2}});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, std::string("\xff\x00\x40\x78", 4));
}

TEST(GateTestProcess, OpenGateReturnsTheMaskUnchanged) {
  std::string mask;
  for (int i = 0; i < 12 * 9; ++i) mask.push_back(static_cast<char>(i * 37));
  auto r = runProbe({"--gate-test", "12", "9"},
                    {.input = planes("\x01\x02\x03\x04", mask, std::string(108, '\0'),
                                     std::string(108, '\xff'))});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, mask);
}

TEST(GateTestProcess, ChinByteOrderDecidesTheRestore) {
  // 4 x 20: a cut block in columns 0-1, rows 16-19; the person from row 10 down there.
  std::string mask(80, '\0'), person(80, '\0');
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 2; ++x) {
      if (y >= 16) mask[static_cast<size_t>(y * 4 + x)] = '\xff';
      if (y >= 10) person[static_cast<size_t>(y * 4 + x)] = '\xff';
    }
  }
  const std::string closed(80, '\0');
  struct Case {
    std::string chin;
    std::string out;
  };
  const Case cases[] = {{std::string("\x10\0\0\0", 4), mask},
                        {std::string("\x11\0\0\0", 4), closed},
                        {std::string("\0\0\0\x10", 4), closed},
                        {"\xff\xff\xff\xff", closed}};
  for (const Case& c : cases) {
    auto r = runProbe({"--gate-test", "4", "20"}, {.input = planes(c.chin, mask, person, closed)});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, c.out) << int(static_cast<unsigned char>(c.chin[0]));
  }
}

TEST(GateTestProcess, OnePixelFrame) {
  auto r = runProbe({"--gate-test", "1", "1"}, {.input = std::string("\0\0\0\0\xff\0\x10", 7)});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "\x80");
}

}  // namespace
