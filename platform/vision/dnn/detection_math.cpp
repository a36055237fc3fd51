#include "platform/vision/dnn/detection_math.h"

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

double sigmoid(double logit) { return 1.0 / (1.0 + std::exp(-std::clamp(logit, -100.0, 100.0))); }

}  // namespace kestrel::vision::dnn
