#pragma once
// The models behind the vision service. Each module sees the handler's picture
// turned upright, as 8-bit BGR with the top row first (the detectors through
// ModelImage, in the parts and sizes they need), and reports in the service's
// coordinates (normalised, origin at the lower left). A module throws
// std::exception when its model cannot be loaded or run.
#include <vector>

#include <opencv2/core.hpp>

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
Faces analyseFaces(ModelImage& image, bool landmarks, const std::vector<Corners>* people);

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

// hands.cpp
std::vector<HandObservation> detectHands(ModelImage& image, int maximumHandCount);

// person.cpp: an 8-bit matte at the model's own size.
Matte segmentPerson(const cv::Mat& bgr, PersonQuality quality);

// instances.cpp: the instance map and what the handler keeps to make scaled masks.
struct Instances {
  InstanceObservation observation;
  cv::Mat salient;  // the soft foreground map the instances were cut from
};
Instances segmentInstances(const cv::Mat& bgr);
// The soft mask of the chosen instances over a width x height picture.
Matte scaledInstanceMask(const Instances& instances, const std::vector<uint8_t>& chosen,
                         int width, int height);

}  // namespace kestrel::vision::dnn
