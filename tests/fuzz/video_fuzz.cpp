// libFuzzer target: arbitrary bytes opened from memory by the video source of
// the analysis, through the same probing and decoder set-up as a file; a few
// frames are decoded and converted to BGRA, each whole at its frame's size;
// a failure must say why.
#include <cstdint>
#include <span>

#include "platform/media/video_source.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrel::media;
  OpenResult opened = openVideo(std::span<const uint8_t>(data, size));
  kestrel::fuzz::check((opened.status == OpenStatus::Ok) == (opened.source != nullptr));
  // A failure carries the library's words, but for a missing video track.
  if (opened.status != OpenStatus::Ok && opened.status != OpenStatus::NoVideoTrack)
    kestrel::fuzz::check(!opened.error.empty());
  if (!opened.source) return 0;
  VideoSource& source = *opened.source;
  FrameConverter converter;
  for (int k = 0; k < 3 && source.next(); ++k) {
    (void)source.time();
    const VideoFrame frame = source.frame();
    const kestrel::Picture p = converter.bgra(frame);
    if (!p.data) continue;
    kestrel::fuzz::check(p.width > 0 && p.height > 0 && p.stride >= 4 * p.width);
    // The picture is the decoded frame's, whole. Not always the size the
    // track declares: an MPEG-4 stream's probe may read another header than
    // the one its frames decode with (the committed seed afc27.., 6 x 4684
    // declared), and a stream may change size.
    kestrel::fuzz::check(p.width == frame.width() && p.height == frame.height());
    // Touch the first and the last pixel the view promises.
    volatile uint8_t sum = p.data[0];
    sum = sum + p.data[(p.height - 1) * p.stride + 4 * p.width - 1];
  }
  if (source.failed()) kestrel::fuzz::check(!source.error().empty());
  return 0;
}
