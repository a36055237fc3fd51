#pragma once
// Renders decoded frames as SDR Rec. 709 through libavfilter chains.
#include <string>
#include <vector>

#include "platform/media/ffmpeg_filter_chain.h"
#include "platform/media/ffmpeg_handles.h"
#include "platform/media/sdr_video.h"

namespace kestrel::media {

// Gives untagged or exotic colour fields of a decoded frame the stream's
// values, else BT.709 defaults, so that zscale always finds a conversion.
void fillColour(AVFrame& frame, const AVCodecParameters& stream);

// The brightest level of a PQ or HLG frame in nits, from the light level or
// mastering display metadata of the frame, else of the stream.
double hdrPeakNits(const AVFrame& frame, const AVStream& stream);

// SDR sources: the filter chain from a frame with filled colour fields to the
// layout. PQ and HLG: the chain to linear BT.709 light in units of reference
// white, as planar float.
std::string sdrChain(const AVFrame& frame, SdrLayout layout);

class SdrRenderer {
 public:
  // Renders a frame whose colour fields are filled; the frame is not changed.
  // `peakNits` matters for PQ and HLG only. Null data, with error(), on failure.
  SdrPicture render(const AVFrame& frame, SdrLayout layout, double peakNits);
  const std::string& error() const { return error_; }

 private:
  struct Key {
    int width = 0, height = 0, format = -1, primaries = 0, transfer = 0, matrix = 0, range = 0;
    SdrLayout layout = SdrLayout::Bgra8;
    bool operator==(const Key&) const = default;
  };
  bool configure(const AVFrame& frame, SdrLayout layout);
  int toneMap(const AVFrame& frame, double peakNits);
  bool failWith(const std::string& what, int code);

  FilterChain chain_;   // the whole rendering, or for PQ and HLG up to linear light
  FilterChain encode_;  // PQ and HLG: from tone-mapped linear light to the layout
  Key key_;
  FrameHandle linear_{av_frame_alloc()};
  FrameHandle out_{av_frame_alloc()};
  std::vector<uint8_t> half_;
  std::string error_;
};

}  // namespace kestrel::media
