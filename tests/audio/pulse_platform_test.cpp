// The audio service against a real PulseAudio server, in this process.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/audio/audio_service.h"
#include "tests/audio/pulse_server.h"

using namespace kestrel::audio;
using kestrel::test::PulseServer;

namespace {

class PulsePlatform : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(server.error(), "") << "the test's PulseAudio server did not start";
    for (const auto& [k, v] : server.clientEnv()) setenv(k.c_str(), v.c_str(), 1);
    silenceAudio();
  }
  PulseServer server;
};

const Source* find(const SourceList& list, const std::string& id) {
  for (const auto& s : list.sources)
    if (s.id == id) return &s;
  return nullptr;
}

}  // namespace

TEST_F(PulsePlatform, ListsSourcesWithChannelsMonitorsAndDefault) {
  SourceList list = listSources();
  const Source* sine = find(list, "sine");
  const Source* stereo = find(list, "stereo");
  ASSERT_TRUE(sine && stereo);
  EXPECT_EQ(sine->name, "Sine 440");
  EXPECT_EQ(sine->channels, 1u);
  EXPECT_FALSE(sine->monitor);
  EXPECT_EQ(stereo->name, "St\xc3\xa9r\xc3\xa9o/\"Mic\"");
  EXPECT_EQ(stereo->channels, 2u);
  EXPECT_FALSE(stereo->monitor);
  EXPECT_LT(sine - list.sources.data(), stereo - list.sources.data());  // the server's order
  for (const char* id : {"out.monitor", "pair.monitor", "left.monitor", "right.monitor"}) {
    const Source* m = find(list, id);
    ASSERT_TRUE(m) << id;
    EXPECT_TRUE(m->monitor) << id;
  }
  EXPECT_EQ(list.defaultId, "sine");
  ASSERT_TRUE(server.pactl("set-default-source stereo"));
  EXPECT_EQ(listSources().defaultId, "stereo");
}

TEST_F(PulsePlatform, FormatsAndStartingOnAMissingSource) {
  Server s;
  ASSERT_TRUE(s.connect().ok());
  auto stereo = s.format("stereo");
  ASSERT_TRUE(stereo);
  EXPECT_EQ(stereo->sampleRate, 44100u);
  EXPECT_EQ(stereo->channels, 2u);
  auto fallback = s.format("");  // the default source
  ASSERT_TRUE(fallback);
  EXPECT_EQ(fallback->sampleRate, 48000u);
  EXPECT_EQ(fallback->channels, 1u);
  EXPECT_FALSE(s.format("nosuch"));

  bool lost = false;
  Result r = s.startCapture("nosuch", {44100, 2}, [](const float*, size_t) {},
                            [&](const std::string&) { lost = true; });
  EXPECT_EQ(r.outcome, Outcome::NoSource) << r.error;
  EXPECT_FALSE(lost);  // refused at the start is not a loss during a recording
}

