// libFuzzer target: arbitrary bytes opened from memory by the video source of
// the analysis, through the same probing and decoder set-up as a file; a few
// frames are decoded and converted to BGRA.
#include <cstdint>
#include <span>

#include "platform/media/video_source.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrel::media;
  OpenResult opened = openVideo(std::span<const uint8_t>(data, size));
  kestrel::fuzz::check((opened.status == OpenStatus::Ok) == (opened.source != nullptr));
  if (!opened.source) return 0;
  VideoSource& source = *opened.source;
  FrameConverter converter;
  for (int k = 0; k < 3 && source.next(); ++k) {
    (void)source.time();
    const kestrel::Picture p = converter.bgra(source.frame());
    if (!p.data) continue;
    kestrel::fuzz::check(p.width > 0 && p.height > 0 && p.stride >= 4 * p.width);
    // Touch the first and the last pixel the view promises.
    volatile uint8_t sum = p.data[0];
    sum = sum + p.data[(p.height - 1) * p.stride + 4 * p.width - 1];
  }
  if (source.failed()) kestrel::fuzz::check(!source.error().empty());
  return 0;
}
