// kestrel-tone: opens the video, then routes to the command.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/base/fail.h"
#include "platform/media/video_source.h"
#include "tone/commands.h"
#include "tone/words.h"

namespace kestrel::tone {

std::string readerErrorText(const media::VideoSource& video) {
  return optionalText(video.failed() ? std::optional(video.error()) : std::nullopt);
}

bool permissionDenied(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) ::close(fd);
  return fd < 0 && (errno == EACCES || errno == EPERM);
}

media::VideoSource& started(const media::OpenResult& opened) {
  if (!opened.source) fail("reading: " + optionalText(opened.error));
  return *opened.source;
}

}  // namespace kestrel::tone

int main(int argc, char** argv) {
  using namespace kestrel;
  const std::vector<std::string> a(argv, argv + argc);
  if (a.size() < 5)
    fail(
        "usage: kestrel-tone lut <grid.mov> <N> <P> <out.cube> | frame <video> <seconds> <out.rgb>");
  // The video is opened and checked before the command word is looked at.
  if (tone::permissionDenied(a[2])) fail("can't read " + a[2]);
  media::OpenResult opened = media::openVideo(a[2]);
  if (opened.status == media::OpenStatus::CantOpen || opened.status == media::OpenStatus::NoVideoTrack)
    fail("no picture in " + a[2]);
  if (opened.status == media::OpenStatus::NoDecoder) fail("can't read " + a[2]);
  if (a[1] == "lut") tone::runLut(std::move(opened), a);
  if (a[1] == "frame") tone::runFrame(std::move(opened), a);
  fail("unknown command " + a[1]);
}
