#pragma once
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

namespace kestrel {

// Converted samples on their way from the capture thread to the thread that
// writes them, so that a slow reader never holds up the capture's event loop.
// It holds about `capacity` samples: a full queue makes the capture wait for
// the writer (the sound server buffers meanwhile) rather than drop anything.
class SampleQueue {
 public:
  explicit SampleQueue(size_t capacity) : capacity_(capacity) {}

  // Capture side. Waits while the queue is full; a block that does not fit
  // an empty queue is taken all the same. False when the block was refused:
  // the queue was closed before it came, or the reader has gone.
  bool push(std::vector<float> block);
  // Writer side. Waits for the next block; nothing once the queue is closed
  // and empty, or the reader has gone.
  std::optional<std::vector<float>> pop();
  // The recording has stopped: later pushes are refused, while the blocks
  // already queued, and one a push is waiting to hand over, still come out.
  void close();
  // The reader has gone: what is queued is dropped and every push refused.
  void abandon();

 private:
  std::mutex mutex_;
  std::condition_variable room_, ready_;
  std::deque<std::vector<float>> blocks_;
  size_t samples_ = 0;
  const size_t capacity_;
  bool closed_ = false;
  bool abandoned_ = false;
};

}  // namespace kestrel
