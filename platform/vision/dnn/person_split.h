#pragma once
// People from a person matte: one instance per person. Pure pixel logic.
#include <vector>

#include <opencv2/core.hpp>

#include "platform/vision/dnn/detection_geometry.h"

namespace kestrel::vision::dnn {

struct PersonSplitSettings {
  int minArea = 1;        // smaller components are nobody
  double boxFill = 0.15;  // share of a box that its component must fill for the box to count
};

// Writes person ids into `ids` (CV_32S, the size of `isPerson`), counting up
// from `next`, and returns the next free id. `isPerson` (CV_8U, nonzero =
// person) is split into 8-connected components; a component of at least
// minArea pixels is one person, unless two or more distinct person boxes
// (corners in map pixels, top-left origin) fit it: then each of its pixels
// goes to the box it lies deepest in (the least distance from the box's
// centre in units of the box's half sides), so people standing together come
// apart where their boxes meet. A box fits the component that fills most of
// it, when that fill reaches boxFill; a box mostly inside a larger one fitting
// the same component, with about the same top and centre, is the same person
// seen twice (upper body and whole) and does not count. Ids of a split
// component may end up with no pixels.
int splitPeople(const cv::Mat& isPerson, const std::vector<Corners>& boxes,
                const PersonSplitSettings& settings, cv::Mat& ids, int next);

}  // namespace kestrel::vision::dnn
