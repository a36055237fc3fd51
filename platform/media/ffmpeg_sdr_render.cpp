#include "platform/media/ffmpeg_sdr_render.h"

#include <initializer_list>

#include "platform/media/half_float.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/pixdesc.h>
}

namespace kestrel::media {
namespace {

template <typename T>
bool oneOf(T value, std::initializer_list<T> known) {
  for (T k : known)
    if (k == value) return true;
  return false;
}

// The tags zscale converts from; anything else is treated as missing.
bool knownPrimaries(AVColorPrimaries p) {
  return oneOf(p, {AVCOL_PRI_BT709, AVCOL_PRI_BT470M, AVCOL_PRI_BT470BG, AVCOL_PRI_SMPTE170M,
                   AVCOL_PRI_SMPTE240M, AVCOL_PRI_FILM, AVCOL_PRI_BT2020, AVCOL_PRI_SMPTE428,
                   AVCOL_PRI_SMPTE431, AVCOL_PRI_SMPTE432, AVCOL_PRI_JEDEC_P22});
}
bool knownTransfer(AVColorTransferCharacteristic t) {
  return oneOf(t, {AVCOL_TRC_BT709, AVCOL_TRC_SMPTE170M, AVCOL_TRC_SMPTE240M, AVCOL_TRC_LINEAR,
                   AVCOL_TRC_LOG, AVCOL_TRC_LOG_SQRT, AVCOL_TRC_IEC61966_2_4,
                   AVCOL_TRC_IEC61966_2_1, AVCOL_TRC_BT2020_10, AVCOL_TRC_BT2020_12,
                   AVCOL_TRC_SMPTE2084, AVCOL_TRC_ARIB_STD_B67});
}
bool knownMatrix(AVColorSpace m) {
  return oneOf(m, {AVCOL_SPC_BT709, AVCOL_SPC_FCC, AVCOL_SPC_BT470BG, AVCOL_SPC_SMPTE170M,
                   AVCOL_SPC_SMPTE240M, AVCOL_SPC_YCGCO, AVCOL_SPC_BT2020_NCL,
                   AVCOL_SPC_BT2020_CL, AVCOL_SPC_CHROMA_DERIVED_NCL,
                   AVCOL_SPC_CHROMA_DERIVED_CL});
}

template <typename T>
T pick(T frame, T stream, T fallback, bool (*known)(T)) {
  if (known(frame)) return frame;
  if (known(stream)) return stream;
  return fallback;
}

bool isRgb(int format) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
  return d && (d->flags & AV_PIX_FMT_FLAG_RGB);
}

bool isHdr(const AVFrame& f) {
  return f.color_trc == AVCOL_TRC_SMPTE2084 || f.color_trc == AVCOL_TRC_ARIB_STD_B67;
}

}  // namespace

void fillColour(AVFrame& f, const AVCodecParameters& s) {
  f.color_primaries = pick(f.color_primaries, s.color_primaries, AVCOL_PRI_BT709, knownPrimaries);
  f.color_trc = pick(f.color_trc, s.color_trc, AVCOL_TRC_BT709, knownTransfer);
  if (isRgb(f.format)) {
    f.colorspace = AVCOL_SPC_RGB;
    if (f.color_range != AVCOL_RANGE_MPEG) f.color_range = AVCOL_RANGE_JPEG;
    return;
  }
  f.colorspace = pick(f.colorspace, s.color_space, AVCOL_SPC_BT709, knownMatrix);
  if (f.color_range != AVCOL_RANGE_MPEG && f.color_range != AVCOL_RANGE_JPEG) {
    const bool jpeg = f.format == AV_PIX_FMT_YUVJ420P || f.format == AV_PIX_FMT_YUVJ422P ||
                      f.format == AV_PIX_FMT_YUVJ444P || f.format == AV_PIX_FMT_YUVJ440P ||
                      f.format == AV_PIX_FMT_YUVJ411P;
    f.color_range = s.color_range == AVCOL_RANGE_JPEG || s.color_range == AVCOL_RANGE_MPEG
                        ? s.color_range
                        : (jpeg ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG);
  }
}

std::string sdrChain(const AVFrame& f, SdrLayout layout) {
  const std::string end =
      layout == SdrLayout::RgbaHalf ? "format=gbrpf32le" : "format=gbrp,format=bgra";
  // The size is given: left to itself zscale trims odd sizes of subsampled sources.
  const std::string size = "zscale=w=" + std::to_string(f.width) + ":h=" + std::to_string(f.height);
  if (isHdr(f))
    // Linear light at 100 nits per unit, primaries to BT.709, Hable tone curve
    // back into range, then the BT.709 transfer.
    return size + ":t=linear:npl=100,format=gbrpf32le,zscale=p=bt709,"
           "tonemap=tonemap=hable:desat=0,zscale=t=bt709:m=bt709:r=pc," + end;
  return size + ":p=bt709:t=bt709:m=gbr:r=pc," + end;
}

bool SdrRenderer::failWith(const std::string& what, int code) {
  error_ = what + ": " + errorText(code);
  return false;
}

bool SdrRenderer::configure(const AVFrame& f, SdrLayout layout) {
  Key key{f.width, f.height, f.format, f.color_primaries, f.color_trc, f.colorspace,
          f.color_range, layout};
  if (graph_ && key == key_) return true;
  graph_.reset(avfilter_graph_alloc());
  source_ = sink_ = nullptr;
  if (!graph_) return failWith("filter graph", AVERROR(ENOMEM));
  graph_->nb_threads = 0;  // as many as the machine has
  const std::string args = "video_size=" + std::to_string(f.width) + "x" +
                           std::to_string(f.height) + ":pix_fmt=" + std::to_string(f.format) +
                           ":time_base=1/1:pixel_aspect=1/1";
  int r = avfilter_graph_create_filter(&source_, avfilter_get_by_name("buffer"), "in",
                                       args.c_str(), nullptr, graph_.get());
  if (r < 0) return failWith("filter source", r);
  r = avfilter_graph_create_filter(&sink_, avfilter_get_by_name("buffersink"), "out", nullptr,
                                   nullptr, graph_.get());
  if (r < 0) return failWith("filter sink", r);

  AVFilterInOut* outputs = avfilter_inout_alloc();
  AVFilterInOut* inputs = avfilter_inout_alloc();
  if (outputs && inputs) {
    outputs->name = av_strdup("in");
    outputs->filter_ctx = source_;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = sink_;
    r = avfilter_graph_parse_ptr(graph_.get(), sdrChain(f, layout).c_str(), &inputs, &outputs,
                                 nullptr);
  } else {
    r = AVERROR(ENOMEM);
  }
  avfilter_inout_free(&inputs);
  avfilter_inout_free(&outputs);
  if (r >= 0) r = avfilter_graph_config(graph_.get(), nullptr);
  if (r < 0) {
    graph_.reset();
    return failWith("filter graph", r);
  }
  key_ = key;
  return true;
}

SdrPicture SdrRenderer::render(const AVFrame& f, SdrLayout layout) {
  if (!out_) {
    failWith("rendering", AVERROR(ENOMEM));
    return {};
  }
  if (!configure(f, layout)) return {};
  int r = av_buffersrc_add_frame_flags(source_, const_cast<AVFrame*>(&f),
                                       AV_BUFFERSRC_FLAG_KEEP_REF);
  av_frame_unref(out_.get());
  if (r >= 0) r = av_buffersink_get_frame(sink_, out_.get());
  if (r < 0) {
    graph_.reset();  // a graph left holding a frame is rebuilt for the next one
    failWith("rendering", r);
    return {};
  }
  const AVFrame& o = *out_;
  if (layout == SdrLayout::Bgra8) return SdrPicture{o.data[0], o.width, o.height, o.linesize[0]};

  // Planar float G, B, R becomes packed half RGBA.
  const int64_t stride = static_cast<int64_t>(o.width) * 8;
  half_.resize(static_cast<size_t>(stride) * static_cast<size_t>(o.height));
  for (int y = 0; y < o.height; ++y) {
    auto row = [&](int plane) {
      return reinterpret_cast<const float*>(o.data[plane] + static_cast<ptrdiff_t>(y) * o.linesize[plane]);
    };
    halfRgbaRow(row(2), row(0), row(1), o.width, half_.data() + y * stride);
  }
  return SdrPicture{half_.data(), o.width, o.height, stride};
}

}  // namespace kestrel::media
