// libFuzzer target: arbitrary bytes decoded from memory as a photo through
// libvips, the way the photo mode does: header first, refused sizes skipped,
// then one shrink-on-load decode to at most 64 pixels a side and the opacity
// scan. Declared sizes above 4 megapixels are skipped as well: decoders
// allocate and clear whole frames of that size, which spends the run's time
// on memory rather than on parsing.
#include <cstdint>
#include <span>

#include "platform/photo/photo.h"
#include "probe/photo/opacity.h"
#include "probe/photo/size_limit.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrel;
  const std::span<const uint8_t> bytes(data, size);
  const auto header = photo::readHeader(bytes);
  if (!header || header->frames < 1) return 0;
  fuzz::check(header->orientation >= 1 && header->orientation <= 8);
  if (exceeds(header->width, header->height, kMaxSourcePixels)) return 0;
  if (exceeds(header->width, header->height, 4'000'000)) return 0;
  const int64_t limit = sizeLimit(header->width, header->height, 64);
  auto picture = photo::openPhoto(bytes, limit);
  if (!picture) return 0;
  fuzz::check(picture->width() <= 64 && picture->height() <= 64);
  if (!picture->decode()) return 0;
  const Picture p = picture->picture();
  fuzz::check(p.data && p.width == picture->width() && p.height == picture->height());
  fuzz::check(p.format == PixelFormat::Rgb8 || p.format == PixelFormat::Rgba8);
  const bool alpha = hasTransparency(p);
  fuzz::check(!alpha || p.format == PixelFormat::Rgba8);
  return 0;
}
