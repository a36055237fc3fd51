#pragma once
// Keeping FFmpeg and the decoders under it off standard error, so that
// nothing but the programs' own failure lines (or a sanitizer's report)
// reaches it.
#include <string>

extern "C" {
#include <libavcodec/codec_id.h>
#include <libavformat/avformat.h>
}

namespace kestrel::media {

// FFmpeg's log, its own and the one it gives the libraries it wraps (dav1d),
// writes nothing for this process.
void silenceFfmpeg();

// While it lives, the last message that FFmpeg logs on this thread at error
// level or worse goes to `last` (other threads' messages are dropped as
// before): the reason behind an error code that says little.
class FfmpegErrorCapture {
 public:
  explicit FfmpegErrorCapture(std::string& last);
  ~FfmpegErrorCapture();
  FfmpegErrorCapture(const FfmpegErrorCapture&) = delete;
  FfmpegErrorCapture& operator=(const FfmpegErrorCapture&) = delete;
};

// Whether the decoder FFmpeg picks for `codec` may write on standard error
// past FFmpeg's log, with no switch of its own: libjxl prints its failure
// lines, and fontconfig under librsvg its complaints.
bool decoderPrintsOnItsOwn(AVCodecID codec);

// Whether opening `format`'s streams may run such a decoder (the stream
// information is read by decoding a few frames of every stream).
bool anyDecoderPrintsOnItsOwn(const AVFormatContext& format);

}  // namespace kestrel::media
