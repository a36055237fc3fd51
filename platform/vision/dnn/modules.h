#pragma once
// The models behind the vision service. Each module sees the handler's picture
// turned upright, as 8-bit BGR with the top row first (the detectors through
// ModelImage, in the parts and sizes they need), and reports in the service's
// coordinates (normalised, origin at the lower left). A module throws
// std::exception when its model cannot be loaded or run.
#include <vector>

#include <opencv2/core.hpp>

#include "platform/vision/dnn/instance_map.h"
#include "platform/vision/dnn/model_image.h"
#include "platform/vision/vision.h"

namespace kestrel::vision::dnn {

// faces.cpp: the faces with their head angles and, when asked, their eyes and
// pupils. Given the people found in the picture, the detector looks closely
// at their heads; without, at tiles of a large picture.
struct Faces {
  std::vector<FaceObservation> faces;
  std::vector<LandmarksObservation> landmarks;
};
// Where the tiles look: always, or only where the whole picture shows no face
// (a live stream, whose subject is near the camera and whose smaller faces
// further off are not asked for: a 1280 x 720 cutout frame's two tiles took
// 20 of its 160 ms).
enum class CloserLook { Always, WhereNoFace };
Faces analyseFaces(ModelImage& image, bool landmarks, const std::vector<Corners>* people, CloserLook look);

// Each module's prepare function starts loading the models its analyses need
// on threads of their own (loadModelSoon), so that a stream's first frame
// does not wait for them one after another.
void prepareFaces(bool landmarks);
void prepareObjects();
void prepareHands();
void preparePerson(PersonQuality quality);  // fast and balanced
void prepareInstances();

// objects.cpp: one detector pass gives people, animals and image labels.
struct Objects {
  std::vector<HumanObservation> humans;
  std::vector<AnimalObservation> animals;
  std::vector<Classification> classes;
  // Where people may be, down to weak peaks that are not reported as people
  // (a head without a body): picture pixels, for the faces' closer look.
  std::vector<Corners> likelyPeople;
};
Objects detectObjects(ModelImage& image);

// hands.cpp: in a stream (`kept` from currentFrame, else null) the hands of
// the frame before are followed between the palm detector's turns.
std::vector<HandObservation> detectHands(ModelImage& image, int maximumHandCount, SlowAnalyses* kept);

// person.cpp: the fast (Meet) and balanced (Selfie) mattes, 8-bit at the
// model's own size. The accurate matte is videoMatte (rvm.h).
Matte segmentPerson(const cv::Mat& bgr, PersonQuality quality);

// instances.cpp: the instance map of a picture of size `picture` and what the
// handler keeps to make scaled masks. People come from `matte` (the accurate
// matte, CV_32F, may be empty), split by the `people` boxes; everything else
// from ISNet's `salient` map (salientMap at instanceSide()).
struct Instances {
  InstanceMap map;
  SoftMaps soft;
};
Instances segmentInstances(const cv::Mat& salient, const cv::Size& picture, const cv::Mat& matte,
                           const std::vector<HumanObservation>& people);
// The soft mask of the chosen instances over a width x height picture.
Matte scaledInstanceMask(const Instances& instances, const std::vector<uint8_t>& chosen,
                         int width, int height);
// Whether a matte (CV_32F) shows anyone: only then are person boxes worth finding.
bool showsPerson(const cv::Mat& matte);
// ISNet's salient map (CV_32F 0..1, side x side) of the picture squashed to
// a square; isnet_<side>.onnx must be installed. instanceSide() is the side
// the instances are made at.
cv::Mat salientMap(const cv::Mat& bgr, int side);
int instanceSide();
// Whether ISNet at instanceSide() has finished loading (or failed to); starts
// the load when nothing has yet.
bool salientModelReady();

}  // namespace kestrel::vision::dnn
