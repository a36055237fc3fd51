// The video reader on libavformat, libavcodec and libswscale.
#include <limits>
#include <string>
#include <vector>

#include "platform/media/ffmpeg_bgra.h"
#include "platform/media/ffmpeg_decoding.h"
#include "platform/media/ffmpeg_handles.h"
#include "platform/media/ffmpeg_quiet.h"
#include "platform/media/video_reader.h"

extern "C" {
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
}

namespace kestrel::media {
namespace {

class FfmpegVideoReader final : public VideoReader {
 public:
  FfmpegVideoReader(std::unique_ptr<MemoryIo> io, FormatHandle format, CodecHandle codec, int stream,
                    Track track)
      : io_(std::move(io)), format_(std::move(format)), codec_(std::move(codec)), stream_(stream),
        track_(track),
        packet_(av_packet_alloc()), frame_(av_frame_alloc()) {
    timeBase_ = format_->streams[stream_]->time_base;
  }

  const Track& track() const override { return track_; }

  bool next() override {
    if (!packet_ || !frame_) return fail(AVERROR(ENOMEM));
    const int r = receiveFrame(*format_, *codec_, stream_, *packet_, *frame_, draining_);
    if (r == 0) return true;
    if (r == AVERROR_EOF) return false;
    return fail(r);
  }

  MediaTime time() const override {
    MediaTime t;
    int64_t pts = frame_->best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE || timeBase_.den <= 0) return t;
    // value / timescale = pts x num / den, exactly.
    __int128 value = static_cast<__int128>(pts) * timeBase_.num;
    if (value > std::numeric_limits<int64_t>::max() ||
        value < std::numeric_limits<int64_t>::min())
      return t;
    t.value = static_cast<int64_t>(value);
    t.timescale = timeBase_.den;
    t.valid = true;
    return t;
  }

  Picture bgra() override {
    const AVFrame& f = *frame_;
    if (!setUpScaler(scaler_, f, f.width, f.height, f.width, f.height, AV_PIX_FMT_BGRA, SWS_BILINEAR))
      return {};
    const int64_t stride = bgraStride(f.width);
    const size_t bytes = static_cast<size_t>(stride) * static_cast<size_t>(f.height);
    if (pixels_.size() != bytes) pixels_.assign(bytes, 0);
    uint8_t* dst[4] = {pixels_.data(), nullptr, nullptr, nullptr};
    int dstStride[4] = {static_cast<int>(stride), 0, 0, 0};
    if (sws_scale(scaler_.get(), f.data, f.linesize, 0, f.height, dst, dstStride) != f.height)
      return {};
    return Picture{pixels_.data(), f.width, f.height, stride};
  }

  VideoFrame frame() override {
    const AVFrame& f = *frame_;
    if (f.width <= 0 || f.height <= 0 || f.format < 0 ||
        !sws_isSupportedInput(static_cast<AVPixelFormat>(f.format)))
      return {};
    return VideoFrame(av_frame_clone(&f));
  }

  bool failed() const override { return failed_; }
  std::string error() const override { return error_; }

 private:
  bool fail(int code) {
    failed_ = true;
    error_ = errorText(code);
    return false;
  }

  std::unique_ptr<MemoryIo> io_;  // for bytes in memory; freed after format_
  FormatHandle format_;
  CodecHandle codec_;
  int stream_;
  Track track_;
  AVRational timeBase_{0, 1};
  PacketHandle packet_;
  FrameHandle frame_;
  ScalerHandle scaler_;
  std::vector<uint8_t> pixels_;
  bool draining_ = false;
  bool failed_ = false;
  std::string error_;
};

Track readTrack(const AVStream& st) {
  Track t;
  t.width = st.codecpar->width;
  t.height = st.codecpar->height;
  size_t size = 0;
  const uint8_t* side = av_stream_get_side_data(&st, AV_PKT_DATA_DISPLAYMATRIX, &size);
  if (side && size >= 9 * sizeof(int32_t)) {
    const auto* m = reinterpret_cast<const int32_t*>(side);
    t.displayCos = m[0] / 65536.0;
    t.displaySin = m[1] / 65536.0;
  }
  return t;
}

// The first video track of an opened input; `r` is the opening's result. The
// reader takes `format` and `io`; left behind, `format` must go first.
OpenResult openFirstTrack(int r, FormatHandle& format, std::unique_ptr<MemoryIo>& io) {
  OpenResult result;
  if (r < 0) {
    result.status = OpenStatus::CantOpen;
    result.error = errorText(r);
    return result;
  }
  int stream = -1;
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    const AVStream* st = format->streams[i];
    if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
        !(st->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
      stream = static_cast<int>(i);
      break;
    }
  }
  if (stream < 0) {
    result.status = OpenStatus::NoVideoTrack;
    return result;
  }
  AVStream* st = format->streams[stream];
  for (unsigned i = 0; i < format->nb_streams; ++i)
    if (static_cast<int>(i) != stream) format->streams[i]->discard = AVDISCARD_ALL;

  const AVCodec* decoder = avcodec_find_decoder(st->codecpar->codec_id);
  if (!decoder) {
    result.status = OpenStatus::CantDecode;
    result.error = "no decoder for " + std::string(avcodec_get_name(st->codecpar->codec_id));
    return result;
  }
  if (auto problem = oversized(*st->codecpar)) {
    result.status = OpenStatus::CantDecode;
    result.error = *problem;
    return result;
  }
  CodecHandle codec;
  r = openDecoder(*st, decoder, codec);
  if (r < 0) {
    result.status = OpenStatus::CantDecode;
    result.error = errorText(r);
    return result;
  }
  Track track = readTrack(*st);
  result.status = OpenStatus::Ok;
  result.reader = std::make_unique<FfmpegVideoReader>(std::move(io), std::move(format),
                                                      std::move(codec), stream, track);
  return result;
}

}  // namespace

OpenResult openVideo(const std::string& path) {
  silenceFfmpeg();
  std::unique_ptr<MemoryIo> none;
  FormatHandle format;
  const int r = openInput(path, format);
  return openFirstTrack(r, format, none);
}

OpenResult openVideo(std::span<const uint8_t> bytes) {
  silenceFfmpeg();
  auto io = std::make_unique<MemoryIo>(bytes);
  FormatHandle format;
  const int r = openInput(*io, format);
  return openFirstTrack(r, format, io);
}

}  // namespace kestrel::media
