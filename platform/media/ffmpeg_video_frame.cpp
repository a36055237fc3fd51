// Decoded frames and their conversion with libswscale.
#include <algorithm>
#include <array>
#include <cstring>
#include <tuple>

#include "platform/media/ffmpeg_bgra.h"
#include "platform/picture.h"
#include "platform/media/video_frame.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace kestrel::media {

void VideoFrame::Release::operator()(AVFrame* f) const { av_frame_free(&f); }
int64_t VideoFrame::width() const { return frame_ ? frame_->width : 0; }
int64_t VideoFrame::height() const { return frame_ ? frame_->height : 0; }

struct FrameConverter::Scalers {
  // The whole-frame conversion and its output.
  ScalerHandle whole;
  std::vector<uint8_t> wholeOut;
  // The whole-frame BGRA conversion the thumbnail rows come from, and its output.
  ScalerHandle rows;
  FrameHandle rowsOut{av_frame_alloc()};
  // Region conversions: the models ask for a few sizes again and again.
  using Key = std::tuple<int, int, int, int, int>;  // source w, h, format, output w, h
  struct Entry {
    Key key;
    ScalerHandle scaler;
  };
  static constexpr size_t kKept = 8;
  std::vector<Entry> regions;  // most recently used last
  std::vector<uint8_t> staging;  // region output before it is copied out

  SwsContext* regionScaler(const AVFrame& f, const PixelRegion& r, int w, int h) {
    const Key key{static_cast<int>(r.width), static_cast<int>(r.height), f.format, w, h};
    auto hit = std::find_if(regions.begin(), regions.end(), [&](const Entry& e) { return e.key == key; });
    Entry entry;
    if (hit != regions.end()) {
      entry = std::move(*hit);
      regions.erase(hit);
    } else if (regions.size() >= kKept) {
      regions.erase(regions.begin());
    }
    const bool shrinking = w < r.width || h < r.height;
    if (!setUpScaler(entry.scaler, f, static_cast<int>(r.width), static_cast<int>(r.height), w, h,
                     AV_PIX_FMT_BGR24, shrinking ? SWS_AREA : SWS_BILINEAR))
      return nullptr;
    entry.key = key;
    regions.push_back(std::move(entry));
    return regions.back().scaler.get();
  }
};

namespace {

class FramePixels final : public PixelSource {
 public:
  FramePixels(const AVFrame& frame, FrameConverter::Scalers& scalers)
      : frame_(frame), scalers_(scalers), desc_(av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format))) {
    if (desc_) av_image_fill_max_pixsteps(steps_.data(), nullptr, desc_);
  }
  int64_t width() const override { return frame_.width; }
  int64_t height() const override { return frame_.height; }
  int64_t alignment() const override {
    if (!desc_) return 1;
    if (desc_->flags & AV_PIX_FMT_FLAG_BITSTREAM) return 8;
    return int64_t{1} << std::max(desc_->log2_chroma_w, desc_->log2_chroma_h);
  }

  bool bgr(const PixelRegion& r, int w, int h, uint8_t* out, int64_t outStride) override {
    const int64_t a = alignment();
    if (!desc_ || r.x < 0 || r.y < 0 || r.width <= 0 || r.height <= 0 || r.x % a || r.y % a ||
        r.x + r.width > frame_.width || r.y + r.height > frame_.height)
      return false;
    SwsContext* scaler = scalers_.regionScaler(frame_, r, w, h);
    if (!scaler) return false;
    const uint8_t* src[4] = {};
    for (int i = 0; i < 4 && frame_.data[i]; ++i) {
      src[i] = frame_.data[i];
      if (i == 1 && (desc_->flags & AV_PIX_FMT_FLAG_PAL)) continue;  // the palette
      const bool chroma = i == 1 || i == 2;
      const int64_t x = chroma ? r.x >> desc_->log2_chroma_w : r.x;
      const int64_t y = chroma ? r.y >> desc_->log2_chroma_h : r.y;
      const int64_t step = (desc_->flags & AV_PIX_FMT_FLAG_BITSTREAM) ? 0 : steps_[i];
      src[i] += y * frame_.linesize[i] +
                ((desc_->flags & AV_PIX_FMT_FLAG_BITSTREAM) ? x / 8 : x * step);
    }
    // The library writes whole vectors, past a row's end: it gets rows of its
    // own with room to spare, copied out after.
    const int64_t row = static_cast<int64_t>(w) * 3;
    const int64_t stride = (row + 63) / 64 * 64 + 64;
    scalers_.staging.resize(static_cast<size_t>(stride * (h + 1)));
    uint8_t* dst[4] = {scalers_.staging.data(), nullptr, nullptr, nullptr};
    int dstStride[4] = {static_cast<int>(stride), 0, 0, 0};
    if (sws_scale(scaler, src, frame_.linesize, 0, static_cast<int>(r.height), dst, dstStride) != h) return false;
    for (int y = 0; y < h; ++y)
      std::memcpy(out + y * outStride, scalers_.staging.data() + y * stride, static_cast<size_t>(row));
    return true;
  }

 private:
  const AVFrame& frame_;
  FrameConverter::Scalers& scalers_;
  const AVPixFmtDescriptor* desc_;
  std::array<int, 4> steps_{};
};

}  // namespace

FrameConverter::FrameConverter() : scalers_(std::make_unique<Scalers>()) {}
FrameConverter::~FrameConverter() = default;

Picture FrameConverter::bgra(const VideoFrame& frame) {
  if (frame.empty()) return {};
  const AVFrame& f = *frame.get();
  if (!setUpScaler(scalers_->whole, f, f.width, f.height, f.width, f.height, AV_PIX_FMT_BGRA,
                   SWS_BILINEAR))
    return {};
  const int64_t stride = bgraStride(f.width);
  const size_t bytes = static_cast<size_t>(stride) * static_cast<size_t>(f.height);
  std::vector<uint8_t>& out = scalers_->wholeOut;
  if (out.size() != bytes) out.assign(bytes, 0);
  uint8_t* dst[4] = {out.data(), nullptr, nullptr, nullptr};
  int dstStride[4] = {static_cast<int>(stride), 0, 0, 0};
  if (sws_scale(scalers_->whole.get(), f.data, f.linesize, 0, f.height, dst, dstStride) != f.height)
    return {};
  return Picture{out.data(), f.width, f.height, stride};
}

Picture FrameConverter::bgraRows(const VideoFrame& frame, const std::vector<int64_t>& rows) {
  if (frame.empty() || !scalers_->rowsOut) return {};
  const AVFrame& f = *frame.get();
  ScalerHandle& scaler = scalers_->rows;
  if (!setUpScaler(scaler, f, f.width, f.height, f.width, f.height, AV_PIX_FMT_BGRA, SWS_BILINEAR))
    return {};
  AVFrame& out = *scalers_->rowsOut;
  if (out.width != f.width || out.height != f.height) {
    av_frame_unref(&out);
    out.width = f.width;
    out.height = f.height;
    out.format = AV_PIX_FMT_BGRA;
    if (av_frame_get_buffer(&out, 64) < 0) return {};
  }
  // Output slices come from the whole frame's filters, so each row is the
  // whole conversion's row.
  if (sws_frame_start(scaler.get(), &out, &f) < 0) return {};
  bool ok = sws_send_slice(scaler.get(), 0, static_cast<unsigned>(f.height)) >= 0;
  const int64_t align = std::max(1u, sws_receive_slice_alignment(scaler.get()));
  int64_t done = -1;  // rows below this are converted
  for (int64_t row : rows) {
    if (!ok || row < 0 || row >= f.height || row < done) continue;
    const int64_t start = row / align * align;
    const int64_t end = std::min<int64_t>(start + align, f.height);
    ok = sws_receive_slice(scaler.get(), static_cast<unsigned>(start), static_cast<unsigned>(end - start)) >= 0;
    done = end;
  }
  sws_frame_end(scaler.get());
  if (!ok) return {};
  return Picture{out.data[0], f.width, f.height, out.linesize[0]};
}

std::unique_ptr<PixelSource> FrameConverter::pixelSource(const VideoFrame& frame) {
  if (frame.empty()) return nullptr;
  return std::make_unique<FramePixels>(*frame.get(), *scalers_);
}

}  // namespace kestrel::media
