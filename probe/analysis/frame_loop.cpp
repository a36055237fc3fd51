#include "probe/analysis/frame_loop.h"

#include "probe/analysis/sampling.h"

namespace kestrel {

int64_t sampleFrames(media::VideoReader& reader, int64_t hz,
                     const std::function<void(const Picture&, const media::MediaTime&)>& analyse) {
  Sampler sampler(hz);
  int64_t n = 0;
  while (reader.next()) {
    const media::MediaTime p = reader.time();
    if (!sampler.due(p)) continue;
    const Picture picture = reader.bgra();
    if (!picture.data) continue;  // no image: neither counted nor moves the sampler
    sampler.picked(p);
    analyse(picture, p);
    ++n;
  }
  return n;
}

}  // namespace kestrel
