#include "platform/vision/dnn/detection_geometry.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace kestrel::vision::dnn {

double intersectionOverUnion(const Corners& a, const Corners& b) {
  const double w = std::min(a.x1, b.x1) - std::max(a.x0, b.x0);
  const double h = std::min(a.y1, b.y1) - std::max(a.y0, b.y0);
  if (w <= 0 || h <= 0) return 0;
  const double inter = w * h;
  const double uni = (a.x1 - a.x0) * (a.y1 - a.y0) + (b.x1 - b.x0) * (b.y1 - b.y0) - inter;
  return uni > 0 ? inter / uni : 0;
}

std::vector<size_t> suppressOverlaps(const std::vector<Corners>& boxes,
                                     const std::vector<float>& scores, double maxOverlap,
                                     size_t limit) {
  std::vector<size_t> order(boxes.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return scores[a] > scores[b]; });
  std::vector<size_t> kept;
  for (size_t i : order) {
    if (limit && kept.size() == limit) break;
    bool overlaps = std::any_of(kept.begin(), kept.end(), [&](size_t k) {
      return intersectionOverUnion(boxes[i], boxes[k]) > maxOverlap;
    });
    if (!overlaps) kept.push_back(i);
  }
  return kept;
}

Letterbox Letterbox::fit(int width, int height, int side) {
  Letterbox l;
  l.side = side;
  l.width = width;
  l.height = height;
  const double k = static_cast<double>(side) / std::max(width, height);
  l.innerWidth = std::clamp(static_cast<int>(std::lround(width * k)), 1, side);
  l.innerHeight = std::clamp(static_cast<int>(std::lround(height * k)), 1, side);
  l.offsetX = (side - l.innerWidth) / 2;
  l.offsetY = (side - l.innerHeight) / 2;
  return l;
}

double lineAngle(PixelPoint from, PixelPoint to) { return std::atan2(to.y - from.y, to.x - from.x); }

PixelPoint CropTransform::toPicture(PixelPoint q) const {
  const double det = a * d - b * c;
  const double x = q.x - tx, y = q.y - ty;
  return {(d * x - b * y) / det, (-c * x + a * y) / det};
}

double CropTransform::pictureScale() const { return 1.0 / std::sqrt(std::abs(a * d - b * c)); }

std::array<double, 6> CropTransform::warpAtPixelCentres() const {
  // Picture pixel centre p + 0.5 goes through the map, then back 0.5 to the crop's pixel.
  return {a, b, a * 0.5 + b * 0.5 + tx - 0.5, c, d, c * 0.5 + d * 0.5 + ty - 0.5};
}

CropTransform cropTransform(const RotatedCrop& crop, int size) {
  const double s = size / crop.side;
  const double cs = std::cos(crop.angle) * s, sn = std::sin(crop.angle) * s;
  // Rotate by -angle about the centre, scale, then move the centre to the crop's middle.
  CropTransform t{cs, sn, -sn, cs, 0, 0};
  if (crop.mirror) {
    t.a = -t.a;
    t.b = -t.b;
  }
  t.tx = size / 2.0 - (t.a * crop.centre.x + t.b * crop.centre.y);
  t.ty = size / 2.0 - (t.c * crop.centre.x + t.d * crop.centre.y);
  return t;
}

}  // namespace kestrel::vision::dnn
