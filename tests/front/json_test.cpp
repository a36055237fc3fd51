#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "probe/front/encode.h"

using namespace kestrel;

TEST(Json, InfoAndDoneShapes) {
  Info info;
  info.width = 1920;
  info.height = 1080;
  info.orientation = 6;
  info.hz = 5;
  info.vision = "engine faces";
  EXPECT_EQ(encode(info),
            R"({"type":"info","width":1920,"height":1080,"orientation":6,"hz":5,"vision":"engine faces"})");
  EXPECT_EQ(encode(Done{"done", 50}), R"({"type":"done","frames":50})");
}

TEST(Json, EmptyFrameKeepsEmptyListsAndLeavesGazeOut) {
  Frame f;
  f.pts = {1001, 30000};
  EXPECT_EQ(encode(f),
            R"({"type":"frame","pts":[1001,30000],"faces":[],"humans":[],"animals":[],"hands":[],"classes":[],"thumb":[]})");
}

TEST(Json, FullFrame) {
  Frame f;
  f.pts = {0, 600};
  f.faces.push_back(Face{Box{0.25, 0.5, 0.125, 0.0625, 0.8999999761581421}, std::nullopt, -0.5});
  f.faces.push_back(Face{Box{0, 0, 1, 1, 1}, 0.25, std::nullopt});
  f.humans.push_back(Box{0.1, 0.2, 0.3, 0.4, 0.5});
  f.animals.push_back(Animal{"Cat", Box{0, 0, 0.5, 0.5, 0.75}});
  f.classes.push_back(Label{"cell_phone", 0.5});
  f.gaze = std::vector<double>{0.1, -1};
  f.thumb = {0, 255, 7};
  EXPECT_EQ(encode(f),
            R"({"type":"frame","pts":[0,600],"faces":[{"box":{"x":0.25,"y":0.5,"w":0.125,"h":0.0625,"c":0.8999999761581421},"pitch":-0.5},{"box":{"x":0,"y":0,"w":1,"h":1,"c":1},"yaw":0.25}],"humans":[{"x":0.1,"y":0.2,"w":0.3,"h":0.4,"c":0.5}],"animals":[{"label":"Cat","box":{"x":0,"y":0,"w":0.5,"h":0.5,"c":0.75}}],"hands":[],"classes":[{"label":"cell_phone","c":0.5}],"gaze":[0.1,-1],"thumb":[0,255,7]})");
}

TEST(Json, DoublesReadBackExactly) {
  for (double d : {0.1, 1.0 / 3.0, 1e-300, 1.7976931348623157e308, -2.5e-7,
                   static_cast<double>(0.9f), 5e-324}) {
    Frame f;
    f.gaze = std::vector<double>{d, 0};
    std::string text = *encode(f);
    auto at = text.find("\"gaze\":[") + 8;
    EXPECT_EQ(std::strtod(text.c_str() + at, nullptr), d) << text;
  }
}

TEST(Json, NonFiniteDropsTheRecord) {
  for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(),
                     -std::numeric_limits<double>::infinity()}) {
    Frame f;
    f.humans.push_back(Box{0, 0, 0, 0, bad});
    EXPECT_FALSE(encode(f).has_value());
    Frame g;
    g.gaze = std::vector<double>{bad, 0};
    EXPECT_FALSE(encode(g).has_value());
  }
}

TEST(Json, StringEscaping) {
  PhotoInfo p;
  p.profile = "a/b \"q\"\nline\\ \t\x01 é 😀";
  EXPECT_EQ(encode(p),
            "{\"width\":0,\"height\":0,\"alpha\":false,\"orientation\":1,"
            "\"profile\":\"a\\/b \\\"q\\\"\\nline\\\\ \\t\\u0001 é 😀\",\"frames\":0}");
}

TEST(Json, InvalidUtf8DropsTheRecord) {
  for (const char* bad : {"\xff", "\xc3", "\xed\xa0\x80", "\xc0\xaf", "a\x80"}) {
    PhotoInfo p;
    p.profile = bad;
    EXPECT_FALSE(encode(p).has_value()) << bad;
  }
}

TEST(Json, AudioInputList) {
  EXPECT_EQ(encode(std::vector<AudioInput>{}), "[]");
  EXPECT_EQ(encode(std::vector<AudioInput>{{"mic.1", "Mic One", true}, {"b", "B", false}}),
            R"([{"id":"mic.1","name":"Mic One","isDefault":true},{"id":"b","name":"B","isDefault":false}])");
}
