#include "platform/media/ffmpeg_decoding.h"

#include <algorithm>
#include <cstring>

namespace kestrel::media {

std::optional<std::string> oversized(const AVCodecParameters& parameters) {
  const int64_t w = parameters.width, h = parameters.height;
  if (frameFits(w, h)) return std::nullopt;
  return frameTooLarge(w, h);
}

namespace {

// `raw` is null for a file, or a context reading through its own AVIOContext;
// the library frees it when the opening fails.
int openWith(AVFormatContext* raw, const std::string& url, FormatHandle& format) {
  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  const int r = avformat_open_input(&raw, url.c_str(), nullptr, &options);
  av_dict_free(&options);
  if (r < 0) return r;
  format.reset(raw);
  return 0;
}

constexpr int kIoBufferBytes = 32768;

}  // namespace

int openInput(const std::string& path, FormatHandle& format) {
  return openWith(nullptr, "file:" + path, format);
}

MemoryIo::MemoryIo(std::span<const uint8_t> bytes) : bytes_(bytes) {
  auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferBytes));
  if (!buffer) return;
  io_ = avio_alloc_context(buffer, kIoBufferBytes, 0, this, read, nullptr, seek);
  if (!io_) av_free(buffer);
}

MemoryIo::~MemoryIo() {
  if (!io_) return;
  av_freep(&io_->buffer);  // the library may have replaced the buffer it was given
  avio_context_free(&io_);
}

int MemoryIo::read(void* self, uint8_t* buffer, int size) {
  auto& m = *static_cast<MemoryIo*>(self);
  const size_t n = std::min(static_cast<size_t>(std::max(size, 0)), m.bytes_.size() - m.at_);
  if (n == 0) return AVERROR_EOF;
  std::memcpy(buffer, m.bytes_.data() + m.at_, n);
  m.at_ += n;
  return static_cast<int>(n);
}

int64_t MemoryIo::seek(void* self, int64_t offset, int whence) {
  auto& m = *static_cast<MemoryIo*>(self);
  const auto size = static_cast<int64_t>(m.bytes_.size());
  whence &= ~AVSEEK_FORCE;
  if (whence == AVSEEK_SIZE) return size;
  int64_t base = 0;
  if (whence == SEEK_CUR) base = static_cast<int64_t>(m.at_);
  else if (whence == SEEK_END) base = size;
  else if (whence != SEEK_SET) return AVERROR(EINVAL);
  if (offset > size - base || offset < -base) return AVERROR(EINVAL);
  m.at_ = static_cast<size_t>(base + offset);
  return base + offset;
}

int openInput(MemoryIo& io, FormatHandle& format) {
  if (!io.context()) return AVERROR(ENOMEM);
  AVFormatContext* raw = avformat_alloc_context();
  if (!raw) return AVERROR(ENOMEM);
  raw->pb = io.context();
  return openWith(raw, "", format);
}

int readStreamInfo(AVFormatContext& format) {
  return avformat_find_stream_info(&format, nullptr);
}

int openDecoder(const AVStream& stream, const AVCodec* decoder, CodecHandle& codec) {
  codec.reset(avcodec_alloc_context3(decoder));
  if (!codec) return AVERROR(ENOMEM);
  int r = avcodec_parameters_to_context(codec.get(), stream.codecpar);
  if (r < 0) return r;
  codec->thread_count = 0;  // as many as the machine has
  codec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  codec->pkt_timebase = stream.time_base;
  codec->max_pixels = kMaxFramePixels;  // sides are checked as frames come out
  return avcodec_open2(codec.get(), decoder, nullptr);
}

namespace {

// Sends the next packet of the stream, or the end-of-stream mark.
int feed(AVFormatContext& format, AVCodecContext& codec, int stream, AVPacket& packet,
         bool& draining) {
  for (;;) {
    int r = av_read_frame(&format, &packet);
    if (r == AVERROR_EOF) {
      draining = true;
      r = avcodec_send_packet(&codec, nullptr);
      return r == AVERROR_EOF ? 0 : r;
    }
    if (r < 0) return r;
    if (packet.stream_index != stream) {
      av_packet_unref(&packet);
      continue;
    }
    r = avcodec_send_packet(&codec, &packet);
    av_packet_unref(&packet);
    return r == AVERROR(EAGAIN) ? 0 : r;
  }
}

}  // namespace

int receiveFrame(AVFormatContext& format, AVCodecContext& codec, int stream, AVPacket& packet,
                 AVFrame& frame, bool& draining) {
  for (;;) {
    int r = avcodec_receive_frame(&codec, &frame);
    if (r == 0 && !frameFits(frame.width, frame.height)) {
      av_frame_unref(&frame);
      return AVERROR(EINVAL);  // as the decoder refuses frames over its pixel count
    }
    if (r != AVERROR(EAGAIN)) return r;
    if (draining) return AVERROR_EOF;  // a draining decoder never asks for more
    r = feed(format, codec, stream, packet, draining);
    if (r < 0) return r;
  }
}

}  // namespace kestrel::media
