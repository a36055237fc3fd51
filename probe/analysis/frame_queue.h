#pragma once
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>

#include "platform/media/media_time.h"
#include "platform/media/video_frame.h"

namespace kestrel {

struct PickedFrame {
  media::MediaTime time;
  media::VideoFrame frame;
};

// Hands picked frames from the decoding thread to the analysis in order, with
// at most `capacity` waiting, so that memory stays flat however far decoding
// could run ahead.
class FrameQueue {
 public:
  explicit FrameQueue(size_t capacity) : capacity_(capacity) {}
  // Waits while the queue is full; false (and the frame dropped) once the
  // analysis has stopped taking frames.
  bool push(PickedFrame frame);
  // No more frames will come.
  void close();
  // The next frame; nothing once the queue is closed and empty.
  std::optional<PickedFrame> pop();
  // The analysis takes no more frames: a waiting push returns.
  void stop();

 private:
  const size_t capacity_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<PickedFrame> frames_;
  bool closed_ = false;
  bool stopped_ = false;
};

}  // namespace kestrel
