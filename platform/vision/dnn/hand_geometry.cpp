#include "platform/vision/dnn/hand_geometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kestrel::vision::dnn {
std::vector<PixelPoint> palmAnchors() { return ssdAnchors(kPalmInput, {{8, 2}, {16, 6}}); }

std::vector<Palm> decodePalms(const float* regressors, const float* logits,
                              const std::vector<PixelPoint>& anchors, float minScore) {
  std::vector<Palm> palms;
  for (size_t i = 0; i < anchors.size(); ++i) {
    const float score = static_cast<float>(sigmoid(logits[i]));
    if (!(score >= minScore)) continue;
    const float* r = regressors + i * kPalmValues;
    const PixelPoint a = anchors[i];
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

std::array<double, 18> coordinatesOf(const Palm& p) {
  std::array<double, 18> c{p.box.x0, p.box.y0, p.box.x1, p.box.y1};
  for (int k = 0; k < 7; ++k) c[4 + 2 * k] = p.keypoints[k].x, c[5 + 2 * k] = p.keypoints[k].y;
  return c;
}

Palm withCoordinates(Palm p, const std::array<double, 18>& c) {
  p.box = {c[0], c[1], c[2], c[3]};
  for (int k = 0; k < 7; ++k) p.keypoints[k] = {c[4 + 2 * k], c[5 + 2 * k]};
  return p;
}

Palm palmInPicture(const Palm& palm, const Letterbox& box) {
  Palm p = palm;
  p.box = {box.toPictureX(palm.box.x0), box.toPictureY(palm.box.y0), box.toPictureX(palm.box.x1),
           box.toPictureY(palm.box.y1)};
  for (int k = 0; k < 7; ++k)
    p.keypoints[k] = {box.toPictureX(palm.keypoints[k].x), box.toPictureY(palm.keypoints[k].y)};
  return p;
}

RotatedCrop handCrop(const Palm& palm) {
  RotatedCrop c;
  const PixelPoint wrist = palm.keypoints[0], finger = palm.keypoints[2];
  const double dx = finger.x - wrist.x, dy = finger.y - wrist.y;
  const double len = std::hypot(dx, dy);
  PixelPoint up{0, -1};
  if (len > 0) {
    up = {dx / len, dy / len};
    c.angle = lineAngle(wrist, finger) + std::numbers::pi / 2;  // the crop's level is a quarter turn from up
  }
  const double w = palm.box.x1 - palm.box.x0, h = palm.box.y1 - palm.box.y0;
  const double cx = (palm.box.x0 + palm.box.x1) / 2, cy = (palm.box.y0 + palm.box.y1) / 2;
  c.centre = {cx + 0.5 * h * up.x, cy + 0.5 * h * up.y};
  c.side = 2.6 * std::max(w, h);
  return c;
}

std::array<PixelPoint, kHandJoints> jointPixels(const float* landmarks, const RotatedCrop& crop, int cropSide) {
  const CropTransform t = cropTransform(crop, cropSide);
  std::array<PixelPoint, kHandJoints> points;
  for (int j = 0; j < kHandJoints; ++j) points[j] = t.toPicture({landmarks[3 * j], landmarks[3 * j + 1]});
  return points;
}

RotatedCrop trackedCrop(const std::array<PixelPoint, kHandJoints>& joints) {
  // The fingertips and the joints below them move the most: left out.
  constexpr int kSteady[] = {0, 1, 2, 3, 5, 6, 9, 10, 13, 14, 17, 18};
  constexpr int kWrist = 0, kIndexBase = 5, kMiddleBase = 9, kRingBase = 13;
  const PixelPoint wrist = joints[kWrist];
  const PixelPoint knuckles{((joints[kIndexBase].x + joints[kRingBase].x) / 2 + joints[kMiddleBase].x) / 2,
                            ((joints[kIndexBase].y + joints[kRingBase].y) / 2 + joints[kMiddleBase].y) / 2};
  RotatedCrop c;
  PixelPoint up{0, -1};
  const double len = std::hypot(knuckles.x - wrist.x, knuckles.y - wrist.y);
  if (len > 0) {
    up = {(knuckles.x - wrist.x) / len, (knuckles.y - wrist.y) / len};
    c.angle = lineAngle(wrist, knuckles) + std::numbers::pi / 2;
  }
  const PixelPoint across{-up.y, up.x};
  double a0 = HUGE_VAL, a1 = -HUGE_VAL, u0 = HUGE_VAL, u1 = -HUGE_VAL;
  for (int j : kSteady) {
    const double a = joints[j].x * across.x + joints[j].y * across.y;
    const double u = joints[j].x * up.x + joints[j].y * up.y;
    a0 = std::min(a0, a), a1 = std::max(a1, a), u0 = std::min(u0, u), u1 = std::max(u1, u);
  }
  const double a = (a0 + a1) / 2, u = (u0 + u1) / 2 + 0.1 * (u1 - u0);
  c.centre = {a * across.x + u * up.x, a * across.y + u * up.y};
  c.side = 2 * std::max(a1 - a0, u1 - u0);
  return c;
}

std::vector<Joint> handJoints(const std::array<PixelPoint, kHandJoints>& points, int width, int height,
                              float presence) {
  std::vector<Joint> joints;
  joints.reserve(kHandJoints);
  for (const PixelPoint& p : points) {
    const bool inside = p.x >= 0 && p.x <= width && p.y >= 0 && p.y <= height;
    joints.push_back({{p.x / width, 1.0 - p.y / height}, inside ? presence : 0.0f});
  }
  return joints;
}

}  // namespace kestrel::vision::dnn
