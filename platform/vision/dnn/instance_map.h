#pragma once
// Foreground instances from a person matte and a soft salient map: pure pixel
// logic, no models.
#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

#include "platform/vision/dnn/detection_geometry.h"
#include "platform/vision/observations.h"

namespace kestrel::vision::dnn {

struct InstanceSettings {
  float threshold = 0.5f;    // salient values at or above this are foreground
  double minShare = 0.002;   // smallest instance, as a share of the map's pixels
  int personLevel = 128;     // person matte value from which a pixel is a person's
  int rimRadius = 2;         // salient edges this thin around a person make no object
  int objectLevel = 40;      // an object must average below this in the person matte
  double boxFill = 0.15;     // share of a person box the matte must fill for the box to count
  double thingFound = 0.1;   // share of a thing's box an instance inside it fills when it is the thing
};

// The smallest instance in pixels of a map of the given size (at least 1).
int minimumArea(const cv::Size& size, const InstanceSettings& settings);

// The label map, which of its instances are people and which are things the
// object detector found (heldThings).
struct InstanceMap {
  InstanceObservation observation;
  std::vector<uint8_t> people;  // ascending
  std::vector<uint8_t> things;  // ascending
};

// Labels a map of instances 1..255. People come from the person matte
// (`person`, CV_8U, may be empty): one instance per person, split where person
// boxes (map pixels, top-left origin) show several people in one piece of
// matte. Everything else comes from the thresholded salient map (`salient`,
// CV_32F 0..1, may be empty) less the people: its connected pieces, where the
// thin rim a salient outline leaves around a person is no object and a piece
// the matte half calls a person is none either. Pieces smaller than the
// minimum area are dropped. Last, each of the `thingBoxes` (map pixels: a
// held bottle or glass the salient map missed) is an instance of what in its
// box is neither a person nor an instance yet. Labels are numbered in the
// order their first pixel appears row by row; past 255 instances the smallest
// are dropped. Both maps, when given, have the same size.
InstanceMap labelInstances(const cv::Mat& salient, const cv::Mat& person,
                           const std::vector<Corners>& personBoxes = {},
                           const std::vector<Corners>& thingBoxes = {},
                           const InstanceSettings& settings = {});

// What scaled masks are cut from: the person matte for people and the salient
// map for everything else, each at its own size covering the whole picture,
// CV_8U 0..255 or CV_32F 0..1 (either may be empty).
struct SoftMaps {
  cv::Mat person;
  cv::Mat salient;
};

// The chosen instances' soft mask scaled to width x height, 0..255: each
// instance's soft map (the matte for people, the salient map for objects, the
// whole box's part for things) on the instance and a rim of `rimRadius` map
// pixels around it. Pixels whose nearest map pixel lies outside that region
// (background further out, every instance not chosen) are 0; an empty or
// unknown set gives an all-zero mask.
Matte scaledChosenMask(const SoftMaps& soft, const InstanceMap& map, const std::vector<uint8_t>& chosen,
                       int width, int height, const InstanceSettings& settings = {});

}  // namespace kestrel::vision::dnn
