#pragma once
// The vision service: requests performed together on one picture, as a
// handler made for that picture runs them.
#include <memory>
#include <string>
#include <vector>

#include "platform/picture.h"
#include "platform/pixel_source.h"
#include "platform/vision/observations.h"

namespace kestrel::vision {

enum class PersonQuality { Accurate = 0, Balanced = 1, Fast = 2 };

// What a stream carries from one frame to the next. A stream owns one for its
// whole run, calls beginFrame() when a new frame comes in, and passes it with
// every request it makes on that frame; a new one starts from nothing, and
// requests without one treat the picture on its own. Its contents are the
// service's.
struct SlowAnalyses;
struct MatteState;
struct StreamSession {
  // The frame the next requests belong to; the analyses taken over from
  // earlier frames count their turns by it.
  void beginFrame();

  // The person matte's recurrent state (a video matting model's), kept in
  // the model's own buffers while no other stream or picture runs it.
  std::shared_ptr<MatteState> matteState;
  // The slower analyses that later frames take over for a few frames.
  std::shared_ptr<SlowAnalyses> carried;
};

// Which requests to perform, with their settings.
struct Requests {
  bool faceRectangles = false;
  bool faceLandmarks = false;
  bool humanRectangles = false;
  bool animals = false;
  bool handPose = false;
  bool classify = false;
  bool foregroundInstances = false;
  bool personSegmentation = false;
  int maximumHandCount = 2;
  PersonQuality personQuality = PersonQuality::Accurate;
  // The stream the picture belongs to, for the accurate matte (person
  // segmentation and the people among the foreground instances) and the
  // foreground instances; may be null.
  StreamSession* session = nullptr;
};

// Each request's observations, in the service's order. A request that was not
// performed, or found nothing, leaves its list empty.
struct Results {
  std::vector<FaceObservation> faces;
  std::vector<LandmarksObservation> landmarks;
  std::vector<HumanObservation> humans;
  std::vector<AnimalObservation> animals;
  std::vector<HandObservation> hands;
  std::vector<Classification> classes;
  std::vector<InstanceObservation> instances;
  std::vector<Matte> persons;
};

// Made on one picture; every request it performs sees that picture, turned
// upright by the EXIF-style orientation it was made with.
class Handler {
 public:
  virtual ~Handler() = default;
  // Runs the requests synchronously. On failure returns false and sets error.
  virtual bool perform(const Requests& requests, Results& results, std::string& error) = 0;
  // The soft mask of the given instances of an instance observation this
  // handler produced, covering the handler's whole picture (0..255, top row
  // first). An empty or unknown set gives an all-zero mask.
  virtual bool scaledInstanceMask(const InstanceObservation& observation,
                                  const std::vector<uint8_t>& instances, Matte& mask,
                                  std::string& error) = 0;
};

class Service {
 public:
  virtual ~Service() = default;
  // The engine word and the analyses, for the "vision" text of the info line.
  virtual std::string description() const = 0;
  // The picture must stay alive and unchanged while the handler is used.
  virtual std::unique_ptr<Handler> handler(const Picture& picture, uint32_t orientation) = 0;
  // The same on a picture held in another form (a decoded video frame),
  // which the models read in parts and at the sizes they need.
  virtual std::unique_ptr<Handler> handler(PixelSource& pixels, uint32_t orientation) = 0;
  // Starts getting ready for these requests (loading their models) without
  // waiting, so that a stream's first frame waits less.
  virtual void prepare(const Requests&) {}
};

// The service of this build.
Service& service();

}  // namespace kestrel::vision
