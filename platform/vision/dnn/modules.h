#pragma once
// The models behind the vision service. Each module sees the handler's picture
// turned upright, as 8-bit BGR with the top row first, and reports in the
// service's coordinates (normalised, origin at the lower left). A module
// throws std::exception when its model cannot be loaded or run.
#include <vector>

#include <opencv2/core.hpp>

#include "platform/vision/vision.h"

namespace kestrel::vision::dnn {

// faces.cpp: one detector pass gives the faces with their head angles and,
// when asked, their eyes and pupils.
struct Faces {
  std::vector<FaceObservation> faces;
  std::vector<LandmarksObservation> landmarks;
};
Faces analyseFaces(const cv::Mat& bgr, bool landmarks);

// objects.cpp: one detector pass gives people, animals and image labels.
struct Objects {
  std::vector<HumanObservation> humans;
  std::vector<AnimalObservation> animals;
  std::vector<Classification> classes;
};
Objects detectObjects(const cv::Mat& bgr);

// hands.cpp
std::vector<HandObservation> detectHands(const cv::Mat& bgr, int maximumHandCount);

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
