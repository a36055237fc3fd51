#include "probe/photo/photo.h"

#include <cstdlib>
#include <memory>
#include <optional>

#include "platform/base/fail.h"
#include "platform/photo/photo.h"
#include "probe/front/emit.h"
#include "probe/front/records.h"
#include "probe/photo/opacity.h"
#include "probe/photo/size_limit.h"

namespace kestrel {

void runPhoto(const std::string& input, const std::string& output, int64_t maxSize) {
  const std::optional<photo::Header> header = photo::readHeader(input);
  if (!header || header->frames < 1) fail("can't read the picture " + input);
  if (exceeds(header->width, header->height, kMaxSourcePixels))
    fail("can't decode a " + sizeText(header->width, header->height) + " picture " + input);

  // One decode at the reduced size: the limit goes to the decoder.
  const int64_t limit = sizeLimit(header->width, header->height, maxSize);
  std::unique_ptr<photo::Photo> picture = photo::openPhoto(input, limit);
  if (!picture) fail("can't decode the picture " + input);
  const int64_t w = picture->width();
  const int64_t h = picture->height();
  if (exceeds(w, h, kMaxPicturePixels)) fail("can't make a " + sizeText(w, h) + " picture");
  // Only an alpha channel needs the pixels before the PNG, for the opacity
  // scan; an opaque picture goes from the decoder to the PNG in one pass.
  bool alpha = false;
  if (picture->hasAlpha()) {
    if (!picture->decode()) fail("can't decode the picture " + input);
    alpha = hasTransparency(picture->picture());
  }
  switch (picture->writePng(output, alpha)) {
    case photo::PngWrite::Written: break;
    case photo::PngWrite::Undecodable: fail("can't decode the picture " + input);
    case photo::PngWrite::Unwritable: fail("can't write " + output);
  }

  emit(PhotoInfo{w, h, alpha, header->orientation, header->profile, header->frames});
  flushLines();
  std::_Exit(0);  // no library teardown: nothing after the line may fail or print
}

}  // namespace kestrel
