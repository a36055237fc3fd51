#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <thread>

#include "platform/audio/mono_resampler.h"
#include "probe/audio/sample_queue.h"

namespace kestrel {

// Turns each captured block into 48 kHz mono float samples on the capture
// thread and hands them to a thread of its own that writes them, each block in
// one piece. The capture thread never writes: a slow reader cannot delay the
// stop, which needs the capture's event loop.
class PcmWriter {
 public:
  // `onRefused` runs on the writing thread, with the system's error number,
  // when the output refuses a write (EPIPE: the reader has gone). What went
  // out before is whole samples.
  PcmWriter(audio::MonoResampler& resampler, uint32_t inputRate, int fd,
            std::function<void(int error)> onRefused);
  ~PcmWriter() { finish(); }
  PcmWriter(const PcmWriter&) = delete;
  PcmWriter& operator=(const PcmWriter&) = delete;

  // False when the writing thread could not start.
  bool started() const { return thread_.joinable(); }
  // On the capture thread. False once the reader has gone.
  bool write(const float* frames, size_t count);
  // The capture stops: blocks that come later are refused. Call before
  // stopping the capture, so that a block waiting for room lets it go.
  void stop() { queue_.close(); }
  // After the capture has stopped: waits until every block taken has been
  // written, or the reader has gone.
  void finish();

 private:
  void run();

  // About five seconds of a reader that does not keep up.
  static constexpr size_t kQueuedSamples = 5 * audio::OUTPUT_RATE;

  audio::MonoResampler& resampler_;
  uint32_t inputRate_;
  int fd_;
  std::function<void(int error)> onRefused_;
  SampleQueue queue_{kQueuedSamples};
  std::atomic<bool> readerGone_ = false;
  std::thread thread_;
};

}  // namespace kestrel
