// The one integer word both programs read (kestrel-probe's sizes and rate,
// kestrel-tone's N and P).
#include <gtest/gtest.h>

#include "platform/base/integer.h"

using kestrel::parseInteger;

TEST(Integer, AcceptsSignedDecimal) {
  EXPECT_EQ(parseInteger("0"), 0);
  EXPECT_EQ(parseInteger("64"), 64);
  EXPECT_EQ(parseInteger("+64"), 64);
  EXPECT_EQ(parseInteger("064"), 64);
  EXPECT_EQ(parseInteger("007"), 7);
  EXPECT_EQ(parseInteger("17"), 17);
  EXPECT_EQ(parseInteger("+17"), 17);
  EXPECT_EQ(parseInteger("-3"), -3);
  EXPECT_EQ(parseInteger("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(parseInteger("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(parseInteger("-0"), 0);
}

TEST(Integer, RefusesEverythingElse) {
  for (const char* text : {"", "+", "-", " 1", "1 ", "1x", "0x10", "1.0", "1e3", "++1", "+-1", "-+1",
                           "17x", " 17", "17 ", "9223372036854775808", "-9223372036854775809",
                           "99999999999999999999", "\xd9\xa1", "１", "1\n"}) {
    EXPECT_FALSE(parseInteger(text).has_value()) << '"' << text << '"';
  }
}
