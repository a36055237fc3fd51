// libFuzzer target: arbitrary bytes decoded as a photo through libvips, the
// way the photo mode does: header first, refused sizes skipped, then one
// shrink-on-load decode to at most 64 pixels a side.
#include <cstdint>
#include <string>

#include "platform/photo/photo.h"
#include "probe/photo/size_limit.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrel;
  const std::string path = kestrel::fuzz::inputFile(data, size, "");
  const auto header = photo::readHeader(path);
  if (!header || header->frames < 1) return 0;
  kestrel::fuzz::check(header->orientation >= 1 && header->orientation <= 8);
  if (exceeds(header->width, header->height, MAX_SOURCE_PIXELS)) return 0;
  const int64_t limit = sizeLimit(header->width, header->height, 64);
  auto picture = photo::openPhoto(path, limit);
  if (!picture) return 0;
  kestrel::fuzz::check(picture->width() <= 64 && picture->height() <= 64);
  if (!picture->decode()) return 0;
  const photo::Pixels p = picture->pixels();
  kestrel::fuzz::check(p.data && p.width == picture->width() && p.height == picture->height());
  kestrel::fuzz::check(p.bands == 3 || p.bands == 4);
  volatile uint8_t last = p.data[p.width * p.height * p.bands - 1];
  (void)last;
  return 0;
}
