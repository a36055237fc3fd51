// The hand-over from the decoding thread to the analysis.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "probe/analysis/frame_queue.h"

using namespace kestrel;

namespace {

PickedFrame at(int64_t value) { return PickedFrame{media::MediaTime{value, 30, true}, {}}; }

// Waits (at most a few seconds) until the condition holds.
template <class Condition>
bool eventually(Condition condition) {
  for (int i = 0; i < 5000 && !condition(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return condition();
}

}  // namespace

TEST(FrameQueue, InOrderAtMostTwoWaitingAndClosedAtTheEnd) {
  FrameQueue queue(2);
  std::atomic<int> pushed = 0;
  std::thread producer([&] {
    for (int i = 0; i < 5; ++i) {
      ASSERT_TRUE(queue.push(at(i)));
      ++pushed;
    }
    queue.close();
  });
  // Nobody takes frames: the producer stops after two.
  ASSERT_TRUE(eventually([&] { return pushed == 2; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(pushed, 2);
  for (int i = 0; i < 5; ++i) {
    auto frame = queue.pop();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->time.value, i);
    EXPECT_LE(pushed - (i + 1), 2);  // never more than two waiting
  }
  EXPECT_FALSE(queue.pop());  // closed and empty
  producer.join();
}

TEST(FrameQueue, StoppingReleasesAWaitingProducer) {
  FrameQueue queue(2);
  std::atomic<bool> refused = false;
  std::thread producer([&] {
    int i = 0;
    while (queue.push(at(i++))) {
    }
    refused = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  queue.stop();
  EXPECT_TRUE(eventually([&] { return refused.load(); }));
  producer.join();
}
