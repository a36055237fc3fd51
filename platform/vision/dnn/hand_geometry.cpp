#include "platform/vision/dnn/hand_geometry.h"

#include <algorithm>
#include <cmath>

namespace kestrel::vision::dnn {
std::vector<Point> palmAnchors() {
  std::vector<Point> anchors;
  anchors.reserve(2016);
  for (auto [cells, perCell] : {std::pair{24, 2}, std::pair{12, 6}})
    for (int y = 0; y < cells; ++y)
      for (int x = 0; x < cells; ++x)
        for (int a = 0; a < perCell; ++a)
          anchors.push_back({(x + 0.5) / cells, (y + 0.5) / cells});
  return anchors;
}

std::vector<Palm> decodePalms(const float* regressors, const float* logits,
                              const std::vector<Point>& anchors, float minScore) {
  std::vector<Palm> palms;
  for (size_t i = 0; i < anchors.size(); ++i) {
    const float score = static_cast<float>(sigmoid(logits[i]));
    if (!(score >= minScore)) continue;
    const float* r = regressors + i * kPalmValues;
    const Point a = anchors[i];
    const double cx = a.x + r[0] / kPalmInput, cy = a.y + r[1] / kPalmInput;
    const double w = r[2] / kPalmInput, h = r[3] / kPalmInput;
    Palm p;
    p.score = score;
    p.box = {cx - w / 2, cy - h / 2, cx + w / 2, cy + h / 2};
    for (int k = 0; k < 7; ++k)
      p.keypoints[k] = {a.x + r[4 + 2 * k] / kPalmInput, a.y + r[5 + 2 * k] / kPalmInput};
    palms.push_back(p);
  }
  return palms;
}

std::vector<Palm> mergePalms(const std::vector<Palm>& palms, double maxOverlap, size_t limit) {
  std::vector<Palm> rest = palms;
  std::stable_sort(rest.begin(), rest.end(), [](const Palm& a, const Palm& b) { return a.score > b.score; });
  std::vector<Palm> merged;
  while (!rest.empty() && (limit == 0 || merged.size() < limit)) {
    const Corners top = rest.front().box;
    Palm sum;
    sum.score = rest.front().score;
    sum.box = {0, 0, 0, 0};
    double weight = 0;
    std::vector<Palm> left;
    for (const Palm& p : rest) {
      if (intersectionOverUnion(top, p.box) > maxOverlap || &p == &rest.front()) {
        weight += p.score;
        sum.box.x0 += p.box.x0 * p.score;
        sum.box.y0 += p.box.y0 * p.score;
        sum.box.x1 += p.box.x1 * p.score;
        sum.box.y1 += p.box.y1 * p.score;
        for (int k = 0; k < 7; ++k) {
          sum.keypoints[k].x += p.keypoints[k].x * p.score;
          sum.keypoints[k].y += p.keypoints[k].y * p.score;
        }
      } else {
        left.push_back(p);
      }
    }
    sum.box = {sum.box.x0 / weight, sum.box.y0 / weight, sum.box.x1 / weight, sum.box.y1 / weight};
    for (auto& k : sum.keypoints) k = {k.x / weight, k.y / weight};
    merged.push_back(sum);
    rest = std::move(left);
  }
  return merged;
}

Palm palmInPicture(const Palm& palm, const Letterbox& box) {
  Palm p = palm;
  p.box = {box.toPictureX(palm.box.x0), box.toPictureY(palm.box.y0), box.toPictureX(palm.box.x1),
           box.toPictureY(palm.box.y1)};
  for (int k = 0; k < 7; ++k)
    p.keypoints[k] = {box.toPictureX(palm.keypoints[k].x), box.toPictureY(palm.keypoints[k].y)};
  return p;
}

HandCrop handCrop(const Palm& palm) {
  HandCrop c;
  const double dx = palm.keypoints[2].x - palm.keypoints[0].x;
  const double dy = palm.keypoints[2].y - palm.keypoints[0].y;
  const double len = std::hypot(dx, dy);
  if (len > 0) c.up = {dx / len, dy / len};
  const double w = palm.box.x1 - palm.box.x0, h = palm.box.y1 - palm.box.y0;
  const double cx = (palm.box.x0 + palm.box.x1) / 2, cy = (palm.box.y0 + palm.box.y1) / 2;
  c.centre = {cx + 0.5 * h * c.up.x, cy + 0.5 * h * c.up.y};
  c.side = 2.6 * std::max(w, h);
  return c;
}

// Crop axes in picture pixels: right = up turned a quarter clockwise on screen
// (y down), down = -up.
Point cropToPicture(const HandCrop& c, double x, double y, int cropSide) {
  const double u = (x / cropSide - 0.5) * c.side, v = (y / cropSide - 0.5) * c.side;
  const Point right{-c.up.y, c.up.x}, down{-c.up.x, -c.up.y};
  return {c.centre.x + u * right.x + v * down.x, c.centre.y + u * right.y + v * down.y};
}

std::array<double, 6> pictureToCrop(const HandCrop& c, int cropSide) {
  // Inverse of cropToPicture on pixel edges, then shifted to pixel centres:
  // crop = k * R^T (picture - centre) + side / 2, with R's columns right, down.
  const double k = cropSide / c.side;
  const Point right{-c.up.y, c.up.x}, down{-c.up.x, -c.up.y};
  const double half = cropSide / 2.0;
  // Picture centre px + 0.5 -> edge coordinates; crop edge - 0.5 -> centre.
  const double px = -c.centre.x + 0.5, py = -c.centre.y + 0.5;
  return {k * right.x, k * right.y, k * (right.x * px + right.y * py) + half - 0.5,
          k * down.x,  k * down.y,  k * (down.x * px + down.y * py) + half - 0.5};
}

std::vector<Joint> handJoints(const float* landmarks, const HandCrop& crop, int cropSide,
                              int width, int height, float presence) {
  std::vector<Joint> joints;
  joints.reserve(kHandJoints);
  for (int j = 0; j < kHandJoints; ++j) {
    const Point p = cropToPicture(crop, landmarks[3 * j], landmarks[3 * j + 1], cropSide);
    const bool inside = p.x >= 0 && p.x <= width && p.y >= 0 && p.y <= height;
    joints.push_back({{p.x / width, 1.0 - p.y / height}, inside ? presence : 0.0f});
  }
  return joints;
}

}  // namespace kestrel::vision::dnn
