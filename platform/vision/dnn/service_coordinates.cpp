#include "platform/vision/dnn/service_coordinates.h"

namespace kestrel::vision::dnn {

Rect normalisedRect(const Corners& b, int width, int height) {
  return {b.x0 / width, 1.0 - b.y1 / height, (b.x1 - b.x0) / width, (b.y1 - b.y0) / height};
}

Point normalisedPoint(PixelPoint p, int width, int height) { return {p.x / width, 1.0 - p.y / height}; }

Point normalisedInBox(PixelPoint p, double x, double y, double w, double h) {
  return {(p.x - x) / w, (y + h - p.y) / h};
}

}  // namespace kestrel::vision::dnn
