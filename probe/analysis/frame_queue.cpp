#include "probe/analysis/frame_queue.h"

namespace kestrel {

bool FrameQueue::push(PickedFrame frame) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return stopped_ || frames_.size() < capacity_; });
  if (stopped_) return false;
  frames_.push_back(std::move(frame));
  changed_.notify_all();
  return true;
}

void FrameQueue::close() {
  const std::lock_guard lock(mutex_);
  closed_ = true;
  changed_.notify_all();
}

std::optional<PickedFrame> FrameQueue::pop() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return closed_ || !frames_.empty(); });
  if (frames_.empty()) return std::nullopt;
  PickedFrame frame = std::move(frames_.front());
  frames_.pop_front();
  changed_.notify_all();
  return frame;
}

void FrameQueue::stop() {
  const std::lock_guard lock(mutex_);
  stopped_ = true;
  frames_.clear();
  changed_.notify_all();
}

}  // namespace kestrel
