#pragma once
// Renders decoded frames as SDR Rec. 709 through a libavfilter graph.
#include <string>
#include <vector>

#include "platform/media/ffmpeg_handles.h"
#include "platform/media/sdr_video.h"

extern "C" {
#include <libavfilter/avfilter.h>
}

namespace kestrel::media {

struct GraphFreer {
  void operator()(AVFilterGraph* g) const { avfilter_graph_free(&g); }
};
using GraphHandle = std::unique_ptr<AVFilterGraph, GraphFreer>;

// Gives untagged or exotic colour fields of a decoded frame the stream's
// values, else BT.709 defaults, so that zscale always finds a conversion.
void fillColour(AVFrame& frame, const AVCodecParameters& stream);

// The filter chain from a frame with filled colour fields to the layout.
std::string sdrChain(const AVFrame& frame, SdrLayout layout);

class SdrRenderer {
 public:
  // Renders a frame whose colour fields are filled; the frame is not changed.
  // Null data, with error(), on failure.
  SdrPicture render(const AVFrame& frame, SdrLayout layout);
  const std::string& error() const { return error_; }

 private:
  struct Key {
    int width = 0, height = 0, format = -1, primaries = 0, transfer = 0, matrix = 0, range = 0;
    SdrLayout layout = SdrLayout::Bgra8;
    bool operator==(const Key&) const = default;
  };
  bool configure(const AVFrame& frame, SdrLayout layout);
  bool failWith(const std::string& what, int code);

  GraphHandle graph_;
  AVFilterContext* source_ = nullptr;
  AVFilterContext* sink_ = nullptr;
  Key key_;
  FrameHandle out_{av_frame_alloc()};
  std::vector<uint8_t> half_;
  std::string error_;
};

}  // namespace kestrel::media
