#pragma once
// The colour set-up every conversion of decoded frames to BGRA or BGR shares,
// so that a frame converted whole and one converted in parts give the same bytes.
#include "platform/media/ffmpeg_handles.h"

namespace kestrel::media {

// Sets the scaler up (reusing it when it fits) for the frame's size and
// format to width x height pixels of `to`, with the frame's matrix and range;
// false when the library cannot convert the frame.
bool setUpScaler(ScalerHandle& scaler, const AVFrame& frame, int srcWidth, int srcHeight, int width,
                 int height, AVPixelFormat to, int flags);

}  // namespace kestrel::media
