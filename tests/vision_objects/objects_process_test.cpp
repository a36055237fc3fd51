// Video analysis as a process on clips made from the photos: the frame line
// carries the people, animals, labels and hands the models find.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "tests/support/clips.h"
#include "tests/support/fixture_photos.h"
#include "tests/support/json_text.h"
#include "tests/support/process.h"
#include "tests/support/scratch.h"

using namespace kestrel::test;

namespace {

// The first "frame" line of a one-second still clip of the photo, analysed at 1 Hz.
std::string frameLineOf(const Scratch& s, const std::string& photo) {
  const std::string clip =
      stillClip(s, "clip.mp4", photo, "-t 1 -r 5 -vf 'scale=trunc(iw/2)*2:trunc(ih/2)*2'");
  auto r = runProbe({clip, "1"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  for (const auto& line : lines(r.out))
    if (line.rfind("{\"type\":\"frame\"", 0) == 0) return line;
  ADD_FAILURE() << "no frame line in " << r.out;
  return {};
}


size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

TEST(ObjectsProcess, PersonDogAndHorseInTheFrameLine) {
  Scratch s;
  const std::string line = frameLineOf(s, kPerson);
  EXPECT_EQ(count(arrayOf(line, "humans"), "\"x\":"), 1u) << line;
  const std::string animals = arrayOf(line, "animals");
  EXPECT_EQ(count(animals, "\"label\":"), 2u) << line;
  EXPECT_NE(animals.find("\"label\":\"Dog\""), std::string::npos) << line;
  EXPECT_EQ(arrayOf(line, "classes").rfind("[{\"label\":\"person\"", 0), 0u) << line;
  EXPECT_EQ(arrayOf(line, "hands"), "[]");
}

TEST(ObjectsProcess, OpenHandGivesOneHandBoxAcrossThePicture) {
  Scratch s;
  const std::string line = frameLineOf(s, kHand);
  const std::string hands = arrayOf(line, "hands");
  std::smatch m;
  const std::regex box(R"(^\[\{"x":([-0-9.e]+),"y":([-0-9.e]+),"w":([-0-9.e]+),"h":([-0-9.e]+),"c":([-0-9.e]+)\}\]$)");
  ASSERT_TRUE(std::regex_match(hands, m, box)) << hands;
  EXPECT_LT(std::stod(m[1]), 0.1);  // from the wrist at the left edge
  EXPECT_GT(std::stod(m[3]), 0.6);  // to the finger tips on the right
  EXPECT_GT(std::stod(m[4]), 0.6);  // thumb tip at the top to little finger at the bottom
  EXPECT_GT(std::stod(m[5]), 0.9);
}
