// kestrel-tone: opens the video, then routes to the command.
#include <string>
#include <vector>

#include "platform/base/fail.h"
#include "platform/media/sdr_video.h"
#include "tone/commands.h"
#include "tone/words.h"

namespace kestrel::tone {

std::string readerErrorText(const media::SdrVideo& video) {
  return optionalText(video.failed() ? std::optional(video.error()) : std::nullopt);
}

}  // namespace kestrel::tone

int main(int argc, char** argv) {
  using namespace kestrel;
  const std::vector<std::string> a(argv, argv + argc);
  if (a.size() < 5)
    fail(
        "usage: kestrel-tone lut <grid.mov> <N> <P> <out.cube> | frame <video> <seconds> <out.rgb>");
  // The video is opened and checked before the command word is looked at.
  media::SdrOpenResult opened = media::openSdrVideo(a[2]);
  if (opened.status == media::SdrOpenStatus::NoPicture) fail("no picture in " + a[2]);
  if (opened.status == media::SdrOpenStatus::CantRead) fail("can't read " + a[2]);
  if (a[1] == "lut") tone::runLut(std::move(opened.video), a);
  if (a[1] == "frame") tone::runFrame(std::move(opened.video), a);
  fail("unknown command " + a[1]);
}
