#pragma once
// Foreground instances: the people from the accurate person matte, one
// instance per person, and everything else from ISNet's salient map less the
// people.
#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

#include "platform/vision/dnn/detection_geometry.h"
#include "platform/vision/dnn/instance_map.h"
#include "platform/vision/observations.h"

namespace kestrel::vision::dnn {

// The instance map of a picture of size `picture` and what the handler keeps
// to make scaled masks.
struct Instances {
  InstanceMap map;
  SoftMaps soft;
};

// People come from `matte` (the accurate matte, CV_32F, may be empty), split
// by the `people` boxes (picture pixels); objects from ISNet's `salient` map
// (salientMap at instanceSide()); then things people hold from the detector's
// `things` boxes (picture pixels), where neither shows anything.
Instances segmentInstances(const cv::Mat& salient, const cv::Size& picture, const cv::Mat& matte,
                           const std::vector<Corners>& people, const std::vector<Corners>& things);
// The soft mask of the chosen instances over a width x height picture.
Matte scaledInstanceMask(const Instances& instances, const std::vector<uint8_t>& chosen, int width, int height);
// The matte value (0..1) from which a pixel is a person's, as the instances take it.
constexpr float kPersonMatteLevel = static_cast<float>(InstanceSettings{}.personLevel) / 255;
// Whether a matte (CV_32F) shows anyone: only then are person boxes worth finding.
bool showsPerson(const cv::Mat& matte);

// ISNet's salient map (CV_32F 0..1, side x side) of the picture squashed to
// a square; isnet_<side>.onnx must be installed. instanceSide() is the side
// the instances are made at.
cv::Mat salientMap(const cv::Mat& bgr, int side);
int instanceSide();
// Starts loading ISNet at instanceSide() once the first picture is analysed
// (see loadSoon: a stream's frames do not wait for it); whether it has
// finished loading (or failed to), starting the load when nothing has yet.
void prepareInstances();
bool salientModelReady();

}  // namespace kestrel::vision::dnn
