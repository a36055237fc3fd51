// The vision service on the oneDNN executor: one handler per picture turns it
// upright once and runs the requested models on it.
#include <exception>
#include <optional>

#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgproc.hpp>

#include "platform/vision/dnn/modules.h"
#include "platform/vision/dnn/person_matte.h"
#include "platform/vision/dnn/rvm.h"
#include "platform/vision/vision.h"

namespace kestrel::vision {
namespace {

// The picture as upright BGR: EXIF orientations 1, 3, 6 and 8 are turns.
cv::Mat uprightBgr(const Picture& p, uint32_t orientation) {
  cv::Mat bgra(static_cast<int>(p.height), static_cast<int>(p.width), CV_8UC4,
               const_cast<uint8_t*>(p.data), static_cast<size_t>(p.stride));
  cv::Mat bgr;
  cv::cvtColor(bgra, bgr, cv::COLOR_BGRA2BGR);
  switch (orientation) {
    case 3: cv::rotate(bgr, bgr, cv::ROTATE_180); break;
    case 6: cv::rotate(bgr, bgr, cv::ROTATE_90_CLOCKWISE); break;
    case 8: cv::rotate(bgr, bgr, cv::ROTATE_90_COUNTERCLOCKWISE); break;
    default: break;
  }
  return bgr;
}

class DnnHandler final : public Handler {
 public:
  DnnHandler(const Picture& picture, uint32_t orientation)
      : picture_(picture), orientation_(orientation) {}

  bool perform(const Requests& r, Results& out, std::string& error) override {
    out = Results{};
    try {
      if (!picture_.data || picture_.width <= 0 || picture_.height <= 0) {
        error = "the picture has no pixels";
        return false;
      }
      const cv::Mat& bgr = upright();
      if (r.faceRectangles || r.faceLandmarks) {
        dnn::Faces faces = dnn::analyseFaces(bgr, r.faceLandmarks);
        if (r.faceRectangles) out.faces = std::move(faces.faces);
        if (r.faceLandmarks) out.landmarks = std::move(faces.landmarks);
      }
      if (r.humanRectangles || r.animals || r.classify) {
        const dnn::Objects& objects = detected();
        if (r.humanRectangles) out.humans = objects.humans;
        if (r.animals) out.animals = objects.animals;
        if (r.classify) out.classes = objects.classes;
      }
      if (r.handPose) out.hands = dnn::detectHands(bgr, r.maximumHandCount);
      if (r.foregroundInstances) {
        const cv::Mat& matte = accurateMatte(r.personSession);
        instances_ = dnn::segmentInstances(bgr, matte, dnn::showsPerson(matte) ? detected().humans
                                                                              : std::vector<HumanObservation>{});
        out.instances.push_back(instances_.map.observation);
      }
      if (r.personSegmentation) {
        Matte matte = r.personQuality == PersonQuality::Accurate ? dnn::toMatte(accurateMatte(r.personSession))
                                                                 : dnn::segmentPerson(bgr, r.personQuality);
        if (!matte.pixels.empty()) out.persons.push_back(std::move(matte));
      }
      return true;
    } catch (const std::exception& e) {
      error = e.what();
      return false;
    }
  }

  bool scaledInstanceMask(const InstanceObservation&, const std::vector<uint8_t>& instances,
                          Matte& mask, std::string& error) override {
    try {
      const cv::Mat& bgr = upright();
      mask = dnn::scaledInstanceMask(instances_, instances, bgr.cols, bgr.rows);
      return true;
    } catch (const std::exception& e) {
      error = e.what();
      return false;
    }
  }

 private:
  const cv::Mat& upright() {
    if (bgr_.empty()) bgr_ = uprightBgr(picture_, orientation_);
    return bgr_;
  }

  // The accurate matte and the detector's objects are made at most once per
  // picture: the instances, the person request and the people share them.
  const cv::Mat& accurateMatte(PersonSession* session) {
    if (!matte_) matte_ = dnn::videoMatte(upright(), session);
    return *matte_;
  }
  const dnn::Objects& detected() {
    if (!objects_) objects_ = dnn::detectObjects(upright());
    return *objects_;
  }

  Picture picture_;
  uint32_t orientation_;
  cv::Mat bgr_;
  std::optional<cv::Mat> matte_;
  std::optional<dnn::Objects> objects_;
  dnn::Instances instances_;
};

class DnnService final : public Service {
 public:
  DnnService() { cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT); }
  std::string description() const override { return "onednn faces humans animals hands"; }
  std::unique_ptr<Handler> handler(const Picture& picture, uint32_t orientation) override {
    return std::make_unique<DnnHandler>(picture, orientation);
  }
};

}  // namespace

Service& service() {
  static DnnService instance;
  return instance;
}

}  // namespace kestrel::vision
