#pragma once
// Foreground instances from a soft salient map: pure pixel logic, no models.
#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

#include "platform/vision/observations.h"

namespace kestrel::vision::dnn {

struct InstanceSettings {
  float threshold = 0.5f;      // salient values at or above this are foreground
  double minShare = 0.002;     // smallest instance, as a share of the map's pixels
  int personLevel = 128;       // person matte value from which a pixel is the person's
  int rimRadius = 2;           // matte edges wider than this do not make objects of their own
  int objectLevel = 40;        // a split-off piece must average below this in every matte
};

// The smallest instance in pixels of a map of the given size (at least 1).
int minimumArea(const cv::Size& size, const InstanceSettings& settings);

// Labels the thresholded salient map (CV_32F, 0..1) into instances 1..255 by
// connected components, dropping components smaller than the minimum area.
// When `person` (CV_8U, same size, may be empty) shows that a component holds
// both a person and something else, the solid parts away from the person
// become instances of their own. Person models also answer "person" for cats
// and cups, so a part is split off only when `check` (a second matte of the
// same size, may be empty) agrees that it is no person either. Labels are
// numbered in the order their first pixel appears row by row; past 255
// instances the smallest are dropped.
InstanceObservation labelInstances(const cv::Mat& salient, const cv::Mat& person,
                                   const cv::Mat& check = cv::Mat(),
                                   const InstanceSettings& settings = {});

// The chosen instances' soft mask scaled to width x height, 0..255: the
// salient map's values on the chosen instances and a rim of `rimRadius` map
// pixels around them. Pixels whose nearest map pixel lies outside that region
// (background further out, every other instance) are 0; an empty or unknown
// set gives an all-zero mask.
Matte scaledChosenMask(const cv::Mat& salient, const InstanceObservation& map,
                       const std::vector<uint8_t>& chosen, int width, int height,
                       const InstanceSettings& settings = {});

}  // namespace kestrel::vision::dnn
