// libFuzzer target: arbitrary bytes opened from memory as a video and
// rendered by kestrel-tone's SDR renderer. Byte 0 picks the layout frames are
// rendered in; the rest is the file.
#include <cstdint>
#include <span>

extern "C" {
#include <libavutil/frame.h>
}

#include "platform/media/sdr_renderer.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrel::media;
  if (size < 1) return 0;
  const bool half = data[0] % 2 == 1;
  OpenResult opened = openVideo(std::span<const uint8_t>(data + 1, size - 1));
  if (!opened.source) return 0;
  VideoSource& video = *opened.source;
  SdrRenderer renderer;
  for (int k = 0; k < 2 && video.next(); ++k) {
    (void)seconds(video.time());
    const kestrel::Picture p =
        renderer.render(video, half ? kestrel::PixelFormat::RgbaHalf : kestrel::PixelFormat::Bgra8);
    if (!p.data) {
      kestrel::fuzz::check(!renderer.error().empty());
      continue;
    }
    const int64_t pixel = half ? 8 : 4;
    kestrel::fuzz::check(p.width > 0 && p.height > 0 && p.stride >= pixel * p.width);
    // The picture is the decoded frame's, whole. Not always the size the
    // track declares: an MPEG-4 stream's probe may read another header than
    // the one its frames decode with (the committed seed afc27.., 6 x 4684
    // declared), and a stream may change size.
    kestrel::fuzz::check(p.width == video.decoded().width && p.height == video.decoded().height);
    volatile uint8_t sum = p.data[0];
    sum = sum + p.data[(p.height - 1) * p.stride + pixel * p.width - 1];
  }
  if (video.failed()) kestrel::fuzz::check(!video.error().empty());
  return 0;
}
