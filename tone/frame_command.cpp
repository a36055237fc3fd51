#include <cmath>
#include <cstdlib>
#include <string>

#include "platform/base/atomic_file.h"
#include "platform/base/fail.h"
#include "platform/base/standard_output.h"
#include "platform/media/sdr_renderer.h"
#include "tone/commands.h"
#include "tone/rgb_pack.h"
#include "tone/words.h"

namespace kestrel::tone {

void runFrame(media::OpenResult opened, const std::vector<std::string>& a) {
  const auto t = parseTime(a[3]);
  if (!t) fail("frame: bad time");
  const std::string& path = a[4];
  media::VideoSource& video = started(opened);

  // The chosen frame is the first at or after t - 0.1 ms; decoding starts at
  // the key frame before that rather than at the beginning.
  video.seekBefore(*t - 0.0001);
  media::SdrRenderer renderer;
  while (video.next()) {
    const double pts = media::seconds(video.time());
    if (*t > pts + 0.0001) continue;
    const Picture picture = renderer.render(video, PixelFormat::Bgra8);
    if (!picture.data) fail("rendering: " + renderer.error());
    std::string rgb(static_cast<size_t>(picture.width * picture.height * 3), '\0');
    packRgb(picture, reinterpret_cast<uint8_t*>(rgb.data()));
    if (auto error = writeAtomically(path, rgb)) fail("writing " + path + ": " + *error);
    writeLine(std::to_string(picture.width) + " " + std::to_string(picture.height));
    flushLines();
    std::exit(0);
  }
  fail("no frame at " + timeText(*t) + " s");
}

}  // namespace kestrel::tone
