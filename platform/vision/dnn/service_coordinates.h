#pragma once
// The service's coordinates: normalised to 0..1 across the picture, origin at
// the lower left, y up. The modules work in picture pixels (top-left origin,
// y down) and turn what they report into these only as the results.
#include "platform/vision/dnn/detection_geometry.h"
#include "platform/vision/observations.h"

namespace kestrel::vision::dnn {

// A picture-pixel box of a width x height picture.
Rect normalisedRect(const Corners& box, int width, int height);

// A picture-pixel point of a width x height picture.
Point normalisedPoint(PixelPoint p, int width, int height);

// A picture-pixel point within a picture-pixel box (x, y, w, h): 0..1 across
// the box, origin at its lower left.
Point normalisedInBox(PixelPoint p, double x, double y, double w, double h);

}  // namespace kestrel::vision::dnn
