// One cutout frame. The instance map, the faces and the accurate person matte
// are asked for together. The instances under the largest face (or where a face
// is expected) are picked by probing its centre, the chin and the chest, and
// rendered as the mask. The person matte, widened, then gates that mask: what
// lies outside the person is cut, and cut regions that stand in front of the
// person below the chin are restored. Where the gate cut a lot, the mask
// strays outside the person, or another object is in the frame, the held step
// puts back what lies around the hands, with any object near them.
#include "probe/cutout/cutout_frame.h"

#include <algorithm>
#include <cstring>

#include "platform/base/fail.h"
#include "platform/imaging/imaging.h"
#include "probe/cutout/cutout_settings.h"
#include "probe/cutout/frame_math.h"
#include "probe/cutout/held.h"
#include "probe/cutout/matte_render.h"
#include "probe/cutout/person_gate.h"

namespace kestrel {
namespace {

constexpr const CutoutSettings& settings = CUTOUT_SETTINGS;

// The largest face; on equal areas the earlier one.
const vision::FaceObservation* largestFace(const std::vector<vision::FaceObservation>& faces) {
  const vision::FaceObservation* best = nullptr;
  for (const auto& f : faces)
    if (!best || f.boundingBox.width * f.boundingBox.height >
                     best->boundingBox.width * best->boundingBox.height)
      best = &f;
  return best;
}

uint8_t labelAt(const vision::InstanceObservation& o, double column, double row) {
  const int64_t x = clampedIndex(column, o.width), y = clampedIndex(row, o.height);
  return o.labels[static_cast<size_t>(y * o.stride + x)];
}

// The instances at the face centre, below the chin and at the chest.
std::vector<uint8_t> probeLabels(const vision::InstanceObservation& o, const vision::Rect& face) {
  const double W = static_cast<double>(o.width), H = static_cast<double>(o.height);
  const double column = (face.x + face.width / 2) * W;
  const double minY = face.y;
  const double rows[3] = {(1 - (face.y + face.height / 2)) * H,
                          (1 - minY + settings.chinProbe * face.height) * H,
                          (1 - minY + settings.chestProbe * face.height) * H};
  std::vector<uint8_t> picked;
  for (double row : rows) {
    uint8_t label = labelAt(o, column, row);
    if (label != 0 && std::find(picked.begin(), picked.end(), label) == picked.end())
      picked.push_back(label);
  }
  std::sort(picked.begin(), picked.end());
  return picked;
}

// Whether an instance outside `picked` covers at least minShare of the label map.
bool otherInstanceIn(const vision::InstanceObservation& o, const std::vector<uint8_t>& picked) {
  int64_t counts[256] = {};
  for (int64_t y = 0; y < o.height; ++y) {
    const uint8_t* row = o.labels.data() + y * o.stride;
    for (int64_t x = 0; x < o.width; ++x) ++counts[row[x]];
  }
  const double least = settings.minShare * static_cast<double>(o.width * o.height);
  for (int label = 1; label < 256; ++label)
    if (std::find(picked.begin(), picked.end(), label) == picked.end() &&
        static_cast<double>(counts[label]) >= least)
      return true;
  return false;
}

// Mask pixels outside the widened person.
int64_t outsidePerson(const CutoutStream& s) {
  int64_t count = 0;
  for (int64_t i = 0; i < s.pixels; ++i)
    if (s.mask[static_cast<size_t>(i)] >= 128 &&
        s.personWide[static_cast<size_t>(i)] < settings.insidePersonLevel)
      ++count;
  return count;
}

// A label map whose bytes cover its size; anything else counts as no observation.
bool usable(const vision::InstanceObservation& o) {
  return o.width > 0 && o.height > 0 && o.stride >= o.width &&
         static_cast<uint64_t>(o.stride) <= o.labels.size() / static_cast<uint64_t>(o.height);
}

}  // namespace

CutoutStream makeCutoutStream(int64_t width, int64_t height, bool heldEnabled) {
  CutoutStream s;
  allocateFrameBuffers(s, width, height);
  const size_t n = static_cast<size_t>(s.pixels);
  s.instanceMask.assign(n, 0);
  s.personWide.assign(n, 0);
  s.personMask.assign(n, 0);
  s.componentIds.assign(n, -1);
  s.heldMask.assign(n, 0);
  s.heldEnabled = heldEnabled;
  return s;
}

bool heldEnabledBy(const char* heldOff) { return !(heldOff && std::strcmp(heldOff, "1") == 0); }

namespace {

vision::Requests frameRequests(vision::StreamSession* session) {
  vision::Requests requests;
  requests.foregroundInstances = true;
  requests.faceRectangles = true;
  requests.personSegmentation = true;
  requests.personQuality = vision::PersonQuality::Accurate;
  requests.session = session;
  return requests;
}

}  // namespace

void prepareCutout(bool heldEnabled, vision::Service& service) {
  vision::Requests all = frameRequests(nullptr);
  all.handPose = heldEnabled;  // the held step's
  service.prepare(all);
}

CutoutHeader cutoutAnalyse(CutoutStream& s, vision::Service& service) {
  const int64_t W = s.width, H = s.height;
  auto handler = service.handler(Picture{s.frame.data(), W, H, s.stride}, 1);
  const vision::Requests requests = frameRequests(&s.session);
  vision::Results results;
  std::string error;
  if (!handler->perform(requests, results, error)) fail("Vision: " + error);

  CutoutHeader header;
  const vision::FaceObservation* face = largestFace(results.faces);
  const vision::Rect faceRect = face ? face->boundingBox : settings.defaultFace;

  std::fill(s.mask.begin(), s.mask.end(), 0);

  bool otherInstance = false;
  const bool hasInstances = !results.instances.empty() && usable(results.instances.front());
  if (hasInstances) {
    const vision::InstanceObservation& observation = results.instances.front();
    s.picked = probeLabels(observation, faceRect);
    otherInstance = s.heldEnabled && !s.picked.empty() && otherInstanceIn(observation, s.picked);
    if (s.picked.empty()) s.picked = observation.allInstances;
    vision::Matte scaled;
    if (handler->scaledInstanceMask(observation, s.picked, scaled, error))
      renderMatte(scaled, W, H, s.mask.data());
    s.instanceMask = s.mask;
  }

  int64_t gated = 0;
  const bool hasPerson = !results.persons.empty();
  if (hasPerson) {
    const vision::Matte& person = results.persons.front();
    if (hasInstances) {
      const int64_t chin = truncated((1 - faceRect.y) * static_cast<double>(H));
      gated = personGate(W, H, s.mask.data(), s.instanceMask.data(), s.personWide.data(),
                         s.personMask.data(), s.componentIds.data(), person, settings.personRadius,
                         chin);
    } else {
      renderMatte(person, W, H, s.mask.data());
      imaging::dilateDisk(s.mask.data(), s.personWide.data(), W, H, settings.personRadius);
    }
  }

  if (s.heldEnabled && hasPerson && hasInstances) {
    const double trigger = settings.heldTrigger * static_cast<double>(s.pixels);
    if (otherInstance || trigger <= static_cast<double>(gated) ||
        trigger <= static_cast<double>(outsidePerson(s))) {
      header.held = addHeld(W, H, s.mask.data(), s.instanceMask.data(), s.heldMask.data(),
                            results.instances.front(), s.picked, *handler, &s.session,
                            settings.heldReach, settings.minShare);
    }
  }

  if (face) {
    const vision::Rect& r = face->boundingBox;
    header.face = {static_cast<float>(r.x), static_cast<float>(1 - (r.y + r.height)),
                   static_cast<float>(r.width), static_cast<float>(r.height)};
  }
  return header;
}

}  // namespace kestrel
