#pragma once
// One libavfilter chain from a buffer source to a buffer sink: frame in, frame out.
#include <memory>
#include <string>

extern "C" {
#include <libavfilter/avfilter.h>
}

namespace kestrel::media {

struct GraphFreer {
  void operator()(AVFilterGraph* g) const { avfilter_graph_free(&g); }
};
using GraphHandle = std::unique_ptr<AVFilterGraph, GraphFreer>;

class FilterChain {
 public:
  // Builds the chain (filter text) for frames of this size and pixel format;
  // a negative library error code on failure, and then nothing is built.
  int build(int width, int height, int format, const std::string& chain);
  bool built() const { return graph_ != nullptr; }
  void drop();
  // Filters one frame, which is not changed, into `out`; a negative library
  // error code on failure, and then the chain is dropped: one left holding a
  // frame is built afresh for the next.
  int run(const AVFrame& in, AVFrame& out);

 private:
  GraphHandle graph_;
  AVFilterContext* source_ = nullptr;
  AVFilterContext* sink_ = nullptr;
};

}  // namespace kestrel::media
