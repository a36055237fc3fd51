// The SDR video on libavformat and libavcodec; rendering in ffmpeg_sdr_render.
#include <cmath>
#include <limits>

#include "platform/media/ffmpeg_decoding.h"
#include "platform/media/ffmpeg_handles.h"
#include "platform/media/ffmpeg_quiet.h"
#include "platform/media/ffmpeg_sdr_render.h"
#include "platform/media/sdr_video.h"

namespace kestrel::media {
namespace {

struct Opened {
  SdrOpenStatus status = SdrOpenStatus::NoPicture;
  FormatHandle format;
  int stream = -1;
  const AVCodec* decoder = nullptr;
};

Opened openFirstVideo(const std::string& path) {
  Opened o;
  if (openInput(path, o.format) < 0) return o;
  for (unsigned i = 0; i < o.format->nb_streams; ++i) {
    AVStream* st = o.format->streams[i];
    if (o.stream < 0 && st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
        !(st->disposition & AV_DISPOSITION_ATTACHED_PIC))
      o.stream = static_cast<int>(i);
    else
      st->discard = AVDISCARD_ALL;
  }
  if (o.stream < 0) return o;
  o.decoder = avcodec_find_decoder(o.format->streams[o.stream]->codecpar->codec_id);
  o.status = o.decoder ? SdrOpenStatus::Ok : SdrOpenStatus::CantRead;
  return o;
}

class FfmpegSdrVideo final : public SdrVideo {
 public:
  FfmpegSdrVideo(std::string path, Opened opened)
      : path_(std::move(path)), format_(std::move(opened.format)),
        stream_(format_->streams[opened.stream]), decoder_(opened.decoder) {}

  bool start() override {
    if (!packet_ || !frame_) return fail(AVERROR(ENOMEM));
    if (auto problem = oversized(*stream_->codecpar)) {
      failed_ = true;
      error_ = *problem;
      return false;
    }
    const int r = openDecoder(*stream_, decoder_, codec_);
    return r >= 0 || fail(r);
  }

  void seekBefore(double target) override {
    if (!codec_ || std::isnan(target)) return;
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
      if (frame_->key_frame && !(seconds() > target)) {
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
    if (!codec_ || failed_) return false;
    const int r = receiveFrame(*format_, *codec_, stream_->index, *packet_, *frame_, draining_);
    if (r == 0) return true;
    if (r == AVERROR_EOF) return false;
    return fail(r);
  }

  double seconds() const override {
    const int64_t pts = frame_->best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE) return std::numeric_limits<double>::quiet_NaN();
    return toSeconds(pts);
  }

  SdrPicture render(SdrLayout layout) override {
    fillColour(*frame_, *stream_->codecpar);
    SdrPicture p = renderer_.render(*frame_, layout, hdrPeakNits(*frame_, *stream_));
    if (!p.data) {
      failed_ = true;
      error_ = renderer_.error();
    }
    return p;
  }

  bool failed() const override { return failed_; }
  std::string error() const override { return error_; }

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
    if (av_seek_frame(format_.get(), stream_->index, toTicks(target), AVSEEK_FLAG_BACKWARD) < 0)
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

  // Opens the file afresh, as if nothing had been read.
  void restart() {
    failed_ = draining_ = pending_ = false;
    error_.clear();
    Opened o = openFirstVideo(path_);
    if (o.status != SdrOpenStatus::Ok || o.stream != stream_->index) {
      fail(AVERROR(EIO));
      return;
    }
    format_ = std::move(o.format);
    stream_ = format_->streams[o.stream];
    start();
  }

  double toSeconds(int64_t ticks) const {
    return static_cast<double>(ticks) * stream_->time_base.num / stream_->time_base.den;
  }

  // A time as stream ticks, one tick early so that rounding never skips a frame.
  int64_t toTicks(double secs) const {
    const double ticks = std::floor(secs * stream_->time_base.den / stream_->time_base.num) - 1;
    const double limit = static_cast<double>(std::numeric_limits<int64_t>::max() / 2);
    if (!(ticks < limit)) return static_cast<int64_t>(limit);
    if (!(ticks > -limit)) return static_cast<int64_t>(-limit);
    return static_cast<int64_t>(ticks);
  }

  std::string path_;
  FormatHandle format_;
  AVStream* stream_;
  const AVCodec* decoder_;
  CodecHandle codec_;
  PacketHandle packet_{av_packet_alloc()};
  FrameHandle frame_{av_frame_alloc()};
  SdrRenderer renderer_;
  bool draining_ = false;
  bool pending_ = false;
  bool failed_ = false;
  std::string error_;
};

}  // namespace

SdrOpenResult openSdrVideo(const std::string& path) {
  silenceFfmpeg();
  Opened opened = openFirstVideo(path);
  SdrOpenResult result;
  result.status = opened.status;
  if (opened.status == SdrOpenStatus::Ok)
    result.video = std::make_unique<FfmpegSdrVideo>(path, std::move(opened));
  return result;
}

}  // namespace kestrel::media
