#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>

#include "tone/words.h"

using namespace kestrel::tone;

TEST(TimeWord, StrtodSyntaxWithNothingAround) {
  EXPECT_EQ(parseTime("0"), 0.0);
  EXPECT_EQ(parseTime("1e1"), 10.0);
  EXPECT_EQ(parseTime("2.5"), 2.5);
  EXPECT_EQ(parseTime("+.5"), 0.5);
  EXPECT_EQ(parseTime("-1"), -1.0);
  EXPECT_EQ(parseTime("0x10"), 16.0);
  EXPECT_TRUE(std::isinf(*parseTime("inf")));
  EXPECT_TRUE(std::isnan(*parseTime("nan")));
  for (const char* bad : {"", " 1", "\t1", "\n1", "\v1", "\f1", "\r1", "1.5abc", "1 ", "1s",
                          "abc", ".", "e5", "1e"})
    EXPECT_FALSE(parseTime(bad)) << bad;
}

TEST(TimeText, ShortestRoundTripAlwaysWithPointOrExponent) {
  EXPECT_EQ(timeText(99), "99.0");
  EXPECT_EQ(timeText(2), "2.0");
  EXPECT_EQ(timeText(0), "0.0");
  EXPECT_EQ(timeText(-0.0), "-0.0");
  EXPECT_EQ(timeText(2.5), "2.5");
  EXPECT_EQ(timeText(0.1), "0.1");
  EXPECT_EQ(timeText(1.0 / 3), "0.3333333333333333");
  EXPECT_EQ(timeText(0.0001), "0.0001");
  EXPECT_EQ(timeText(1e-5), "1e-05");
  EXPECT_EQ(timeText(1e20), "1e+20");
  EXPECT_EQ(timeText(123456789.0), "123456789.0");
  EXPECT_EQ(timeText(INFINITY), "inf");

  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> seconds(-1e4, 1e6);
  for (int i = 0; i < 20000; ++i) {
    double t = i % 2 ? seconds(random) : std::ldexp(seconds(random), static_cast<int>(i % 200) - 100);
    std::string s = timeText(t);
    EXPECT_EQ(std::strtod(s.c_str(), nullptr), t) << s;
    EXPECT_NE(s.find_first_of(".e"), std::string::npos) << s;
  }
}

TEST(OptionalText, NilOrOptionalDescription) {
  EXPECT_EQ(optionalText(std::nullopt), "nil");
  EXPECT_EQ(optionalText("Invalid data found when processing input"),
            "Optional(Invalid data found when processing input)");
}
