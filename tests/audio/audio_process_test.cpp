// The listing and recording modes as processes, against the test's own server.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "tests/audio/pulse_server.h"
#include "tests/support/live_process.h"
#include "tests/audio/tone.h"
#include "tests/support/process.h"
#include "tests/support/scratch.h"

using namespace kestrel::test;

namespace {

const std::string LISTING =
    "[{\"id\":\"sine\",\"name\":\"Sine 440\",\"isDefault\":true},"
    "{\"id\":\"stereo\",\"name\":\"St\xc3\xa9r\xc3\xa9o\\/\\\"Mic\\\"\",\"isDefault\":false}]\n";

class AudioProcess : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(server.error(), "") << "the test's PulseAudio server did not start"; }

  ProcessResult probe(const std::vector<std::string>& args, std::map<std::string, std::string> env = {}) {
    auto all = server.clientEnv();
    for (auto& [k, v] : env) all[k] = v;
    return runProbe(args, {.env = all, .timeoutSeconds = 30});
  }

  // Starts a recording that runs until its input is closed.
  std::unique_ptr<LiveProcess> record(const std::string& id) {
    auto p = std::make_unique<LiveProcess>(std::vector<std::string>{KESTREL_PROBE, "--record", id},
                                           server.clientEnv());
    EXPECT_TRUE(p->started());
    return p;
  }

  // Records for `seconds` after the first bytes, then closes the input.
  std::vector<float> recordFor(const std::string& id, double seconds) {
    auto p = record(id);
    EXPECT_TRUE(p->gatherUntil(4, 10)) << "no audio within 10 s; stderr: " << p->err();
    p->gather(seconds);
    p->closeInput();
    EXPECT_TRUE(p->finish(10)) << "still running 10 s after its input ended";
    EXPECT_EQ(p->status(), 0);
    EXPECT_EQ(p->err(), "");
    EXPECT_EQ(p->out().size() % 4, 0u);
    return floatsOf(p->out());
  }

  PulseServer server;
};

}  // namespace

TEST_F(AudioProcess, ListsMicrophonesWithoutMonitors) {
  for (auto args : {std::vector<std::string>{"--audio-inputs"},
                    std::vector<std::string>{"--audio-inputs", "extra", "words"}}) {
    auto r = probe(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, LISTING);
  }
  ASSERT_TRUE(server.pactl("set-default-source stereo"));
  auto r = probe({"--audio-inputs"});
  EXPECT_NE(r.out.find("\"id\":\"stereo\",\"name\":\"St\xc3\xa9r\xc3\xa9o\\/\\\"Mic\\\"\",\"isDefault\":true"),
            std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"id\":\"sine\",\"name\":\"Sine 440\",\"isDefault\":false"), std::string::npos) << r.out;
}

TEST_F(AudioProcess, LibraryStaysQuietWithABrokenClientConfig) {
  Scratch s;
  writeFile(s.path("client.conf"), "this is = not\nvalid at all\n");
  auto r = probe({"--audio-inputs"}, {{"PULSE_CLIENTCONFIG", s.path("client.conf")}});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, LISTING);
}

TEST_F(AudioProcess, NoServer) {
  server.kill();
  auto listing = probe({"--audio-inputs"});
  EXPECT_EQ(listing.status, 0);
  EXPECT_EQ(listing.err, "");
  EXPECT_EQ(listing.out, "[]\n");

  auto r = probe({"--record", ""}, {{"PULSE_SERVER", "unix:/nonexistent/kestrel-native"}});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("can't start the microphone: ", 0), 0u) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
}

TEST_F(AudioProcess, StereoAt44kBecomesChannelZeroAt48k) {
  auto samples = recordFor("stereo", 2.0);
  // Two seconds after the first block, give or take a block and the stop;
  // unconverted 44.1 kHz would give 88,200.
  EXPECT_GT(samples.size(), 90000u);
  EXPECT_LT(samples.size(), 110000u);
  EXPECT_NEAR(toneLevel(samples, LEFT_HZ, 48000, 4800), 0.5, 0.05);
  EXPECT_LT(toneLevel(samples, RIGHT_HZ, 48000, 4800), 0.01);
}

TEST_F(AudioProcess, EmptyIdentifierRecordsTheDefault) {
  auto sine = recordFor("", 0.5);
  EXPECT_GT(toneLevel(sine, SINE_HZ, 48000, 2400), 0.2);
  EXPECT_LT(toneLevel(sine, LEFT_HZ, 48000, 2400), 0.01);

  ASSERT_TRUE(server.pactl("set-default-source stereo"));
  auto stereo = recordFor("", 0.5);
  EXPECT_NEAR(toneLevel(stereo, LEFT_HZ, 48000, 2400), 0.5, 0.05);
  EXPECT_LT(toneLevel(stereo, SINE_HZ, 48000, 2400), 0.01);
}

TEST_F(AudioProcess, UnknownIdentifiersAreRefusedExactly) {
  for (std::string id : {"nosuch", "Sine", "sine ", "stereo.monitor"}) {
    auto r = probe({"--record", id});
    EXPECT_EQ(r.status, 1) << id;
    EXPECT_EQ(r.out, "") << id;
    EXPECT_EQ(r.err, "no microphone " + id + "\n");
  }
}

TEST_F(AudioProcess, InputAlreadyAtItsEnd) {
  auto r = probe({"--record", "stereo"}, {});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.size() % 4, 0u);
  EXPECT_LT(r.out.size(), 48000u * 4);  // little or nothing, not a recording
}

TEST_F(AudioProcess, ReaderClosingTheOutputEndsTheRecordingCleanly) {
  auto p = record("stereo");
  ASSERT_TRUE(p->gatherUntil(4, 10)) << p->err();
  p->closeOutput();
  // The input stays open: the failed write alone must end it.
  ASSERT_TRUE(p->finish(10)) << "kept running after its reader left";
  EXPECT_EQ(p->status(), 0);
  EXPECT_EQ(p->err(), "");
}

TEST_F(AudioProcess, AFullOutputEndsTheRecordingWithOneLine) {
  // The input stays open: the failed write alone must end it.
  LiveProcess p({"/bin/sh", "-c", "exec \"$@\" >/dev/full", "sh", KESTREL_PROBE, "--record", "sine"},
                server.clientEnv());
  ASSERT_TRUE(p.started());
  ASSERT_TRUE(p.finish(10)) << "kept recording into a full output";
  EXPECT_EQ(p.status(), 1);
  EXPECT_EQ(p.err(), "can't write standard output: " + std::string(std::strerror(ENOSPC)) + "\n");
}

TEST_F(AudioProcess, ServerGoingAwayEndsWithOneLine) {
  auto p = record("sine");
  ASSERT_TRUE(p->gatherUntil(4, 10)) << p->err();
  server.kill();
  ASSERT_TRUE(p->finish(10)) << "hung after the server went away";
  EXPECT_EQ(p->status(), 1);
  EXPECT_EQ(p->err().rfind("recording stopped: ", 0), 0u) << p->err();
  EXPECT_EQ(std::count(p->err().begin(), p->err().end(), '\n'), 1);
}

TEST_F(AudioProcess, RefusedAccessIsStatusThree) {
  std::string locked = server.lockedAddress();
  ASSERT_NE(locked, "") << "could not add a locked listener";
  auto r = probe({"--record", "sine"}, {{"PULSE_SERVER", locked}});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "microphone access denied\n");

  auto listing = probe({"--audio-inputs"}, {{"PULSE_SERVER", locked}});
  EXPECT_EQ(listing.status, 0);
  EXPECT_EQ(listing.out, "[]\n");
}

TEST_F(AudioProcess, StopComesWithTheInputEndWhileTheReaderLags) {
  // The stereo source delivers as it goes; the sine source in 2 s lumps.
  auto p = record("stereo");
  ASSERT_TRUE(p->gatherUntil(4, 10)) << p->err();
  // Nothing is read for a second and a half: the pipe holds a third of that.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  p->closeInput();
  const double held = std::chrono::duration<double>(std::chrono::steady_clock::now() - p->firstOutputTime()).count();
  ASSERT_TRUE(p->finish(10)) << "still running 10 s after its input ended";
  EXPECT_EQ(p->status(), 0);
  EXPECT_EQ(p->err(), "");
  // Every sample captured while the reader lagged arrives: the server's
  // clock made at least as much audio as the input was open, less the block
  // still on its way when the input closed. How soon after the input the
  // capture stops (the audio beyond it) is record_bench's figure.
  const double recorded = static_cast<double>(p->out().size()) / 4 / 48000;
  EXPECT_GT(recorded, held - 0.05);
}

TEST(SilentSoundServer, GivesUpWithATimeOut) {
  Scratch s;
  SilentServer silent(s.path("native"));
  ASSERT_TRUE(silent.listening());
  const std::map<std::string, std::string> env = {{"PULSE_SERVER", "unix:" + s.path("native")},
                                                  {"HOME", s.dir()},
                                                  {"XDG_RUNTIME_DIR", s.dir()}};
  // libpulse alone would wait 30 s for the answer.
  auto r = runProbe({"--record", ""}, {.env = env, .timeoutSeconds = 10});
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "can't start the microphone: Timeout\n");

  auto listing = runProbe({"--audio-inputs"}, {.env = env, .timeoutSeconds = 10});
  EXPECT_FALSE(listing.timedOut);
  EXPECT_EQ(listing.status, 0);
  EXPECT_EQ(listing.out, "[]\n");
}
