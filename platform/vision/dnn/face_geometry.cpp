#include "platform/vision/dnn/face_geometry.h"

#include <cmath>

namespace kestrel::vision::dnn {

PixelPoint CropTransform::toCrop(PixelPoint p) const {
  return {a * p.x + b * p.y + tx, c * p.x + d * p.y + ty};
}

PixelPoint CropTransform::toPicture(PixelPoint q) const {
  const double det = a * d - b * c;
  const double x = q.x - tx, y = q.y - ty;
  return {(d * x - b * y) / det, (-c * x + a * y) / det};
}

double CropTransform::pictureScale() const { return 1.0 / std::sqrt(std::abs(a * d - b * c)); }

CropTransform cropTransform(PixelPoint centre, double side, double angle, int size, bool mirror) {
  const double s = size / side;
  const double cs = std::cos(angle) * s, sn = std::sin(angle) * s;
  // Rotate by -angle about the centre, scale, then move the centre to the crop's middle.
  CropTransform t{cs, sn, -sn, cs, 0, 0};
  if (mirror) {
    t.a = -t.a;
    t.b = -t.b;
  }
  t.tx = size / 2.0 - (t.a * centre.x + t.b * centre.y);
  t.ty = size / 2.0 - (t.c * centre.x + t.d * centre.y);
  return t;
}

double lineAngle(PixelPoint from, PixelPoint to) { return std::atan2(to.y - from.y, to.x - from.x); }

std::optional<HeadAngles> headAngles(const std::vector<MeshPoint>& mesh) {
  if (mesh.size() < MESH_POINTS) return std::nullopt;
  // Camera axes: x right, y up, z toward the viewer.
  auto vec = [&](int from, int to) {
    const MeshPoint& a = mesh[from];
    const MeshPoint& b = mesh[to];
    return std::array<double, 3>{b.x - a.x, -(b.y - a.y), -(b.z - a.z)};
  };
  const auto right = vec(MESH_RIGHT_EYE_OUTER, MESH_LEFT_EYE_OUTER);  // across the face
  const auto up = vec(MESH_CHIN, MESH_FOREHEAD);
  const std::array<double, 3> forward{right[1] * up[2] - right[2] * up[1],
                                      right[2] * up[0] - right[0] * up[2],
                                      right[0] * up[1] - right[1] * up[0]};
  const double len = std::sqrt(forward[0] * forward[0] + forward[1] * forward[1] + forward[2] * forward[2]);
  if (!(len > 1e-9) || !(forward[2] > 0)) return std::nullopt;  // facing away: no estimate
  HeadAngles h;
  h.yaw = std::atan2(forward[0], forward[2]);
  h.pitch = std::atan2(forward[1], std::hypot(forward[0], forward[2]));
  return h;
}

Rect normalisedRect(double x, double y, double w, double h, int width, int height) {
  return {x / width, (height - (y + h)) / height, w / width, h / height};
}

Point normalisedInBox(PixelPoint p, double x, double y, double w, double h) {
  return {(p.x - x) / w, (y + h - p.y) / h};
}

}  // namespace kestrel::vision::dnn
