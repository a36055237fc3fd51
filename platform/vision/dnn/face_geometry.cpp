#include "platform/vision/dnn/face_geometry.h"

#include <algorithm>
#include <cmath>

namespace kestrel::vision::dnn {

std::optional<HeadAngles> headAngles(const std::vector<MeshPoint>& mesh) {
  if (mesh.size() < kMeshPoints) return std::nullopt;
  // Camera axes: x right, y up, z toward the viewer.
  auto vec = [&](int from, int to) {
    const MeshPoint& a = mesh[from];
    const MeshPoint& b = mesh[to];
    return std::array<double, 3>{b.x - a.x, -(b.y - a.y), -(b.z - a.z)};
  };
  const auto right = vec(kMeshRightEyeOuter, kMeshLeftEyeOuter);  // across the face
  const auto up = vec(kMeshChin, kMeshForehead);
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

RotatedCrop meshCrop(const std::vector<MeshPoint>& mesh) {
  constexpr double kCropScale = 1.5;
  const MeshPoint &a = mesh[kMeshRightEyeOuter], &b = mesh[kMeshLeftEyeOuter];
  RotatedCrop c;
  c.angle = lineAngle({a.x, a.y}, {b.x, b.y});
  const double cs = std::cos(c.angle), sn = std::sin(c.angle);
  double u0 = HUGE_VAL, u1 = -HUGE_VAL, v0 = HUGE_VAL, v1 = -HUGE_VAL;
  for (const MeshPoint& p : mesh) {
    const double u = p.x * cs + p.y * sn, v = -p.x * sn + p.y * cs;  // along the eyes, then down the face
    u0 = std::min(u0, u), u1 = std::max(u1, u), v0 = std::min(v0, v), v1 = std::max(v1, v);
  }
  const double u = (u0 + u1) / 2, v = (v0 + v1) / 2;
  c.centre = {u * cs - v * sn, u * sn + v * cs};
  c.side = kCropScale * std::max(u1 - u0, v1 - v0);
  return c;
}

namespace {

// Where a mesh is and how far it spreads: the mean of its points and their
// standard deviation across and down. Averages over all its points, so a
// frame's noise in single points moves them little.
struct MeshSpread {
  double x = 0, y = 0, across = 1, down = 1;
};

MeshSpread spreadOf(const std::vector<MeshPoint>& mesh) {
  double sx = 0, sy = 0, sxx = 0, syy = 0;
  for (const MeshPoint& p : mesh) sx += p.x, sy += p.y, sxx += p.x * p.x, syy += p.y * p.y;
  const double n = static_cast<double>(mesh.size());
  MeshSpread m{sx / n, sy / n, 0, 0};
  m.across = std::sqrt(std::max(sxx / n - m.x * m.x, 0.0));
  m.down = std::sqrt(std::max(syy / n - m.y * m.y, 0.0));
  if (!(m.across > 0 && m.down > 0)) m.across = m.down = 1;
  return m;
}

Corners sharesOf(const Corners& box, const MeshSpread& m) {
  return {(box.x0 - m.x) / m.across, (box.y0 - m.y) / m.down, (box.x1 - m.x) / m.across, (box.y1 - m.y) / m.down};
}

Corners placed(const Corners& shares, const MeshSpread& m) {
  return {m.x + shares.x0 * m.across, m.y + shares.y0 * m.down, m.x + shares.x1 * m.across, m.y + shares.y1 * m.down};
}

}  // namespace

FaceTrack startTrack(const Corners& box, float score, const std::vector<MeshPoint>& mesh) {
  return {meshCrop(mesh), sharesOf(box, spreadOf(mesh)), box, score};
}

FaceTrack followTrack(const FaceTrack& track, const std::vector<MeshPoint>& mesh) {
  return {meshCrop(mesh), track.anchor, placed(track.anchor, spreadOf(mesh)), track.score};
}

}  // namespace kestrel::vision::dnn
