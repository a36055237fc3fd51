// Faces and gaze in the frame lines of a video made from a still.
#include <gtest/gtest.h>

#include "tests/support/clips.h"
#include "tests/support/fixture_photos.h"
#include "tests/support/process.h"
#include "tests/support/scratch.h"

using namespace kestrel::test;

TEST(FacesVideo, FrameLinesOfALoopedPortraitCarryTheFaceAndGaze) {
  Scratch s;
  const std::string video = stillClip(s, "portrait.mp4", kAstronaut, "-t 1 -r 10");
  auto r = runProbe({video, "4"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  auto out = lines(r.out);
  ASSERT_EQ(out.size(), 6u);  // info, four frames, done
  for (size_t i = 1; i <= 4; ++i) {
    EXPECT_NE(out[i].find("\"faces\":[{\"box\":{\"x\":0.3"), std::string::npos) << out[i];
    EXPECT_NE(out[i].find("\"yaw\":"), std::string::npos) << out[i];
    EXPECT_NE(out[i].find("\"pitch\":"), std::string::npos) << out[i];
    EXPECT_NE(out[i].find("\"gaze\":["), std::string::npos) << out[i];
    EXPECT_EQ(out[i].find("},{\"box\""), std::string::npos) << "one face only: " << out[i];
  }
}

TEST(FacesVideo, AFrameWithoutFacesHasNoGaze) {
  Scratch s;
  const std::string video = stillClip(s, "cat.mp4", kChelsea, "-t 0.2 -r 5 -vf scale=450:300");
  auto r = runProbe({video, "5"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto out = lines(r.out);
  ASSERT_GE(out.size(), 3u);
  EXPECT_NE(out[1].find("\"faces\":[]"), std::string::npos) << out[1];
  EXPECT_EQ(out[1].find("\"gaze\""), std::string::npos) << out[1];
}
