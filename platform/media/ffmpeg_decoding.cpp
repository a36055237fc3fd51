#include "platform/media/ffmpeg_decoding.h"

#include "platform/quiet_stderr.h"

namespace kestrel::media {

std::optional<std::string> oversized(const AVCodecParameters& parameters) {
  const int64_t w = parameters.width, h = parameters.height;
  if (w >= 0 && h >= 0 && (w == 0 || h <= MAX_FRAME_PIXELS / w)) return std::nullopt;
  return "frames of " + std::to_string(w) + "x" + std::to_string(h) +
         " pixels are too large (at most 16384x16384 pixels)";
}

int openInput(const std::string& path, FormatHandle& format) {
  const QuietStderr quiet;  // finding the stream information decodes frames
  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  AVFormatContext* raw = nullptr;
  const int r = avformat_open_input(&raw, ("file:" + path).c_str(), nullptr, &options);
  av_dict_free(&options);
  if (r < 0) return r;
  format.reset(raw);
  return avformat_find_stream_info(format.get(), nullptr);
}

int openDecoder(const AVStream& stream, const AVCodec* decoder, CodecHandle& codec) {
  const QuietStderr quiet;
  codec.reset(avcodec_alloc_context3(decoder));
  if (!codec) return AVERROR(ENOMEM);
  int r = avcodec_parameters_to_context(codec.get(), stream.codecpar);
  if (r < 0) return r;
  codec->thread_count = 0;  // as many as the machine has
  codec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  codec->pkt_timebase = stream.time_base;
  codec->max_pixels = MAX_FRAME_PIXELS;
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
  const QuietStderr quiet;
  for (;;) {
    int r = avcodec_receive_frame(&codec, &frame);
    if (r != AVERROR(EAGAIN)) return r;
    if (draining) return AVERROR_EOF;  // a draining decoder never asks for more
    r = feed(format, codec, stream, packet, draining);
    if (r < 0) return r;
  }
}

}  // namespace kestrel::media
