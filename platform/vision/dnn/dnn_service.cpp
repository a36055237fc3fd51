// The vision service on the oneDNN executor: one handler per picture runs the
// requested models on it, each reading the parts of the upright picture it
// needs at the size it needs.
#include <exception>
#include <optional>

#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>

#include "platform/vision/dnn/bgra_pixels.h"
#include "platform/vision/dnn/faces.h"
#include "platform/vision/dnn/hand_windows.h"
#include "platform/vision/dnn/hands.h"
#include "platform/vision/dnn/instances.h"
#include "platform/vision/dnn/model_files.h"
#include "platform/vision/dnn/model_image.h"
#include "platform/vision/dnn/objects.h"
#include "platform/vision/dnn/person_matte.h"
#include "platform/vision/dnn/rvm.h"
#include "platform/vision/dnn/slow_analyses.h"
#include "platform/vision/vision.h"

namespace kestrel::vision {
namespace {

class DnnHandler final : public Handler {
 public:
  DnnHandler(const Picture& picture, uint32_t orientation)
      : bgra_(std::make_unique<dnn::BgraPixels>(picture)), image_(*bgra_, orientation),
        empty_(!picture.data || picture.width <= 0 || picture.height <= 0) {}
  DnnHandler(PixelSource& pixels, uint32_t orientation)
      : image_(pixels, orientation), empty_(pixels.width() <= 0 || pixels.height() <= 0) {}

  bool perform(const Requests& r, Results& out, std::string& error) override {
    out = Results{};
    try {
      if (empty_) {
        error = "the picture has no pixels";
        return false;
      }
      const cv::Size size(image_.cols(), image_.rows());
      SlowAnalyses* kept = dnn::carriedAnalyses(r.session, size);
      // People first: where they stand, faces are looked for closely.
      const bool objects = r.humanRectangles || r.animals || r.classify;
      if (r.faceRectangles || r.faceLandmarks) {
        const std::vector<dnn::Corners>* people = objects ? &detected().likelyPeople : nullptr;
        dnn::Faces faces = kept ? dnn::followFaces(image_, r.faceLandmarks, people, *kept)
                                : dnn::analyseFaces(image_, r.faceLandmarks, people);
        mainFace_ = largestFaceCentre(faces.faces);
        if (r.faceRectangles) out.faces = std::move(faces.faces);
        if (r.faceLandmarks) out.landmarks = std::move(faces.landmarks);
      }
      if (objects) {
        const dnn::Objects& found = detected();
        if (r.humanRectangles) out.humans = dnn::humanObservations(found.people, image_.cols(), image_.rows());
        if (r.animals) out.animals = dnn::animalObservations(found.animals, image_.cols(), image_.rows());
        if (r.classify) out.classes = found.classes;
      }
      if (r.handPose) {
        const std::optional<std::vector<dnn::Corners>> people = handPeople(r, kept);
        out.hands = dnn::detectHands(image_, r.maximumHandCount, kept, people ? &*people : nullptr);
      }
      if (r.foregroundInstances) {
        const cv::Mat& matte = instancesMatte(r.session);
        const cv::Mat map = salient(kept, matte);  // first: the boxes wait while ISNet runs
        // Things are held by people: without anyone, neither is looked for.
        const bool someone = dnn::showsPerson(matte);
        const std::vector<dnn::Corners> boxes = someone ? people(kept) : std::vector<dnn::Corners>{};
        instances_ = dnn::segmentInstances(map, size, matte, boxes,
                                           someone ? heldThings(kept) : std::vector<dnn::Corners>{});
        out.instances.push_back(instances_.map.observation);
      }
      if (r.personSegmentation) {
        // Every level is the same video matting model at its own cost, so
        // each keeps the same people; with instances, their matte is the
        // person's too (one matte a frame, one recurrent state a stream).
        Matte matte = dnn::toMatte(r.foregroundInstances ? instancesMatte(r.session)
                                                         : videoMatte(r.session, dnn::videoMatteModel(r.personQuality)));
        if (!matte.pixels.empty()) out.persons.push_back(std::move(matte));
      }
      dnn::startLaterLoads();
      return true;
    } catch (const std::exception& e) {
      error = e.what();
      return false;
    }
  }

  bool scaledInstanceMask(const InstanceObservation&, const std::vector<uint8_t>& instances,
                          Matte& mask, std::string& error) override {
    try {
      mask = dnn::scaledInstanceMask(instances_, instances, image_.cols(), image_.rows());
      return true;
    } catch (const std::exception& e) {
      error = e.what();
      return false;
    }
  }

 private:
  // Where the palm detector looks closely: in a stream, around its main
  // person once the person boxes are made (the held step's hands are that
  // person's); in a picture on its own, around everyone the object detector
  // found, when people are asked for with the hands.
  std::optional<std::vector<dnn::Corners>> handPeople(const Requests& r, SlowAnalyses* kept) {
    if (kept) {
      if (!kept->people || kept->people->empty()) return std::nullopt;
      return std::vector<dnn::Corners>{dnn::mainPerson(*kept->people, mainFace_)};
    }
    if (!(r.humanRectangles || r.animals || r.classify)) return std::nullopt;
    std::vector<dnn::Corners> boxes;
    for (const dnn::Detection& d : detected().people) boxes.push_back(d.box);
    return boxes;
  }
  // The centre of the largest face, in picture pixels.
  std::optional<dnn::PixelPoint> largestFaceCentre(const std::vector<FaceObservation>& faces) const {
    const FaceObservation* best = nullptr;
    for (const FaceObservation& f : faces)
      if (!best || f.boundingBox.width * f.boundingBox.height > best->boundingBox.width * best->boundingBox.height)
        best = &f;
    if (!best) return std::nullopt;
    const Rect& b = best->boundingBox;
    return dnn::PixelPoint{(b.x + b.width / 2) * image_.cols(), (1 - b.y - b.height / 2) * image_.rows()};
  }

  // The instances' matte and the detector's objects are made at most once per
  // picture: the instances, the person request, the people and the faces'
  // closer look share them.
  const cv::Mat& instancesMatte(StreamSession* session) {
    if (!matte_) matte_ = videoMatte(session, dnn::instancesMatteModel());
    return *matte_;
  }
  // The matte of the picture scaled to the size it takes in the model's input.
  cv::Mat videoMatte(StreamSession* session, const dnn::VideoMatteModel& model) {
    return dnn::videoMatte(matteInput(model), session, model);
  }
  // The picture fitted into a matte model's input, made once: the levels'
  // models take one size, and the stream's change measure reads it too.
  const cv::Mat& matteInput(const dnn::VideoMatteModel& model) {
    const cv::Size inside = dnn::placeInside({image_.cols(), image_.rows()}, {model.width, model.height}).size();
    if (matteInput_.size() != inside) matteInput_ = image_.scaled(inside);
    return matteInput_;
  }
  // In a stream, ISNet's map and the person boxes may come from an earlier
  // frame (slow_analyses.h says when each is made anew). A stream's first
  // frames do not wait for ISNet, the longest load (see the README): until it
  // is ready they show people only, and each frame looks again.
  cv::Mat salient(SlowAnalyses* kept, const cv::Mat& matte) {
    const cv::Mat& thumb = changeThumbnail(kept);
    // The people's cells, made only when the change is measured or the map kept.
    std::optional<cv::Mat> cells;
    const auto people = [&] {
      if (!cells) cells = kept && !matte.empty() ? dnn::peopleCells(matte, dnn::kPersonMatteLevel) : cv::Mat();
      return *cells;
    };
    if (!dnn::salientMadeAnew(kept, thumb, people)) return kept->salient;
    if (kept && kept->salient.empty() && !dnn::salientModelReady())
      return cv::Mat::zeros(dnn::instanceSide(), dnn::instanceSide(), CV_32F);
    const int side = dnn::instanceSide();
    cv::Mat made = dnn::salientMap(image_.scaled({side, side}), side);
    if (kept) {
      kept->salient = made;
      kept->salientThumb = thumb;
      kept->salientPeople = people();
      kept->salientFrame = kept->frame;
    }
    return made;
  }
  // The people's boxes, in picture pixels.
  std::vector<dnn::Corners> people(SlowAnalyses* kept) {
    const cv::Mat& thumb = changeThumbnail(kept);
    if (!dnn::peopleMadeAnew(kept, thumb)) return *kept->people;
    std::vector<dnn::Corners> boxes;
    for (const dnn::Detection& d : detected().people) boxes.push_back(d.box);
    if (kept) {
      kept->people = boxes;
      kept->heldThings = detected().heldThings;
      kept->peopleThumb = thumb;
      kept->peopleFrame = kept->frame;
    }
    return boxes;
  }
  // The things people hold, in picture pixels: in a stream those found with
  // the person boxes, so asked for after them.
  std::vector<dnn::Corners> heldThings(const SlowAnalyses* kept) {
    return kept ? kept->heldThings : detected().heldThings;
  }
  // The stream's change measure of this picture, made once; none without a stream.
  const cv::Mat& changeThumbnail(const SlowAnalyses* kept) {
    if (kept && thumb_.empty()) thumb_ = dnn::changeThumbnail(matteInput(dnn::instancesMatteModel()));
    return thumb_;
  }
  const dnn::Objects& detected() {
    if (!objects_) objects_ = dnn::detectObjects(image_);
    return *objects_;
  }

  std::unique_ptr<dnn::BgraPixels> bgra_;  // when made on a BGRA picture
  dnn::ModelImage image_;
  bool empty_;
  std::optional<cv::Mat> matte_;
  cv::Mat matteInput_;
  cv::Mat thumb_;
  std::optional<dnn::Objects> objects_;
  std::optional<dnn::PixelPoint> mainFace_;  // the largest face's centre, once faces are looked for
  dnn::Instances instances_;
};

class DnnService final : public Service {
 public:
  DnnService() {
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    // OpenCV's own pool would contend with the executor's OpenMP threads, which
    // keep spinning between runs (the README gives the cutout frame's gain).
    cv::setNumThreads(1);
  }
  std::string description() const override { return "onednn faces humans animals hands"; }
  std::unique_ptr<Handler> handler(const Picture& picture, uint32_t orientation) override {
    return std::make_unique<DnnHandler>(picture, orientation);
  }
  std::unique_ptr<Handler> handler(PixelSource& pixels, uint32_t orientation) override {
    return std::make_unique<DnnHandler>(pixels, orientation);
  }
  void prepare(const Requests& r) override {
    const bool objects = r.humanRectangles || r.animals || r.classify || r.foregroundInstances;
    // The models load one after another, what a first frame waits for first;
    // ISNet (which frames do not wait for) and the held step's hands (asked
    // for after the frame's own requests) wait until the first picture is
    // analysed, so that its runs have the cores.
    if (r.foregroundInstances) dnn::prepareVideoMatte(dnn::instancesMatteModel());
    if (r.personSegmentation && !r.foregroundInstances) dnn::prepareVideoMatte(dnn::videoMatteModel(r.personQuality));
    if (objects) dnn::prepareObjects();
    if (r.faceRectangles || r.faceLandmarks) dnn::prepareFaces(r.faceLandmarks);
    if (r.handPose) dnn::prepareHands(r.foregroundInstances ? dnn::LoadTurn::AfterFirstPicture : dnn::LoadTurn::Now);
    if (r.foregroundInstances) dnn::prepareInstances();
  }
};

}  // namespace

Service& service() {
  static DnnService instance;
  return instance;
}

}  // namespace kestrel::vision
