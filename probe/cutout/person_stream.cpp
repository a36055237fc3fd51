#include "probe/cutout/person_stream.h"

#include <algorithm>

#include "platform/base/fail.h"
#include "platform/imaging/imaging.h"
#include "probe/cutout/frame_stream.h"

namespace kestrel {

vision::PersonQuality personQuality(const std::string& word) {
  if (word == "fast") return vision::PersonQuality::Fast;
  if (word == "accurate") return vision::PersonQuality::Accurate;
  return vision::PersonQuality::Balanced;
}

PersonStream makePersonStream(int64_t width, int64_t height, vision::PersonQuality quality) {
  PersonStream s;
  allocateFrameBuffers(s, width, height);
  s.quality = quality;
  return s;
}

namespace {

vision::Requests personRequest(vision::PersonQuality quality, vision::StreamSession* session) {
  vision::Requests request;
  request.personSegmentation = true;
  request.personQuality = quality;
  request.session = session;
  return request;
}

// The person matte over the whole frame; an empty mask when there is none.
void segment(PersonStream& s, vision::Service& service) {
  auto handler = service.handler(s.framePicture(), 1);
  vision::Results results;
  std::string error;
  if (!handler->perform(personRequest(s.quality, &s.session), results, error)) fail("Vision: " + error);
  if (!results.persons.empty())
    imaging::scaleMatte(vision::view(results.persons.front()), s.maskPlane());
  else
    std::fill(s.mask.begin(), s.mask.end(), 0);
}

}  // namespace

bool personStep(PersonStream& s, std::vector<uint8_t>& pending, vision::Service& service,
                const ByteSource& in, const ByteSink& out) {
  return frameStep(s, pending, in, out, [&] {
    segment(s, service);
    return FrameHeader{};  // the header stays zero
  });
}

void runPerson(int64_t width, int64_t height, const std::string& qualityWord) {
  const vision::PersonQuality quality = personQuality(qualityWord);
  runFrameStream(
      width, height, [&](int64_t w, int64_t h) { return makePersonStream(w, h, quality); },
      [&](vision::Service& service) { service.prepare(personRequest(quality, nullptr)); },
      personStep);
}

}  // namespace kestrel
