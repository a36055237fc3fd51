#include <gtest/gtest.h>

#include "probe/front/routing.h"

using namespace kestrel;

namespace {

Route routeOf(std::vector<std::string> words) {
  words.insert(words.begin(), "kestrel-probe");
  return route(words);
}

}  // namespace

TEST(Routing, NoArgumentsIsUsage) { EXPECT_EQ(routeOf({}).mode, Mode::Usage); }

TEST(Routing, ModeWordsWithTheirValues) {
  EXPECT_EQ(routeOf({"--audio-inputs"}).mode, Mode::AudioInputs);
  EXPECT_EQ(routeOf({"--audio-inputs", "x", "y"}).mode, Mode::AudioInputs);

  Route r = routeOf({"--record", ""});
  EXPECT_EQ(r.mode, Mode::Record);
  EXPECT_EQ(r.deviceId, "");

  for (auto words : {std::vector<std::string>{"--cutout", "64", "48"},
                     std::vector<std::string>{"--cutout", "+64", "48"},
                     std::vector<std::string>{"--cutout", "064", "48", "more"}}) {
    r = routeOf(words);
    EXPECT_EQ(r.mode, Mode::Cutout);
    EXPECT_EQ(r.width, 64);
    EXPECT_EQ(r.height, 48);
  }
  r = routeOf({"--gate-test", "2", "3"});
  EXPECT_EQ(r.mode, Mode::GateTest);
  EXPECT_EQ(r.width, 2);
  EXPECT_EQ(r.height, 3);

  r = routeOf({"--person", "64", "48", "fast"});
  EXPECT_EQ(r.mode, Mode::Person);
  EXPECT_EQ(r.qualityWord, "fast");

  r = routeOf({"--photo", "in.jpg", "out.png", "1024"});
  EXPECT_EQ(r.mode, Mode::Photo);
  EXPECT_EQ(r.input, "in.jpg");
  EXPECT_EQ(r.output, "out.png");
  EXPECT_EQ(r.size, 1024);
}

// A mode word whose arguments do not hold becomes the media path of a video analysis.
TEST(Routing, InvalidModeArgumentsFallThroughToVideo) {
  struct Case {
    std::vector<std::string> words;
    std::string path;
    int64_t hz;
  };
  const Case cases[] = {
      {{"--record"}, "--record", 5},
      {{"--cutout", "64", "0"}, "--cutout", 64},
      {{"--cutout", "64", "x"}, "--cutout", 64},
      {{"--cutout", "64"}, "--cutout", 64},
      {{"--cutout", "-1", "5"}, "--cutout", 1},
      {{"--gate-test", "0", "5"}, "--gate-test", 1},
      {{"--person", "64", "48"}, "--person", 64},
      {{"--photo", "a.jpg", "b.png", "0"}, "--photo", 5},
      {{"--photo", "a.jpg", "b.png"}, "--photo", 5},
      {{"--Cutout", "64", "48"}, "--Cutout", 64},
  };
  for (const auto& c : cases) {
    Route r = routeOf(c.words);
    EXPECT_EQ(r.mode, Mode::Video) << c.words[0];
    EXPECT_EQ(r.mediaPath, c.path);
    EXPECT_EQ(r.hz, c.hz) << c.words[0] << " " << c.words.size();
  }
}

TEST(Routing, RateRule) {
  const std::pair<std::vector<std::string>, int64_t> cases[] = {
      {{"clip.mp4"}, 5},        {{"clip.mp4", "12"}, 12}, {{"clip.mp4", "1"}, 1},
      {{"clip.mp4", "0"}, 1},   {{"clip.mp4", "-3"}, 1},  {{"clip.mp4", "fast"}, 5},
      {{"clip.mp4", "12", "x"}, 12}, {{"clip.mp4", "9999999999"}, 9999999999},
  };
  for (const auto& [words, hz] : cases) {
    Route r = routeOf(words);
    EXPECT_EQ(r.mode, Mode::Video);
    EXPECT_EQ(r.mediaPath, "clip.mp4");
    EXPECT_EQ(r.hz, hz) << words.size();
  }
}
