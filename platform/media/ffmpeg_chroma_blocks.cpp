#include "platform/media/ffmpeg_chroma_blocks.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace kestrel::media {
namespace {

const AVPixFmtDescriptor* planarSubsampled(int format) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
  if (!d || !(d->flags & AV_PIX_FMT_FLAG_PLANAR) ||
      (d->flags & (AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_PAL)))
    return nullptr;
  return d->log2_chroma_w || d->log2_chroma_h ? d : nullptr;
}

int roundUp(int size, int log2Block) { return (size + (1 << log2Block) - 1) >> log2Block << log2Block; }

// Bytes from one pixel to the next in a plane, and whether the plane is subsampled.
void planeLayout(const AVPixFmtDescriptor& d, int plane, int& step, bool& chroma) {
  step = 1;
  chroma = false;
  for (int c = 0; c < d.nb_components; ++c) {
    if (d.comp[c].plane != plane) continue;
    step = d.comp[c].step;
    chroma = chroma || c == 1 || c == 2;
  }
}

}  // namespace

bool partialChromaBlocks(const AVFrame& f) {
  const AVPixFmtDescriptor* d = planarSubsampled(f.format);
  return d && (roundUp(f.width, d->log2_chroma_w) != f.width ||
               roundUp(f.height, d->log2_chroma_h) != f.height);
}

int growToChromaBlocks(const AVFrame& in, AVFrame& out) {
  av_frame_unref(&out);
  const AVPixFmtDescriptor* d = planarSubsampled(in.format);
  if (!d) return AVERROR(EINVAL);
  const auto format = static_cast<AVPixelFormat>(in.format);
  out.format = in.format;
  out.width = roundUp(in.width, d->log2_chroma_w);
  out.height = roundUp(in.height, d->log2_chroma_h);
  int r = av_frame_get_buffer(&out, 0);
  if (r >= 0) r = av_frame_copy_props(&out, &in);
  if (r < 0) return r;
  for (int p = 0; p < av_pix_fmt_count_planes(format); ++p) {
    int step = 1;
    bool chroma = false;
    planeLayout(*d, p, step, chroma);
    const int shift = chroma ? d->log2_chroma_h : 0;
    const int inRows = AV_CEIL_RSHIFT(in.height, shift), outRows = AV_CEIL_RSHIFT(out.height, shift);
    const int inBytes = av_image_get_linesize(format, in.width, p);
    const int outBytes = av_image_get_linesize(format, out.width, p);
    for (int y = 0; y < outRows; ++y) {
      uint8_t* row = out.data[p] + static_cast<ptrdiff_t>(y) * out.linesize[p];
      std::memcpy(row, in.data[p] + static_cast<ptrdiff_t>(std::min(y, inRows - 1)) * in.linesize[p],
                  static_cast<size_t>(inBytes));
      for (int x = inBytes; x < outBytes; ++x) row[x] = row[x - step];
    }
  }
  return 0;
}

}  // namespace kestrel::media
