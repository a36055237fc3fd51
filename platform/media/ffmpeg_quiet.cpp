#include "platform/media/ffmpeg_quiet.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

namespace kestrel::media {
namespace {

thread_local std::string* tCapture = nullptr;

// Nothing is written; a capture on this thread keeps the message.
void keepOrDrop(void*, int level, const char* format, va_list args) {
  if (!tCapture || level > AV_LOG_ERROR) return;
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  std::string line(text);
  while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
  *tCapture = std::move(line);
}

}  // namespace

void silenceFfmpeg() {
  av_log_set_level(AV_LOG_QUIET);
  av_log_set_callback(keepOrDrop);
}

FfmpegErrorCapture::FfmpegErrorCapture(std::string& last) { tCapture = &last; }

FfmpegErrorCapture::~FfmpegErrorCapture() { tCapture = nullptr; }

bool decoderPrintsOnItsOwn(AVCodecID codec) {
  const AVCodec* decoder = avcodec_find_decoder(codec);
  if (!decoder) return false;
  for (const char* name : {"libjxl", "librsvg"})
    if (std::strcmp(decoder->name, name) == 0) return true;
  return false;
}

bool anyDecoderPrintsOnItsOwn(const AVFormatContext& format) {
  for (unsigned i = 0; i < format.nb_streams; ++i)
    if (decoderPrintsOnItsOwn(format.streams[i]->codecpar->codec_id)) return true;
  return false;
}

}  // namespace kestrel::media
