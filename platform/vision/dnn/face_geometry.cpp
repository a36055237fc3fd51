#include "platform/vision/dnn/face_geometry.h"

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

}  // namespace kestrel::vision::dnn
