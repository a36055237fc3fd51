#include "probe/audio/pcm_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/base/write_all.h"
#include "probe/audio/capacity.h"

namespace kestrel {
namespace {

// A file that took part of a sample before it refused the rest (a disk
// filling up) is cut back to its last whole sample. A pipe cannot be.
void dropPartSample(int fd, size_t partBytes) {
  if (partBytes == 0) return;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return;
  const off_t end = ::lseek(fd, 0, SEEK_CUR);
  const auto part = static_cast<off_t>(partBytes);
  if (end >= part && ::ftruncate(fd, end - part) != 0) {
    // Nothing more can be done: the run is failing already.
  }
}

}  // namespace

PcmWriter::PcmWriter(audio::MonoResampler& resampler, uint32_t inputRate, int fd,
                     std::function<void(int error)> onRefused)
    : resampler_(resampler), inputRate_(inputRate), fd_(fd), onRefused_(std::move(onRefused)) {
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
    size_t written = 0;
    if (!writeAll(fd_, block->data(), block->size() * sizeof(float), &written)) {
      const int error = errno;
      dropPartSample(fd_, written % sizeof(float));
      readerGone_ = true;
      queue_.abandon();
      if (onRefused_) onRefused_(error);
      return;
    }
  }
}

}  // namespace kestrel
