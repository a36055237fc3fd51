// The SDR renderer on libavfilter: zscale converts, PQ and HLG go through
// hdr_tone in linear light on the way.
#include <initializer_list>
#include <vector>

#include "platform/media/ffmpeg_chroma_blocks.h"
#include "platform/media/ffmpeg_colour.h"
#include "platform/media/ffmpeg_filter_chain.h"
#include "platform/media/ffmpeg_handles.h"
#include "platform/media/half_float.h"
#include "platform/media/hdr_tone.h"
#include "platform/media/sdr_renderer.h"

extern "C" {
#include <libavutil/mastering_display_metadata.h>
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

// The end of a chain that has BT.709 RGB: the layout's pixel format.
std::string layoutEnd(PixelFormat layout) {
  return layout == PixelFormat::RgbaHalf ? "format=gbrpf32le" : "format=gbrp,format=bgra";
}

// Gives untagged or exotic colour fields of a decoded frame the stream's
// values, else BT.709 defaults and the matrix of untagged video, so that
// zscale always finds a conversion.
void fillColour(AVFrame& f, const AVCodecParameters& s) {
  f.color_primaries = pick(f.color_primaries, s.color_primaries, AVCOL_PRI_BT709, knownPrimaries);
  f.color_trc = pick(f.color_trc, s.color_trc, AVCOL_TRC_BT709, knownTransfer);
  if (isRgb(f.format)) {
    f.colorspace = AVCOL_SPC_RGB;
    if (f.color_range != AVCOL_RANGE_MPEG) f.color_range = AVCOL_RANGE_JPEG;
    return;
  }
  f.colorspace = pick(f.colorspace, s.color_space, untaggedMatrix(f.height), knownMatrix);
  if (f.color_range != AVCOL_RANGE_MPEG && f.color_range != AVCOL_RANGE_JPEG) {
    const bool jpeg = f.format == AV_PIX_FMT_YUVJ420P || f.format == AV_PIX_FMT_YUVJ422P ||
                      f.format == AV_PIX_FMT_YUVJ444P || f.format == AV_PIX_FMT_YUVJ440P ||
                      f.format == AV_PIX_FMT_YUVJ411P;
    f.color_range = s.color_range == AVCOL_RANGE_JPEG || s.color_range == AVCOL_RANGE_MPEG
                        ? s.color_range
                        : (jpeg ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG);
  }
}

// The brightest level of a PQ or HLG frame in nits, from the light level or
// mastering display metadata of the frame, else of the stream.
double hdrPeakNits(const AVFrame& f, const AVStream& s) {
  double light = 0, mastering = 0;
  size_t size = 0;
  if (const AVFrameSideData* d = av_frame_get_side_data(&f, AV_FRAME_DATA_CONTENT_LIGHT_LEVEL);
      d && d->size >= sizeof(AVContentLightMetadata))
    light = reinterpret_cast<const AVContentLightMetadata*>(d->data)->MaxCLL;
  else if (const uint8_t* p = av_stream_get_side_data(&s, AV_PKT_DATA_CONTENT_LIGHT_LEVEL, &size);
           p && size >= sizeof(AVContentLightMetadata))
    light = reinterpret_cast<const AVContentLightMetadata*>(p)->MaxCLL;

  const AVMasteringDisplayMetadata* m = nullptr;
  if (const AVFrameSideData* d =
          av_frame_get_side_data(&f, AV_FRAME_DATA_MASTERING_DISPLAY_METADATA);
      d && d->size >= sizeof(AVMasteringDisplayMetadata))
    m = reinterpret_cast<const AVMasteringDisplayMetadata*>(d->data);
  else if (const uint8_t* p =
               av_stream_get_side_data(&s, AV_PKT_DATA_MASTERING_DISPLAY_METADATA, &size);
           p && size >= sizeof(AVMasteringDisplayMetadata))
    m = reinterpret_cast<const AVMasteringDisplayMetadata*>(p);
  if (m && m->has_luminance && m->max_luminance.den) mastering = av_q2d(m->max_luminance);

  return contentPeakNits(light, mastering,
                         f.color_trc == AVCOL_TRC_ARIB_STD_B67 ? kHlgCeilingNits : kPqCeilingNits);
}

// SDR sources: the filter chain from a frame with filled colour fields to the
// layout. PQ and HLG: the chain to linear BT.709 light in units of reference
// white, as planar float.
std::string sdrChain(const AVFrame& f, PixelFormat layout) {
  // The size is given: left to itself zscale trims odd sizes of subsampled sources.
  const std::string size = "zscale=w=" + std::to_string(f.width) + ":h=" + std::to_string(f.height);
  if (isHdr(f))
    // Linear light with reference white at 1, then primaries to BT.709 (HLG
    // needs its own primaries for the step to display light).
    return size + ":t=linear:npl=" + std::to_string(static_cast<int>(kReferenceWhiteNits)) +
           ",format=gbrpf32le,zscale=p=bt709,format=gbrpf32le";
  return size + ":p=bt709:t=bt709:m=gbr:r=pc," + layoutEnd(layout);
}

}  // namespace

struct SdrRenderer::Chains {
  // Renders a frame whose colour fields are filled; the frame is not changed.
  // `peakNits` matters for PQ and HLG only.
  Picture render(const AVFrame& frame, PixelFormat layout, double peakNits);

  struct Key {
    int width = 0, height = 0, format = -1, primaries = 0, transfer = 0, matrix = 0, range = 0;
    PixelFormat layout = PixelFormat::Bgra8;
    bool operator==(const Key&) const = default;
  };
  bool configure(const AVFrame& frame, PixelFormat layout);
  int toneMap(const AVFrame& frame, double peakNits);
  bool failWith(int code);

  FilterChain chain_;   // the whole rendering, or for PQ and HLG up to linear light
  FilterChain encode_;  // PQ and HLG: from tone-mapped linear light to the layout
  Key key_;
  FrameHandle filled_{av_frame_alloc()};  // the source's frame with its colour filled
  FrameHandle grown_{av_frame_alloc()};   // that frame in whole chroma blocks, when it is not
  FrameHandle linear_{av_frame_alloc()};
  FrameHandle out_{av_frame_alloc()};
  std::vector<uint8_t> half_;
  std::string error_;
};

bool SdrRenderer::Chains::failWith(int code) {
  error_ = errorText(code);
  return false;
}

bool SdrRenderer::Chains::configure(const AVFrame& f, PixelFormat layout) {
  Key key{f.width, f.height, f.format, f.color_primaries, f.color_trc, f.colorspace,
          f.color_range, layout};
  const bool hdr = isHdr(f);
  if (chain_.built() && (!hdr || encode_.built()) && key == key_) return true;
  encode_.drop();
  int r = chain_.build(f.width, f.height, f.format, sdrChain(f, layout));
  if (r >= 0 && hdr)
    r = encode_.build(f.width, f.height, AV_PIX_FMT_GBRPF32,
                      "zscale=tin=linear:pin=bt709:min=gbr:rin=pc:t=bt709:p=bt709:m=gbr:r=pc," +
                          layoutEnd(layout));
  if (r < 0) {
    chain_.drop();
    return failWith(r);
  }
  key_ = key;
  return true;
}

int SdrRenderer::Chains::toneMap(const AVFrame& f, double peakNits) {
  int r = chain_.run(f, *linear_);
  if (r >= 0) r = av_frame_make_writable(linear_.get());
  if (r < 0) return r;
  // No libavfilter filter maps gamut at constant hue, nor has this curve.
  const HighlightRollOff rollOff(peakNits / kReferenceWhiteNits);
  AVFrame& l = *linear_;
  for (int y = 0; y < l.height; ++y) {
    auto row = [&](int plane) {
      return reinterpret_cast<float*>(l.data[plane] +
                                      static_cast<ptrdiff_t>(y) * l.linesize[plane]);
    };
    toneMapToSdr(row(2), row(0), row(1), static_cast<size_t>(l.width), rollOff);
  }
  return encode_.run(l, *out_);
}

Picture SdrRenderer::Chains::render(const AVFrame& f, PixelFormat layout, double peakNits) {
  if (!out_ || !linear_) {
    failWith(AVERROR(ENOMEM));
    return {};
  }
  if (!configure(f, layout)) return {};
  const int r = isHdr(f) ? toneMap(f, peakNits) : chain_.run(f, *out_);
  if (r < 0) {
    failWith(r);
    return {};
  }
  const AVFrame& o = *out_;
  if (layout == PixelFormat::Bgra8) return Picture{o.data[0], o.width, o.height, o.linesize[0], PixelFormat::Bgra8};

  // Planar float G, B, R becomes packed half RGBA.
  const int64_t stride = static_cast<int64_t>(o.width) * 8;
  half_.resize(static_cast<size_t>(stride) * static_cast<size_t>(o.height));
  for (int y = 0; y < o.height; ++y) {
    auto row = [&](int plane) {
      return reinterpret_cast<const float*>(o.data[plane] + static_cast<ptrdiff_t>(y) * o.linesize[plane]);
    };
    halfRgbaRow(row(2), row(0), row(1), o.width, half_.data() + y * stride);
  }
  return Picture{half_.data(), o.width, o.height, stride, PixelFormat::RgbaHalf};
}

SdrRenderer::SdrRenderer() : chains_(std::make_unique<Chains>()) {}
SdrRenderer::~SdrRenderer() = default;
const std::string& SdrRenderer::error() const { return chains_->error_; }

Picture SdrRenderer::render(const VideoSource& source, PixelFormat layout) {
  // The source's frame stays as decoded: its colour is filled in a reference.
  const AVFrame& decoded = source.decoded();
  AVFrame* filled = chains_->filled_.get();
  AVFrame* grown = chains_->grown_.get();
  int r = filled && grown ? av_frame_ref(filled, &decoded) : AVERROR(ENOMEM);
  if (r >= 0) fillColour(*filled, *source.stream().codecpar);
  const bool partial = r >= 0 && partialChromaBlocks(*filled);
  if (partial) r = growToChromaBlocks(*filled, *grown);
  if (r < 0) {
    av_frame_unref(filled);
    chains_->failWith(r);
    return {};
  }
  const AVFrame& frame = partial ? *grown : *filled;
  Picture picture = chains_->render(frame, layout, hdrPeakNits(frame, source.stream()));
  av_frame_unref(filled);  // the chains keep what they need
  av_frame_unref(grown);
  if (picture.data) {  // rows and columns grown for the chroma blocks are not the frame's
    picture.width = decoded.width;
    picture.height = decoded.height;
  }
  return picture;
}

}  // namespace kestrel::media
