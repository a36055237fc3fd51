#pragma once
// Decoded frames kept past the decoder's next step, and their conversion for
// the analysis (the BGRA renderer): rows of BGRA for the thumbnail, and any
// region at any size as BGR for the models, each converted straight from the
// decoded planes.
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/picture.h"
#include "platform/pixel_source.h"

struct AVFrame;

namespace kestrel::media {

// A decoded frame held by reference: its pixels are not copied, and the
// decoder may go on while it is kept. Empty when the frame has no picture
// that can be converted.
class VideoFrame {
 public:
  VideoFrame() = default;
  explicit VideoFrame(AVFrame* owned) : frame_(owned) {}
  bool empty() const { return !frame_; }
  int64_t width() const;
  int64_t height() const;
  const AVFrame* get() const { return frame_.get(); }

 private:
  struct Release {
    void operator()(AVFrame* f) const;
  };
  std::unique_ptr<AVFrame, Release> frame_;
};

// Converts frames, keeping its scaler set-ups from one frame to the next.
// One per thread.
class FrameConverter {
 public:
  FrameConverter();
  ~FrameConverter();
  FrameConverter(const FrameConverter&) = delete;
  FrameConverter& operator=(const FrameConverter&) = delete;

  // The whole frame as 8-bit BGRA; data is null when it cannot be converted.
  // The view stays valid until the next call.
  Picture bgra(const VideoFrame& frame);

  // The frame as 8-bit BGRA of which only `rows` are converted, each the same
  // bytes as the whole frame's conversion gives there; other rows hold
  // anything. Data is null when the frame cannot be converted. The view stays
  // valid until the next call.
  Picture bgraRows(const VideoFrame& frame, const std::vector<int64_t>& rows);

  // The frame as a pixel source for the models; it uses this converter and
  // must not outlive it or the frame.
  std::unique_ptr<PixelSource> pixelSource(const VideoFrame& frame);

  struct Scalers;  // the library's set-ups, kept between frames

 private:
  std::unique_ptr<Scalers> scalers_;
};

}  // namespace kestrel::media
