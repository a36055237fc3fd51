#include "platform/media/ffmpeg_filter_chain.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/mem.h>
}

namespace kestrel::media {

void FilterChain::drop() {
  graph_.reset();
  source_ = sink_ = nullptr;
}

int FilterChain::build(int width, int height, int format, const std::string& chain) {
  drop();
  GraphHandle graph(avfilter_graph_alloc());
  if (!graph) return AVERROR(ENOMEM);
  graph->nb_threads = 0;  // as many as the machine has
  const std::string args = "video_size=" + std::to_string(width) + "x" + std::to_string(height) +
                           ":pix_fmt=" + std::to_string(format) + ":time_base=1/1:pixel_aspect=1/1";
  AVFilterContext* source = nullptr;
  AVFilterContext* sink = nullptr;
  int r = avfilter_graph_create_filter(&source, avfilter_get_by_name("buffer"), "in", args.c_str(),
                                       nullptr, graph.get());
  if (r < 0) return r;
  r = avfilter_graph_create_filter(&sink, avfilter_get_by_name("buffersink"), "out", nullptr,
                                   nullptr, graph.get());
  if (r < 0) return r;

  AVFilterInOut* outputs = avfilter_inout_alloc();
  AVFilterInOut* inputs = avfilter_inout_alloc();
  if (outputs && inputs) {
    outputs->name = av_strdup("in");
    outputs->filter_ctx = source;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = sink;
    r = avfilter_graph_parse_ptr(graph.get(), chain.c_str(), &inputs, &outputs, nullptr);
  } else {
    r = AVERROR(ENOMEM);
  }
  avfilter_inout_free(&inputs);
  avfilter_inout_free(&outputs);
  if (r >= 0) r = avfilter_graph_config(graph.get(), nullptr);
  if (r < 0) return r;
  graph_ = std::move(graph);
  source_ = source;
  sink_ = sink;
  return 0;
}

int FilterChain::run(const AVFrame& in, AVFrame& out) {
  av_frame_unref(&out);
  int r = built() ? 0 : AVERROR(EINVAL);
  if (r >= 0)
    r = av_buffersrc_add_frame_flags(source_, const_cast<AVFrame*>(&in),
                                     AV_BUFFERSRC_FLAG_KEEP_REF);
  if (r >= 0) r = av_buffersink_get_frame(sink_, &out);
  if (r < 0) drop();
  return r;
}

}  // namespace kestrel::media
