#pragma once
#include <cstdint>
#include <functional>

#include "platform/media/video_source.h"

namespace kestrel {

// Decodes on a thread of its own, which picks frames by the sampling rule (at
// most hz per second of presentation time, each with a picture) and hands them
// through a queue of at most two to `analyse`, called on this thread in the
// order they were picked. Returns how many were analysed; the source tells
// afterwards whether it failed.
int64_t sampleFrames(media::VideoSource& source, int64_t hz,
                     const std::function<void(const media::VideoFrame&, const media::MediaTime&)>& analyse);

}  // namespace kestrel
