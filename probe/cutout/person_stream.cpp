#include "probe/cutout/person_stream.h"

#include <unistd.h>

#include <cstdlib>
#include <new>

#include "probe/cutout/matte_render.h"
#include "platform/vision/vision.h"
#include "probe/cutout/frame_io.h"
#include "probe/cutout/stream_setup.h"
#include "probe/front/fail.h"

namespace kestrel {

vision::PersonQuality personQuality(const std::string& word) {
  if (word == "fast") return vision::PersonQuality::Fast;
  if (word == "accurate") return vision::PersonQuality::Accurate;
  return vision::PersonQuality::Balanced;
}

void runPerson(int64_t width, int64_t height, const std::string& qualityWord) {
  const StreamSize size = streamSetup(width, height);
  vision::Service& service = vision::service();
  vision::Requests request;
  request.personSegmentation = true;
  request.personQuality = personQuality(qualityWord);

  const int64_t stride = (4 * size.width + 63) / 64 * 64;
  std::vector<uint8_t> frame, pending, mask;
  try {
    frame.assign(static_cast<size_t>(stride * size.height), 0);
    mask.assign(static_cast<size_t>(size.pixels), 0);
    pending.reserve(static_cast<size_t>(size.frameBytes));
  } catch (const std::bad_alloc&) {
    fail("can't make a frame buffer");
  }
  const std::vector<uint8_t> header(32, 0);

  while (readFrame(STDIN_FILENO, pending, size.frameBytes)) {
    copyRows(pending.data(), size.height, frame.data(), stride, size.width);
    pending.clear();
    auto handler = service.handler(Picture{frame.data(), size.width, size.height, stride}, 1);
    vision::Results results;
    std::string error;
    if (!handler->perform(request, results, error)) fail("Vision: " + error);
    if (!results.persons.empty())
      renderMatte(results.persons.front(), size.width, size.height, mask.data());
    else
      std::fill(mask.begin(), mask.end(), 0);
    if (!writeAll(STDOUT_FILENO, header.data(), header.size()) ||
        !writeAll(STDOUT_FILENO, mask.data(), mask.size()))
      break;
  }
  std::_Exit(0);
}

}  // namespace kestrel
