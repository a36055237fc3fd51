#pragma once
#include <cstdint>
#include <functional>

#include "platform/media/video_reader.h"

namespace kestrel {

// Reads every decoded frame and hands those the sampling rule picks (at most
// hz per second of presentation time, each with an image) to `analyse`.
// Returns how many were analysed; the reader tells afterwards whether it failed.
int64_t sampleFrames(media::VideoReader& reader, int64_t hz,
                     const std::function<void(const Picture&, const media::MediaTime&)>& analyse);

}  // namespace kestrel
