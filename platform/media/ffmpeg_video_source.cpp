// The video source on libavformat and libavcodec.
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

#include "platform/media/ffmpeg_decoding.h"
#include "platform/media/ffmpeg_handles.h"
#include "platform/media/ffmpeg_quiet.h"
#include "platform/media/video_source.h"
#include "platform/quiet_stderr.h"

extern "C" {
#include <libavutil/display.h>
}

namespace kestrel::media {
namespace {

// Where the video comes from: a file's path, or its bytes in memory.
struct Input {
  std::string path;
  std::optional<std::span<const uint8_t>> bytes;
};

// An input opened up to its decoder. Members go in reverse: the decoder, the
// container, then the bytes' reader the container reads through.
struct Opened {
  OpenStatus status = OpenStatus::CantOpen;
  std::string error;
  std::unique_ptr<MemoryIo> io;
  FormatHandle format;
  int stream = -1;
  CodecHandle codec;
};

// The first video stream that is not a cover picture, or -1.
int firstVideoIndex(const AVFormatContext& format) {
  for (unsigned i = 0; i < format.nb_streams; ++i) {
    const AVStream* st = format.streams[i];
    if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
        !(st->disposition & AV_DISPOSITION_ATTACHED_PIC))
      return static_cast<int>(i);
  }
  return -1;
}

// The first video stream; every other stream is left unread.
int firstVideoStream(AVFormatContext& format) {
  const int chosen = firstVideoIndex(format);
  for (unsigned i = 0; i < format.nb_streams; ++i)
    if (static_cast<int>(i) != chosen) format.streams[i]->discard = AVDISCARD_ALL;
  return chosen;
}

// A picture size the header declares too large is refused before reading
// the stream information would try to decode a frame of it.
std::optional<std::string> declaredOversized(const AVFormatContext& format) {
  const int first = firstVideoIndex(format);
  if (first < 0) return std::nullopt;
  return oversized(*format.streams[first]->codecpar);
}

int openContainer(const Input& input, Opened& o) {
  if (!input.bytes) return openInput(input.path, o.format);
  o.io = std::make_unique<MemoryIo>(*input.bytes);
  return openInput(*o.io, o.format);
}

Opened failedWith(Opened o, OpenStatus status, std::string error) {
  o.status = status;
  o.error = std::move(error);
  return o;
}

// The size that FFmpeg's picture-size check refused, from its log line.
std::optional<std::string> refusedPictureSize(const std::string& logged) {
  unsigned w = 0, h = 0;
  if (std::sscanf(logged.c_str(), "Picture size %ux%u is invalid", &w, &h) != 2) return std::nullopt;
  return frameTooLarge(w, h);
}

Opened openAll(const Input& input) {
  Opened o;
  std::string logged;
  int r = 0;
  {
    const FfmpegErrorCapture capture(logged);
    r = openContainer(input, o);
  }
  // A header declaring a huge picture fails with an error code of no meaning
  // (a size computation's error read as a packet size).
  if (auto problem = r < 0 ? refusedPictureSize(logged) : std::nullopt)
    return failedWith(std::move(o), OpenStatus::CantDecode, *problem);
  if (r < 0) return failedWith(std::move(o), OpenStatus::CantOpen, errorText(r));
  if (auto problem = declaredOversized(*o.format))
    return failedWith(std::move(o), OpenStatus::CantDecode, *problem);
  {
    const QuietStderrWhen quiet(anyDecoderPrintsOnItsOwn(*o.format));
    r = readStreamInfo(*o.format);
  }
  if (r < 0) return failedWith(std::move(o), OpenStatus::CantOpen, errorText(r));
  o.stream = firstVideoStream(*o.format);
  if (o.stream < 0) return failedWith(std::move(o), OpenStatus::NoVideoTrack, {});
  const AVStream& st = *o.format->streams[o.stream];
  const AVCodec* decoder = avcodec_find_decoder(st.codecpar->codec_id);
  if (!decoder)
    return failedWith(std::move(o), OpenStatus::NoDecoder,
                      "no decoder for " + std::string(avcodec_get_name(st.codecpar->codec_id)));
  if (auto problem = oversized(*st.codecpar))
    return failedWith(std::move(o), OpenStatus::CantDecode, *problem);
  {
    const QuietStderrWhen quiet(decoderPrintsOnItsOwn(st.codecpar->codec_id));
    r = openDecoder(st, decoder, o.codec);
  }
  if (r < 0) return failedWith(std::move(o), OpenStatus::CantDecode, errorText(r));
  o.status = OpenStatus::Ok;
  return o;
}

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

class FfmpegVideoSource final : public VideoSource {
 public:
  FfmpegVideoSource(Input input, Opened opened)
      : input_(std::move(input)), io_(std::move(opened.io)), format_(std::move(opened.format)),
        stream_(format_->streams[opened.stream]), codec_(std::move(opened.codec)),
        track_(readTrack(*stream_)), printsOnItsOwn_(decoderPrintsOnItsOwn(codec_->codec_id)) {}

  const Track& track() const override { return track_; }

  void seekBefore(double target) override {
    if (std::isnan(target)) return;
    const double begin = stream_->start_time == AV_NOPTS_VALUE ? 0 : toSeconds(stream_->start_time);
    if (!(target > begin)) return;
    if (startAtFollowingKey(target)) return;
    // Only a key frame at or before the target, first out of the decoder,
    // proves that decoding restarted cleanly and early enough. An index can be
    // coarse and a format without one lands anywhere: then aim earlier and
    // earlier, and in the end start over from the beginning.
    for (double back = 0; back <= 64; back = back == 0 ? 1 : back * 2) {
      const double aim = target - back;
      if (!(aim > begin)) break;
      if (av_seek_frame(format_.get(), stream_->index, toTicks(aim), AVSEEK_FLAG_BACKWARD) < 0) {
        if (back == 0) return;  // nothing moved: decoding goes on from the start
        break;
      }
      avcodec_flush_buffers(codec_.get());
      draining_ = false;
      if (!next()) {
        if (failed_) break;
        continue;
      }
      if (frame_->key_frame && !(frameSeconds() > target)) {
        pending_ = true;  // next() hands out this frame first
        return;
      }
    }
    restart();
  }

  bool next() override {
    if (pending_) {
      pending_ = false;
      return true;
    }
    if (failed_) return false;
    if (!packet_ || !frame_) return fail(AVERROR(ENOMEM));
    const QuietStderrWhen quiet(printsOnItsOwn_);
    const int r = receiveFrame(*format_, *codec_, stream_->index, *packet_, *frame_, draining_);
    if (r == 0) return true;
    if (r == AVERROR_EOF) return false;
    return fail(r);
  }

  MediaTime time() const override {
    MediaTime t;
    const int64_t pts = frame_->best_effort_timestamp;
    const AVRational base = stream_->time_base;
    if (pts == AV_NOPTS_VALUE || base.den <= 0) return t;
    // value / timescale = pts x num / den, exactly.
    const __int128 value = static_cast<__int128>(pts) * base.num;
    if (value > std::numeric_limits<int64_t>::max() || value < std::numeric_limits<int64_t>::min())
      return t;
    t.value = static_cast<int64_t>(value);
    t.timescale = base.den;
    t.valid = true;
    return t;
  }

  VideoFrame frame() const override {
    const AVFrame& f = *frame_;
    if (f.width <= 0 || f.height <= 0 || f.format < 0 ||
        !sws_isSupportedInput(static_cast<AVPixelFormat>(f.format)))
      return {};
    return VideoFrame(av_frame_clone(&f));
  }

  bool failed() const override { return failed_; }
  std::string error() const override { return error_; }
  const AVFrame& decoded() const override { return *frame_; }
  const AVStream& stream() const override { return *stream_; }

 private:
  bool fail(int code) {
    failed_ = true;
    error_ = errorText(code);
    return false;
  }

  // A target just before a key frame would have decoding start a whole group
  // of pictures early. The packets tell, without decoding, whether any frame
  // shown before that key frame (its group's leading pictures included) is at
  // or after the target; when none is, decoding starts at the key frame.
  bool startAtFollowingKey(double target) {
    if (!packet_ ||
        av_seek_frame(format_.get(), stream_->index, toTicks(target), AVSEEK_FLAG_BACKWARD) < 0)
      return false;
    int64_t key = AV_NOPTS_VALUE;
    for (int read = 0; read < 10000; ++read) {
      if (av_read_frame(format_.get(), packet_.get()) < 0) break;
      const AVPacket& p = *packet_;
      const bool ours = p.stream_index == stream_->index;
      const int64_t pts = p.pts;
      const bool isKey = p.flags & AV_PKT_FLAG_KEY;
      av_packet_unref(packet_.get());
      if (!ours) continue;
      if (pts == AV_NOPTS_VALUE) break;
      if (read == 0 && !isKey) break;  // the seek did not land on a key frame
      if (key == AV_NOPTS_VALUE) {
        if (read > 0 && isKey) {
          if (!(toSeconds(pts) >= target)) break;
          key = pts;
          continue;
        }
        if (!(toSeconds(pts) < target)) break;  // this group holds the chosen frame
        continue;
      }
      if (pts > key) return decodeFromKey(key);  // past the leading pictures
      if (!(toSeconds(pts) < target)) break;
    }
    return false;
  }

  // Seeks to the key frame with this time stamp; true when it comes out first.
  bool decodeFromKey(int64_t key) {
    if (av_seek_frame(format_.get(), stream_->index, key, AVSEEK_FLAG_BACKWARD) < 0) return false;
    avcodec_flush_buffers(codec_.get());
    draining_ = false;
    if (!next()) {
      failed_ = false;
      error_.clear();
      return false;
    }
    pending_ = frame_->key_frame && frame_->best_effort_timestamp == key;
    return pending_;
  }

  // Opens the input afresh, as if nothing had been read.
  void restart() {
    failed_ = draining_ = pending_ = false;
    error_.clear();
    Opened o = openAll(input_);
    if (o.status != OpenStatus::Ok || o.stream != stream_->index) {
      fail(AVERROR(EIO));
      return;
    }
    codec_ = std::move(o.codec);
    format_ = std::move(o.format);  // closed while the reader it used is still there
    io_ = std::move(o.io);
    stream_ = format_->streams[o.stream];
  }

  double toSeconds(int64_t ticks) const {
    return static_cast<double>(ticks) * stream_->time_base.num / stream_->time_base.den;
  }

  // The current frame's time in seconds; NaN when it has none.
  double frameSeconds() const {
    const int64_t pts = frame_->best_effort_timestamp;
    return pts == AV_NOPTS_VALUE ? std::numeric_limits<double>::quiet_NaN() : toSeconds(pts);
  }

  // A time as stream ticks, one tick early so that rounding never skips a frame.
  int64_t toTicks(double secs) const {
    const double ticks = std::floor(secs * stream_->time_base.den / stream_->time_base.num) - 1;
    const double limit = static_cast<double>(std::numeric_limits<int64_t>::max() / 2);
    if (!(ticks < limit)) return static_cast<int64_t>(limit);
    if (!(ticks > -limit)) return static_cast<int64_t>(-limit);
    return static_cast<int64_t>(ticks);
  }

  Input input_;
  std::unique_ptr<MemoryIo> io_;
  FormatHandle format_;
  AVStream* stream_;
  CodecHandle codec_;
  Track track_;
  PacketHandle packet_{av_packet_alloc()};
  FrameHandle frame_{av_frame_alloc()};
  bool draining_ = false;
  bool pending_ = false;
  bool failed_ = false;
  std::string error_;
  // Such a decoder runs inside the calls that decode (no frame threads), so
  // standard error is pointed away for those calls alone.
  bool printsOnItsOwn_;
};

OpenResult openSource(Input input) {
  silenceFfmpeg();
  Opened opened = openAll(input);
  OpenResult result{opened.status, opened.error, nullptr};
  if (opened.status == OpenStatus::Ok)
    result.source = std::make_unique<FfmpegVideoSource>(std::move(input), std::move(opened));
  return result;
}

}  // namespace

OpenResult openVideo(const std::string& path) { return openSource(Input{path, std::nullopt}); }

OpenResult openVideo(std::span<const uint8_t> bytes) { return openSource(Input{{}, bytes}); }

}  // namespace kestrel::media
