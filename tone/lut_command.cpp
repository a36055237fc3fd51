#include <cstdlib>

#include "platform/base/atomic_file.h"
#include "platform/base/fail.h"
#include "platform/base/integer.h"
#include "platform/media/sdr_renderer.h"
#include "tone/commands.h"
#include "tone/lut_table.h"
#include "tone/words.h"

namespace kestrel::tone {

void runLut(media::OpenResult opened, const std::vector<std::string>& a) {
  const auto n = a.size() >= 6 ? parseInteger(a[3]) : std::nullopt;
  const auto p = a.size() >= 6 ? parseInteger(a[4]) : std::nullopt;
  if (!n || !p) fail("lut: bad arguments");
  if (*n < 1) fail("lut: N must be at least 1");
  if (*p < 2) fail("lut: P must be at least 2");
  const std::string& path = a[5];
  media::VideoSource& video = started(opened);
  media::SdrRenderer renderer;

  std::string text = lutHeader(*n);
  int64_t frames = 0;
  while (video.next()) {
    // A video longer than the table is refused below; its extra frames are
    // counted but not measured.
    if (frames < *n) {
      const Picture picture = renderer.render(video, PixelFormat::RgbaHalf);
      if (!picture.data) fail("rendering: " + renderer.error());
      if (!gridFits(*n, *p, picture.width, picture.height))
        fail("lut: a grid of " + a[3] + " x " + a[3] + " patches of " + a[4] +
             " pixels does not fit in a " + std::to_string(picture.width) + " x " +
             std::to_string(picture.height) + " frame");
      appendFrameEntries(text, picture.data, picture.stride, *n, *p);
    }
    ++frames;
  }
  if (frames != *n)
    fail("read " + std::to_string(frames) + " of " + std::to_string(*n) +
         " frames: " + readerErrorText(video));
  if (auto error = writeAtomically(path, text)) fail("writing " + path + ": " + *error);
  std::exit(0);
}

}  // namespace kestrel::tone
