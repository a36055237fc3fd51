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
#include "probe/cutout/person_gate.h"
#include "probe/cutout/pick_instances.h"

namespace kestrel {
namespace {

constexpr const CutoutSettings& settings = kCutoutSettings;
constexpr std::array<float, 4> kNoFace{-1, -1, -1, -1};

vision::Requests frameRequests(vision::StreamSession* session) {
  vision::Requests requests;
  requests.foregroundInstances = true;
  requests.faceRectangles = true;
  requests.personSegmentation = true;
  requests.personQuality = vision::PersonQuality::Accurate;
  requests.session = session;
  return requests;
}

// The largest face; on equal areas the earlier one.
const vision::FaceObservation* largestFace(const std::vector<vision::FaceObservation>& faces) {
  const vision::FaceObservation* best = nullptr;
  for (const auto& f : faces)
    if (!best || f.boundingBox.width * f.boundingBox.height >
                     best->boundingBox.width * best->boundingBox.height)
      best = &f;
  return best;
}

// The face's box in the header: position and size from the top left.
std::array<float, 4> faceBox(const vision::FaceObservation* face) {
  if (!face) return kNoFace;
  const vision::Rect& r = face->boundingBox;
  return {static_cast<float>(r.x), static_cast<float>(1 - (r.y + r.height)), static_cast<float>(r.width),
          static_cast<float>(r.height)};
}

// The first instance observation, when its label map covers its size.
const vision::InstanceObservation* instancesOf(const vision::Results& results) {
  if (results.instances.empty() || !vision::view(results.instances.front()).data) return nullptr;
  return &results.instances.front();
}

// Picks the instances that make up the person (all of them when none lies
// under the face), renders them as the mask and keeps that as instanceMask.
// Returns whether another object is in the frame.
bool addPickedInstances(CutoutStream& s, vision::Handler& handler,
                        const vision::InstanceObservation& observation, const vision::Rect& faceRect) {
  InstancePick pick = pickInstances(observation, faceRect, s.heldEnabled);
  s.picked = pick.picked.empty() ? observation.allInstances : std::move(pick.picked);
  // A mask the service cannot make leaves the instances out of this frame:
  // the mask stays empty and the stream goes on, as with no instances.
  vision::Matte scaled;
  std::string error;
  if (handler.scaledInstanceMask(observation, s.picked, scaled, error))
    imaging::scaleMatte(vision::view(scaled), s.maskPlane());
  s.instanceMask = s.mask;
  return pick.otherInstance;
}

// Gates the instances by the person; without instances the person matte
// itself is the mask. Returns the gate's cut count.
int64_t gateByPerson(CutoutStream& s, const vision::Matte& person, bool hasInstances,
                     const vision::Rect& faceRect) {
  if (hasInstances) {
    const int64_t chin = truncated((1 - faceRect.y) * static_cast<double>(s.height));
    return personGate(s.gateMaps(), person, settings.personRadius, chin);
  }
  imaging::scaleMatte(vision::view(person), s.maskPlane());
  imaging::dilateDisk(s.maskPlane(), greyPlane(s.personWide.data(), s.width, s.height), settings.personRadius);
  return 0;
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

// Whether the held step runs: another object is in the frame, the gate cut a
// lot, or the mask strays outside the person.
bool heldStepRuns(const CutoutStream& s, bool otherInstance, int64_t gated) {
  const double trigger = settings.heldTrigger * static_cast<double>(s.pixels);
  return otherInstance || trigger <= static_cast<double>(gated) ||
         trigger <= static_cast<double>(outsidePerson(s));
}

}  // namespace

GateMaps CutoutStream::gateMaps() {
  return GateMaps{maskPlane(), greyPlane(instanceMask.data(), width, height),
                  greyPlane(personWide.data(), width, height), greyPlane(personMask.data(), width, height),
                  componentIds};
}

HeldMaps CutoutStream::heldMaps() {
  return HeldMaps{maskPlane(), greyPlane(instanceMask.data(), width, height),
                  greyPlane(heldMask.data(), width, height)};
}

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

void prepareCutout(bool heldEnabled, vision::Service& service) {
  vision::Requests all = frameRequests(nullptr);
  all.handPose = heldEnabled;  // the held step's
  service.prepare(all);
}

FrameHeader cutoutAnalyse(CutoutStream& s, vision::Service& service) {
  auto handler = service.handler(s.framePicture(), 1);
  vision::Results results;
  std::string error;
  if (!handler->perform(frameRequests(&s.session), results, error)) fail("Vision: " + error);

  const vision::FaceObservation* face = largestFace(results.faces);
  const vision::Rect faceRect = face ? face->boundingBox : settings.defaultFace;
  std::fill(s.mask.begin(), s.mask.end(), 0);
  const vision::InstanceObservation* instances = instancesOf(results);
  const bool otherInstance = instances && addPickedInstances(s, *handler, *instances, faceRect);
  const vision::Matte* person = results.persons.empty() ? nullptr : &results.persons.front();
  const int64_t gated = person ? gateByPerson(s, *person, instances != nullptr, faceRect) : 0;

  FrameHeader header{faceBox(face), kNoHeldBox};
  if (s.heldEnabled && instances && person && heldStepRuns(s, otherInstance, gated))
    header.held = addHeld(s.heldMaps(), *instances, s.picked, *handler, &s.session);
  return header;
}

}  // namespace kestrel
