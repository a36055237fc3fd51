#include "probe/analysis/frame_loop.h"

#include <thread>

#include "probe/analysis/frame_queue.h"
#include "probe/analysis/sampling.h"

namespace kestrel {
namespace {

// Two waiting frames keep the analysis busy while decoding goes on, and
// memory flat.
constexpr size_t kWaiting = 2;

void decodeAndPick(media::VideoSource& source, int64_t hz, FrameQueue& queue) {
  Sampler sampler(hz);
  while (source.next()) {
    const media::MediaTime p = source.time();
    if (!sampler.due(p)) continue;
    media::VideoFrame frame = source.frame();
    if (frame.empty()) continue;  // no picture: neither counted nor moves the sampler
    sampler.picked(p);
    if (!queue.push({p, std::move(frame)})) break;
  }
  queue.close();
}

// Stops and joins the decoding thread however the analysis ends.
struct Decoding {
  FrameQueue& queue;
  std::thread thread;
  ~Decoding() {
    queue.stop();
    if (thread.joinable()) thread.join();
  }
};

}  // namespace

int64_t sampleFrames(media::VideoSource& source, int64_t hz,
                     const std::function<void(const media::VideoFrame&, const media::MediaTime&)>& analyse) {
  FrameQueue queue(kWaiting);
  Decoding decoding{queue, std::thread(decodeAndPick, std::ref(source), hz, std::ref(queue))};
  int64_t n = 0;
  while (auto picked = queue.pop()) {
    analyse(picked->frame, picked->time);
    ++n;
  }
  return n;
}

}  // namespace kestrel
