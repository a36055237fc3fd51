#include "probe/audio/sample_queue.h"

#include <utility>

namespace kestrel {

bool SampleQueue::push(std::vector<float> block) {
  std::unique_lock lock(mutex_);
  if (closed_ || abandoned_) return false;
  room_.wait(lock, [&] {
    return closed_ || abandoned_ || samples_ == 0 || samples_ + block.size() <= capacity_;
  });
  // Closed while waiting: the block was captured before the stop, so it goes out.
  if (abandoned_) return false;
  samples_ += block.size();
  blocks_.push_back(std::move(block));
  ready_.notify_one();
  return true;
}

std::optional<std::vector<float>> SampleQueue::pop() {
  std::unique_lock lock(mutex_);
  ready_.wait(lock, [&] { return abandoned_ || closed_ || !blocks_.empty(); });
  if (abandoned_ || blocks_.empty()) return std::nullopt;
  std::vector<float> block = std::move(blocks_.front());
  blocks_.pop_front();
  samples_ -= block.size();
  room_.notify_one();
  return block;
}

void SampleQueue::close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
  room_.notify_all();
  ready_.notify_all();
}

void SampleQueue::abandon() {
  std::lock_guard lock(mutex_);
  abandoned_ = true;
  blocks_.clear();
  samples_ = 0;
  room_.notify_all();
  ready_.notify_all();
}

}  // namespace kestrel
