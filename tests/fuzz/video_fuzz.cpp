// libFuzzer target: arbitrary bytes opened as a video through FFmpeg. Byte 0
// picks the reader (the analysis reader or the SDR reader of kestrel-tone);
// the rest is the file. A few frames are decoded and converted.
#include <cstdint>
#include <string>

#include "platform/media/sdr_video.h"
#include "platform/media/video_reader.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

void analysisReader(const std::string& path) {
  using namespace kestrel::media;
  OpenResult opened = openVideo(path);
  kestrel::fuzz::check((opened.status == OpenStatus::Ok) == (opened.reader != nullptr));
  if (!opened.reader) return;
  VideoReader& reader = *opened.reader;
  for (int k = 0; k < 3 && reader.next(); ++k) {
    (void)reader.time();
    const kestrel::Picture p = reader.bgra();
    if (!p.data) continue;
    kestrel::fuzz::check(p.width > 0 && p.height > 0 && p.stride >= 4 * p.width);
    // Touch the first and the last pixel the view promises.
    volatile uint8_t sum = p.data[0];
    sum = sum + p.data[(p.height - 1) * p.stride + 4 * p.width - 1];
  }
}

void sdrReader(const std::string& path, bool half) {
  using namespace kestrel::media;
  SdrOpenResult opened = openSdrVideo(path);
  if (!opened.video) return;
  SdrVideo& video = *opened.video;
  if (!video.start()) return;
  for (int k = 0; k < 2 && video.next(); ++k) {
    (void)video.seconds();
    const SdrPicture p = video.render(half ? SdrLayout::RgbaHalf : SdrLayout::Bgra8);
    if (!p.data) continue;
    const int64_t pixel = half ? 8 : 4;
    kestrel::fuzz::check(p.width > 0 && p.height > 0 && p.stride >= pixel * p.width);
    volatile uint8_t sum = p.data[0];
    sum = sum + p.data[(p.height - 1) * p.stride + pixel * p.width - 1];
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t choice = data[0];
  const std::string path = kestrel::fuzz::inputFile(data + 1, size - 1, ".bin");
  if (choice % 3 == 0) analysisReader(path);
  else sdrReader(path, choice % 3 == 2);
  return 0;
}
