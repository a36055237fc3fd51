#include "platform/vision/dnn/hand_geometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "platform/vision/dnn/service_coordinates.h"

namespace kestrel::vision::dnn {

std::vector<PixelPoint> palmAnchors() { return ssdAnchors(kPalmInput, {{8, 2}, {16, 6}}); }

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
  const double w = palm.width, h = palm.height;
  const double cx = palm.x + w / 2, cy = palm.y + h / 2;
  c.centre = {cx + 0.5 * h * up.x, cy + 0.5 * h * up.y};
  c.side = 2.6 * std::max(w, h);
  return c;
}

std::array<PixelPoint, kHandJoints> jointsInPicture(const float* landmarks, const RotatedCrop& crop, int cropSide) {
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
    joints.push_back({normalisedPoint(p, width, height), inside ? presence : 0.0f});
  }
  return joints;
}

}  // namespace kestrel::vision::dnn
