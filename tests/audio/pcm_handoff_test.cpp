// The hand-off from the capture thread to the writing thread: bounded, in
// order, nothing lost at the stop, nothing kept once the reader has gone.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <chrono>
#include <future>
#include <thread>

#include "probe/audio/pcm_writer.h"
#include "probe/audio/sample_queue.h"

using namespace kestrel;
using namespace std::chrono_literals;

namespace {

std::vector<float> block(float value, size_t n) { return std::vector<float>(n, value); }

// All bytes from a descriptor until its end.
std::string drain(int fd) {
  std::string all;
  char buffer[65536];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) all.append(buffer, static_cast<size_t>(n));
  return all;
}

}  // namespace

TEST(SampleQueue, FullQueueHoldsTheCaptureUntilRoomOrTheStop) {
  SampleQueue q(10);
  ASSERT_TRUE(q.push(block(1, 6)));
  ASSERT_TRUE(q.push(block(2, 4)));
  // Full: the next push waits for the writer.
  auto third = std::async(std::launch::async, [&] { return q.push(block(3, 5)); });
  EXPECT_EQ(third.wait_for(100ms), std::future_status::timeout);
  EXPECT_EQ(q.pop(), block(1, 6));
  ASSERT_EQ(third.wait_for(5s), std::future_status::ready);
  EXPECT_TRUE(third.get());

  // Full again; the stop releases the waiting push, and its block, captured
  // before the stop, still comes out after the others. Later pushes are refused.
  auto fourth = std::async(std::launch::async, [&] { return q.push(block(4, 7)); });
  EXPECT_EQ(fourth.wait_for(100ms), std::future_status::timeout);
  q.close();
  ASSERT_EQ(fourth.wait_for(5s), std::future_status::ready);
  EXPECT_TRUE(fourth.get());
  EXPECT_FALSE(q.push(block(5, 1)));
  EXPECT_EQ(q.pop(), block(2, 4));
  EXPECT_EQ(q.pop(), block(3, 5));
  EXPECT_EQ(q.pop(), block(4, 7));
  EXPECT_EQ(q.pop(), std::nullopt);

  // A block larger than the whole queue goes through an empty one.
  SampleQueue small(4);
  EXPECT_TRUE(small.push(block(6, 9)));
  EXPECT_EQ(small.pop(), block(6, 9));
}

TEST(SampleQueue, ReaderGoneDropsWhatIsQueuedAndReleasesTheCapture) {
  SampleQueue q(4);
  ASSERT_TRUE(q.push(block(1, 4)));
  auto waiting = std::async(std::launch::async, [&] { return q.push(block(2, 4)); });
  EXPECT_EQ(waiting.wait_for(100ms), std::future_status::timeout);
  q.abandon();
  ASSERT_EQ(waiting.wait_for(5s), std::future_status::ready);
  EXPECT_FALSE(waiting.get());
  EXPECT_EQ(q.pop(), std::nullopt);
  EXPECT_FALSE(q.push(block(3, 1)));
}

TEST(PcmWriter, CaptureNeverWaitsForAStalledReaderAndNothingIsLost) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  auto resampler = audio::MonoResampler::make(48000, 1);
  ASSERT_TRUE(resampler);
  std::atomic<bool> gone = false;
  auto writer = std::make_unique<PcmWriter>(*resampler, 48000, fds[1], [&](int) { gone = true; });
  ASSERT_TRUE(writer->started());

  // Four seconds of audio, far more than the pipe holds, while nobody reads.
  std::vector<float> frames(2048);
  const int blocks = 94;
  auto capture = std::async(std::launch::async, [&] {
    for (int b = 0; b < blocks; ++b) {
      for (size_t i = 0; i < frames.size(); ++i) frames[i] = static_cast<float>(b * 2048 + i);
      if (!writer->write(frames.data(), frames.size())) return false;
    }
    return true;
  });
  const bool prompt = capture.wait_for(10s) == std::future_status::ready;
  auto reader = std::async(std::launch::async, [&] { return drain(fds[0]); });
  EXPECT_TRUE(prompt) << "the capture waited for the reader";
  EXPECT_TRUE(capture.get());

  writer->stop();
  writer->finish();
  close(fds[1]);
  const std::string out = reader.get();
  ASSERT_EQ(out.size(), blocks * 2048 * sizeof(float));
  std::vector<float> samples(out.size() / sizeof(float));
  std::memcpy(samples.data(), out.data(), out.size());
  for (size_t i = 0; i < samples.size(); ++i) ASSERT_EQ(samples[i], static_cast<float>(i)) << "at " << i;
  EXPECT_FALSE(gone);
  close(fds[0]);
}

TEST(PcmWriter, ReaderGoingAwayIsReportedAndEndsTheWrites) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  signal(SIGPIPE, SIG_IGN);
  auto resampler = audio::MonoResampler::make(44100, 2);
  ASSERT_TRUE(resampler);
  std::promise<void> reported;
  PcmWriter writer(*resampler, 44100, fds[1], [&](int error) {
    EXPECT_EQ(error, EPIPE);
    reported.set_value();
  });
  std::vector<float> frames(2 * 2048, 0.25f);
  EXPECT_TRUE(writer.write(frames.data(), 2048));
  ASSERT_EQ(reported.get_future().wait_for(5s), std::future_status::ready);
  EXPECT_FALSE(writer.write(frames.data(), 2048));
  writer.stop();
  writer.finish();
  close(fds[1]);
}
