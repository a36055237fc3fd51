#include "probe/cutout/person_stream.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <new>

#include "platform/base/fail.h"
#include "probe/cutout/matte_render.h"
#include "probe/cutout/stream_setup.h"

namespace kestrel {

vision::PersonQuality personQuality(const std::string& word) {
  if (word == "fast") return vision::PersonQuality::Fast;
  if (word == "accurate") return vision::PersonQuality::Accurate;
  return vision::PersonQuality::Balanced;
}

PersonStream makePersonStream(int64_t width, int64_t height, vision::PersonQuality quality) {
  PersonStream s;
  s.width = width;
  s.height = height;
  s.pixels = width * height;
  s.stride = (4 * width + 63) / 64 * 64;
  s.frame.assign(static_cast<size_t>(s.stride * height), 0);
  s.mask.assign(static_cast<size_t>(s.pixels), 0);
  s.quality = quality;
  return s;
}

namespace {

vision::Requests personRequest(PersonStream& s) {
  vision::Requests request;
  request.personSegmentation = true;
  request.personQuality = s.quality;
  request.session = &s.session;
  return request;
}

}  // namespace

bool personStep(PersonStream& s, std::vector<uint8_t>& pending, vision::Service& service,
                const ByteSource& in, const ByteSink& out) {
  if (!readFrame(in, pending, 4 * s.pixels)) return false;
  copyRows(pending.data(), s.height, s.frame.data(), s.stride, s.width);
  pending.clear();
  const vision::Requests request = personRequest(s);
  auto handler = service.handler(Picture{s.frame.data(), s.width, s.height, s.stride}, 1);
  vision::Results results;
  std::string error;
  if (!handler->perform(request, results, error)) fail("Vision: " + error);
  if (!results.persons.empty())
    renderMatte(results.persons.front(), s.width, s.height, s.mask.data());
  else
    std::fill(s.mask.begin(), s.mask.end(), 0);
  static const uint8_t header[32] = {};
  return out(header, sizeof header) && out(s.mask.data(), s.mask.size());
}

void runPerson(int64_t width, int64_t height, const std::string& qualityWord) {
  const StreamSize size = streamSetup(width, height);
  vision::Service& service = vision::service();
  PersonStream stream;
  std::vector<uint8_t> pending;
  try {
    stream = makePersonStream(size.width, size.height, personQuality(qualityWord));
    pending.reserve(static_cast<size_t>(size.frameBytes));
  } catch (const std::bad_alloc&) {
    fail("can't make a frame buffer");
  }
  service.prepare(personRequest(stream));  // while the first frame is on its way
  const ByteSource in = fileSource(STDIN_FILENO);
  const ByteSink out = fileSink(STDOUT_FILENO);
  while (personStep(stream, pending, service, in, out)) {
  }
  std::_Exit(0);
}

}  // namespace kestrel
