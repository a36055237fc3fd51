// libFuzzer target: arbitrary bytes opened as a video by kestrel-tone's SDR
// reader, through a file until that reader has an entry for bytes in memory.
// Byte 0 picks the layout frames are rendered in; the rest is the file.
#include <cstdint>
#include <string>

#include "platform/media/sdr_video.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrel::media;
  if (size < 1) return 0;
  const bool half = data[0] % 2 == 1;
  SdrOpenResult opened = openSdrVideo(kestrel::fuzz::inputFile(data + 1, size - 1, ".bin"));
  if (!opened.video) return 0;
  SdrVideo& video = *opened.video;
  if (!video.start()) return 0;
  for (int k = 0; k < 2 && video.next(); ++k) {
    (void)video.seconds();
    const SdrPicture p = video.render(half ? SdrLayout::RgbaHalf : SdrLayout::Bgra8);
    if (!p.data) continue;
    const int64_t pixel = half ? 8 : 4;
    kestrel::fuzz::check(p.width > 0 && p.height > 0 && p.stride >= pixel * p.width);
    volatile uint8_t sum = p.data[0];
    sum = sum + p.data[(p.height - 1) * p.stride + pixel * p.width - 1];
  }
  return 0;
}
