#include "probe/audio/pcm_writer.h"

#include <system_error>
#include <utility>
#include <vector>

#include "platform/base/write_all.h"
#include "probe/audio/capacity.h"

namespace kestrel {

PcmWriter::PcmWriter(audio::MonoResampler& resampler, uint32_t inputRate, int fd,
                     std::function<void()> onReaderGone)
    : resampler_(resampler), inputRate_(inputRate), fd_(fd), onReaderGone_(std::move(onReaderGone)) {
  try {
    thread_ = std::thread([this] { run(); });
  } catch (const std::system_error&) {
  }
}

bool PcmWriter::write(const float* frames, size_t count) {
  if (readerGone_) return false;
  if (count == 0) return true;
  std::vector<float> block(outputCapacity(count, inputRate_));
  block.resize(resampler_.convert(frames, count, block.data(), block.size()));
  if (block.empty()) return true;
  return queue_.push(std::move(block)) || !readerGone_;
}

void PcmWriter::finish() {
  queue_.close();
  if (thread_.joinable()) thread_.join();
}

void PcmWriter::run() {
  while (auto block = queue_.pop()) {
    if (!writeAll(fd_, block->data(), block->size() * sizeof(float))) {
      readerGone_ = true;
      queue_.abandon();
      if (onReaderGone_) onReaderGone_();
      return;
    }
  }
}

}  // namespace kestrel
